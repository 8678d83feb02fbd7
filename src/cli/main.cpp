// The installer's entry: scans the command line, changes root and working directory, and runs
// exactly one mode, whose result is the exit status.

#include "cli/options.h"
#include "cli/run_guard.h"
#include "cli/run_modes.h"
#include "cli/staged_modes.h"
#include "core/file_system.h"
#include "core/installer.h"
#include "flash/flash_device.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    Installer::instance().flash = &real_flash_device();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    Settings settings = scan_options(args, stdout);
    if (settings.mode == RunMode::Usage) {
        std::printf("%s\n", kUsageText);
        return 0;
    }

    // A root given before "--commit" or "--cancel" counts for them too: the manifest and the
    // paths in it are those below the root. Going on in the old root would install into,
    // cancel or list the caller's own system.
    if (!settings.root.empty() && ::chroot(settings.root.c_str()) != 0) {
        std::fprintf(stderr, "chroot: %s: %s\n", settings.root.c_str(), std::strerror(errno));
        return 1;
    }
    // Relative paths (a manifest may hold some) resolve from the root, never from the caller's
    // directory outside it.
    if (::chdir("/") != 0) std::perror("chdir");

    FileSystem& fs = real_file_system();
    Installer& installer = Installer::instance();
    installer.quiet = settings.quiet;
    bool recovered = true;
    if (settings.mode != RunMode::Show) {
        // Before anything is read: a second run would plan from a database the first is
        // rewriting, and their commits would interleave.
        if (take_run_lock(fs, kRunLockPath, kRunLockWaitMs) == RunLock::Busy) {
            installer.error("another installer run is in progress");
            return 1;
        }
        recovered = recover_interrupted_run(installer, fs, kManifestPath);
    } else if (journal_waits(fs) && take_run_lock(fs, kRunLockPath, 0) != RunLock::Busy) {
        // The listing waits for no one, but lists no half-committed database either: an
        // interrupted commit is finished when no other run is busy with it.
        (void)recover_interrupted_run(installer, fs, kManifestPath);
    }

    int status = 0;
    if (settings.mode == RunMode::Commit) {
        status = run_commit_mode(kManifestPath, stdout, stderr);
    } else if (settings.mode == RunMode::Cancel) {
        status = run_cancel_mode(kManifestPath);
    } else {
        const char* fromEnv = std::getenv("arch");
        std::string architecture = fromEnv ? fromEnv : "i386";
        installer.bootImage = std::getenv("bootimage") != nullptr;
        open_run(settings, architecture);
        switch (settings.mode) {
        case RunMode::Show: return run_show_mode(settings);
        case RunMode::Cleanup: status = run_cleanup_mode(settings); break;
        case RunMode::Stream: status = run_stream_mode(settings); break;
        default: status = run_upgrade_mode(settings); break;
        }
    }
    end_run_staging(fs, settings, kManifestPath);
    return status == 0 && !recovered ? 1 : status;
}
