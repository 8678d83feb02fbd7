#pragma once
// What keeps runs from spoiling each other and a power cut from spoiling flash: the run lock,
// the recovery every run starts with, and the commit every mode ends with.

#include "cli/options.h"

#include <functional>
#include <string>

class FileSystem;
class Installer;
class Transaction;

// The lock of the runs that change flash. /ram is emptied by a restart, so a run cut by a power
// loss never leaves it held.
inline constexpr const char* kRunLockPath = "/ram/installer.lock";
inline constexpr int kRunLockWaitMs = 5000;

enum class RunLock { Held, Busy, Unavailable };
// Takes the run lock, trying for up to `waitMs`; the lock is kept until the process ends.
// Busy: another run holds it. Unavailable: the lock file cannot be made (no /ram).
RunLock take_run_lock(FileSystem& fs, const std::string& path, int waitMs);

// Finishes a commit that an interrupted run left in the journal ("finishing interrupted
// install...") and deletes the temporary files that an interrupted run left unnamed, keeping
// those a staged manifest at `manifestPath` names. False when a step of the finished commit
// failed (reported on standard error).
bool recover_interrupted_run(Installer& installer, FileSystem& fs,
                             const std::string& manifestPath);
// The staging marker goes at the end of a run that leaves no staged temporary files behind.
void end_run_staging(FileSystem& fs, const Settings& settings, const std::string& manifestPath);
// True when an interrupted commit waits in the journal (for "--show", which takes no lock).
bool journal_waits(FileSystem& fs);

// A warning when some file of `txn` comes from /ram: its move is a copy that a power cut can
// leave undone, and the copy's source is then lost with /ram.
void warn_before_commit(Installer& installer, const Transaction& txn);
// warn_before_commit, then the journaled commit (txn/journal.h); its result.
bool commit_run(Installer& installer, Transaction& txn,
                const std::function<void()>& afterCopyBlock = {});
