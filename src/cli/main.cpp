// The installer's entry: scans the command line, changes root and working directory, and runs
// exactly one mode, whose result is the exit status.

#include "cli/options.h"
#include "cli/run_modes.h"
#include "cli/staged_modes.h"
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

    if (settings.mode == RunMode::Commit) return run_commit_mode(kManifestPath, stdout, stderr);
    if (settings.mode == RunMode::Cancel) return run_cancel_mode(kManifestPath);

    const char* fromEnv = std::getenv("arch");
    std::string architecture = fromEnv ? fromEnv : "i386";
    Installer::instance().bootImage = std::getenv("bootimage") != nullptr;
    open_run(settings, architecture);
    switch (settings.mode) {
    case RunMode::Show: return run_show_mode(settings);
    case RunMode::Cleanup: return run_cleanup_mode(settings);
    case RunMode::Stream: return run_stream_mode(settings);
    default: return run_upgrade_mode(settings);
    }
}
