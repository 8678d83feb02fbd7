// Fuzz target: one package stream installed into a Transaction on a fresh Installer, over an
// installed state (a bundle and a single package), then cancelled. Before the first input the
// process confines itself: FUZZ_INSTALL_ROOT (made by scripts/fuzz; without it the target
// refuses to start) gets tmpfs at flash/, ram/, tmp/ and proc at proc/ in a private mount
// namespace, and the process chroots into it.
// Promises checked: every pending operation stays inside /flash (or the images directory) and
// names a path without ".." or line feed, temporary files lie in /flash, /ram or /tmp; after
// cancel, the scratch root holds exactly the files it held before.

#include "scratch.h"
#include "seed_packages.h"
#include "package/memory_source.h"
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
#include <string>

namespace {

RecordingTerminal gTerminal;  // emptied before each input
bool gConfined = false;
std::map<std::string, std::uintmax_t> gBaseline;  // path -> size below flash, ram and tmp

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
    // Corpus and artifact paths are relative to the working directory, which must therefore
    // lie inside the root and stay reachable after the chroot.
    char cwd[PATH_MAX];
    const std::string here = ::getcwd(cwd, sizeof cwd) ? cwd : "";
    if (here != root && !here.starts_with(root + "/"))
        refuse("run from a directory inside FUZZ_INSTALL_ROOT");
    const std::string hereInRoot = here == root ? "/" : here.substr(root.size());

    // Private propagation, or the tmpfs mounts below would show up in the host's namespace.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        refuse("cannot make a private mount namespace (run as root)");
    for (const char* dir : {"flash", "ram", "tmp", "proc"}) {
        const std::string target = root + "/" + dir;
        const bool proc = target.ends_with("/proc");  // LeakSanitizer reads /proc/<pid>/task
        ::mkdir(target.c_str(), 0755);
        if (::mount(proc ? "proc" : "tmpfs", target.c_str(), proc ? "proc" : "tmpfs",
                    proc ? MS_NOSUID | MS_NODEV | MS_NOEXEC : 0,
                    proc ? nullptr : "size=64m,mode=0755") != 0)
            refuse("cannot mount " + target);
    }
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
    MemorySource input(bytes);
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
            files[it->path().string()] = it->is_regular_file(sizeEc) ? it->file_size(sizeEc) : 0;
        }
    }
    return files;
}

void check_pending(const Transaction& txn) {
    for (const auto& [path, op] : txn.entries()) {
        const bool placed = path.starts_with("/flash/") || path.starts_with("/rw/pckg/.images/");
        if (!placed || has_parent_component(path) || path.find('\n') != std::string::npos) {
            std::fprintf(stderr, "fuzz_install: pending operation %u on \"%s\"\n", op.op,
                         path.c_str());
            fuzz_check(false, "a pending operation reaches outside the installed tree");
        }
        if (op.op == FileOpKind::MoveTemp)
            fuzz_check(op.source.starts_with("/flash/") || op.source.starts_with("/ram/") ||
                           op.source.starts_with("/tmp/"),
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
