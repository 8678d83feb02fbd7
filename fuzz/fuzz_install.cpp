// Fuzz target: one package stream installed into a Transaction, in-process, on a fresh
// Installer each time, over an installed state (a bundle and a single package), then cancelled.
//
// The installer works with the device's absolute paths, so before the first input the process
// confines itself: FUZZ_INSTALL_ROOT (a scratch directory made by scripts/fuzz) gets tmpfs
// mounts at flash/, ram/ and tmp/ (and proc at proc/) in a private mount namespace, and the
// process chroots into it.
// Without that variable the target refuses to start: it never touches the host's /flash or /ram.
// Promises checked: every pending operation stays inside /flash (or the images directory) and
// names a path without ".." or line feed, temporary files lie in /flash, /ram or /tmp; after
// cancel, the scratch root holds exactly the files it held before.

#include "scratch.h"
#include "seed_packages.h"
#include "support/recipes.h"
#include "support/scenario.h"

#include "cli/options.h"
#include "cli/stream_install.h"
#include "core/installer.h"
#include "flash/flash_device.h"
#include "pdb/database_loader.h"
#include "plan/actions.h"
#include "txn/transaction.h"

#include <sanitizer/common_interface_defs.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

namespace {

RecordingTerminal gTerminal;  // emptied before each input
bool gConfined = false;
// Path -> size of every file, link and directory below the scratch root's flash, ram and tmp.
std::map<std::string, std::uintmax_t> gBaseline;

[[noreturn]] void refuse(const std::string& why) {
    std::fprintf(stderr, "fuzz_install: %s\n", why.c_str());
    std::exit(1);
}

// ASan starts its symbolizer on first use; started now, it keeps the host's root, so reports
// made after the chroot still carry function names and lines.
void start_symbolizer() {
    char buffer[256];
    __sanitizer_symbolize_pc(__builtin_return_address(0), "%p %F %L", buffer, sizeof buffer);
}

void confine() {
    const char* rootEnv = std::getenv("FUZZ_INSTALL_ROOT");
    if (rootEnv == nullptr || *rootEnv == '\0')
        refuse("set FUZZ_INSTALL_ROOT to a scratch directory (scripts/fuzz does)");
    char resolved[PATH_MAX];
    if (::realpath(rootEnv, resolved) == nullptr) refuse(std::string("no such root: ") + rootEnv);
    const std::string root = resolved;
    if (root == "/") refuse("FUZZ_INSTALL_ROOT must not be /");
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) refuse("getcwd failed");
    const std::string here = cwd;
    // Corpus and artifact paths are relative to the working directory, which must therefore
    // lie inside the root and stay reachable after the chroot.
    const bool inside = here == root || here.compare(0, root.size() + 1, root + "/") == 0;
    if (!inside) refuse("run from a directory inside FUZZ_INSTALL_ROOT");
    const std::string hereInRoot = here == root ? "/" : here.substr(root.size());

    // Private propagation, or the tmpfs mounts below would show up in the host's namespace.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        refuse("cannot make a private mount namespace (run as root)");
    for (const char* dir : {"flash", "ram", "tmp"}) {
        const std::string target = root + "/" + dir;
        ::mkdir(target.c_str(), 0755);
        if (::mount("tmpfs", target.c_str(), "tmpfs", 0, "size=64m,mode=0755") != 0)
            refuse("cannot mount tmpfs on " + target);
    }
    // LeakSanitizer reads /proc/<pid>/task at exit.
    const std::string proc = root + "/proc";
    ::mkdir(proc.c_str(), 0555);
    if (::mount("proc", proc.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        refuse("cannot mount proc on " + proc);
    start_symbolizer();
    if (::chroot(root.c_str()) != 0 || ::chdir(hereInRoot.c_str()) != 0)
        refuse("cannot chroot into " + root);
    gConfined = true;
}

Installer& fresh_installer() {
    Installer& installer = Installer::reset();
    gTerminal.output.clear();
    installer.terminal = &gTerminal;
    installer.flash = &real_flash_device();
    open_database(installer, true, "i386");
    return installer;
}

int install_bytes(const std::string& bytes, Transaction& txn) {
    Installer& installer = fresh_installer();
    (void)apply_actions(installer, txn, Verbosity::Changes);
    std::istringstream input(bytes);
    std::string dir;
    bool boot = false;
    return install_stream(installer, txn, input, kAdmitUpgrade | kAdmitDowngrade, UserForcedMap(),
                          nullptr, &dir, &boot);
}

std::map<std::string, std::uintmax_t> snapshot() {
    std::map<std::string, std::uintmax_t> files;
    for (const char* top : {"/flash", "/ram", "/tmp"}) {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(top, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code sizeEc;
            std::uintmax_t size = it->is_regular_file(sizeEc) ? it->file_size(sizeEc) : 0;
            files[it->path().string()] = size;
        }
    }
    return files;
}

bool starts_with(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool has_parent_component(const std::string& path) {
    return path.find("/../") != std::string::npos ||
           (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0);
}

void check_pending(const Transaction& txn) {
    for (const auto& [path, op] : txn.entries()) {
        const bool placed = starts_with(path, "/flash/") || starts_with(path, "/rw/pckg/.images/");
        if (!placed || has_parent_component(path) || path.find('\n') != std::string::npos) {
            std::fprintf(stderr, "fuzz_install: pending operation %u on \"%s\"\n", op.op,
                         path.c_str());
            fuzz_check(false, "a pending operation reaches outside the installed tree");
        }
        if (op.op == FileOpKind::MoveTemp)
            fuzz_check(starts_with(op.source, "/flash/") || starts_with(op.source, "/ram/") ||
                           starts_with(op.source, "/tmp/"),
                       "a temporary file lies outside /flash, /ram and /tmp");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The seeds are signed before the chroot, while the key files are reachable.
    std::string err;
    const std::unique_ptr<KeySet> keys = load_dev_keys(INSTALLER_KEYS_DIR, err);
    if (!keys) refuse(err);
    const std::map<std::string, std::string> installed = installed_packages(keys->signer());
    confine();
    ::mkdir("/flash/var", 0755);
    ::mkdir("/flash/var/pdb", 0755);
    for (const auto& [name, bytes] : installed) {
        Transaction txn;
        if (install_bytes(bytes, txn) != 0) {
            txn.cancel();
            refuse("cannot install the starting state: " + name);
        }
        txn.commit();
    }
    const std::size_t count = fresh_installer().packages.size();
    if (count != 4) refuse("the starting state has " + std::to_string(count) + " packages, not 4");
    Installer::reset();
    gBaseline = snapshot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_check(gConfined, "not confined to the scratch root");
    Transaction txn;
    (void)install_bytes(std::string(reinterpret_cast<const char*>(data), size), txn);
    check_pending(txn);
    txn.cancel();
    fuzz_check(txn.is_empty(), "cancel left entries in the journal");
    if (snapshot() != gBaseline) {
        for (const auto& [path, fileSize] : snapshot())
            if (!gBaseline.count(path))
                std::fprintf(stderr, "fuzz_install: left %s\n", path.c_str());
        fuzz_check(false, "an installation that was cancelled changed the scratch root");
    }
    return 0;
}
