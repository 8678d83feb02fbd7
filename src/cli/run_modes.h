#pragma once
// The run modes the entry dispatches to after the scan, chroot and working directory. Each
// returns the process's exit status. Commit and cancel live in cli/staged_modes.h.

#include "cli/options.h"

#include <string>

// Stream mode keeps its copy of standard input here until the commit moves it into place. The
// leading "." keeps it from being taken for a package directory: no package can have the name.
inline constexpr const char* kStreamCopyDir = "/flash/var/pdb";
inline constexpr const char* kStreamCopyPath = "/flash/var/pdb/.stream-image";
inline constexpr const char* kPackagesChangedPath = "/flash/PCKGS_CHANGED";

// Opens the Installer with quiet and the architecture: loads the package database. Called once
// before any of the modes below.
void open_run(const Settings& settings, const std::string& architecture);

// The listing; 0.
int run_show_mode(const Settings& settings);
// Drops the packages not made for a recent system, commits; 0, or 1 when a commit operation
// failed.
int run_cleanup_mode(const Settings& settings);
// Installs the package stream on standard input. The installation's status (0 on success);
// 1 when the copy that was to become an image could not be written or a commit operation
// failed; -1 when the copy file cannot be created. A failed installation changes nothing on
// flash but the post-install log.
int run_stream_mode(const Settings& settings);
// The default run. 0 when it installed or had nothing to do; 1 when an installation failed,
// no package was left, or "--safe" could not save the manifest (all cancelled), or a commit
// operation failed; 28 when the flash space check failed. "--safe" first cancels an earlier
// staged run.
int run_upgrade_mode(const Settings& settings);
