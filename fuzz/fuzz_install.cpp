// Fuzz target: one package stream installed over an installed bundle and package, then
// cancelled, chrooted into FUZZ_INSTALL_ROOT (tmpfs at flash/, ram/, tmp/; proc at proc/).
// Promises: pending operations stay inside /flash (or the images directory) on paths without
// ".." or line feed, temporary files lie in /flash, /ram or /tmp, and a cancel leaves the
// scratch root as it was.

#include "scratch.h"
#include "seed_packages.h"
#include "package/memory_source.h"
#include "support/mount_ns.h"
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
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

RecordingTerminal gTerminal;  // emptied before each input
std::map<std::string, std::uintmax_t> gBaseline;  // path -> size below flash, ram and tmp

[[noreturn]] void refuse(const std::string& why) {
    std::fprintf(stderr, "fuzz_install: %s\n", why.c_str());
    std::exit(1);
}

// ASan starts its symbolizer on first use; started before the chroot, it keeps the host's root,
// so reports made afterwards still carry function names and lines.
void start_symbolizer() {
    char buffer[256];
    __sanitizer_symbolize_pc(__builtin_return_address(0), "%p %F %L", buffer, sizeof buffer);
}

void confine() {
    static std::vector<std::unique_ptr<TmpfsMount>> mounts;  // kept for the whole run
    const char* rootEnv = std::getenv("FUZZ_INSTALL_ROOT");
    char resolved[PATH_MAX], cwd[PATH_MAX];
    if (rootEnv == nullptr || ::realpath(rootEnv, resolved) == nullptr || resolved == "/"s)
        refuse("set FUZZ_INSTALL_ROOT to a scratch directory (scripts/fuzz does)");
    const std::string root = resolved;
    // Corpus and artifact paths are relative to the working directory, inside the root.
    const std::string here = ::getcwd(cwd, sizeof cwd) ? cwd : "";
    if (here != root && !here.starts_with(root + "/"))
        refuse("run from a directory inside FUZZ_INSTALL_ROOT");
    for (const char* dir : {"/flash", "/ram", "/tmp"}) {
        mounts.push_back(std::make_unique<TmpfsMount>(root + dir, (64 << 20) / tmpfs_block_size()));
        if (!mounts.back()->ok()) refuse(mounts.back()->error());
    }
    const std::string proc = root + "/proc";  // LeakSanitizer reads /proc/<pid>/task
    ::mkdir(proc.c_str(), 0755);
    if (::mount("proc", proc.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        refuse("cannot mount " + proc + " (run as root)");
    start_symbolizer();
    const std::string hereInRoot = here == root ? "/" : here.substr(root.size());
    if (::chroot(root.c_str()) != 0 || ::chdir(hereInRoot.c_str()) != 0)
        refuse("cannot chroot into " + root);
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
    return install_stream(installer, txn, input, kAdmitUpgrade | kAdmitDowngrade, {}, nullptr,
                          &dir, &boot);
}

std::map<std::string, std::uintmax_t> snapshot() {
    std::map<std::string, std::uintmax_t> files;
    std::error_code ec, sizeEc;
    for (const char* top : {"/flash", "/ram", "/tmp"})
        for (auto it = std::filesystem::recursive_directory_iterator(top, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            files[it->path().string()] = it->is_regular_file(sizeEc) ? it->file_size(sizeEc) : 0;
    return files;
}

void check_pending(const Transaction& txn) {
    for (const auto& [path, op] : txn.entries()) {
        const bool placed = path.starts_with("/flash/") || path.starts_with("/rw/pckg/.images/");
        fuzz_check(placed && !has_parent_component(path) && path.find('\n') == std::string::npos,
                   "a pending operation reaches outside the installed tree");
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
    std::filesystem::create_directories("/flash/var/pdb");
    for (const auto& [name, bytes] : installed) {
        Transaction txn;
        if (install_bytes(bytes, txn) != 0) refuse("cannot install the starting state: " + name);
        txn.commit();
    }
    if (fresh_installer().packages.size() != 4) refuse("the starting state is not 4 packages");
    Installer::reset();
    gBaseline = snapshot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Transaction txn;
    (void)install_bytes(std::string(reinterpret_cast<const char*>(data), size), txn);
    check_pending(txn);
    txn.cancel();
    fuzz_check(txn.is_empty(), "cancel left entries in the journal");
    fuzz_check(snapshot() == gBaseline, "an installation that was cancelled changed the root");
    return 0;
}
