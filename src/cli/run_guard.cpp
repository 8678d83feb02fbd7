// The run lock, the recovery at the start of a run and the journaled commit at its end. The
// lock is taken before the database loads, so that no run plans from a database another run is
// rewriting.

#include "cli/run_guard.h"

#include "core/file_system.h"
#include "core/installer.h"
#include "txn/journal.h"
#include "txn/transaction.h"

#include <cerrno>
#include <chrono>
#include <set>
#include <thread>

namespace {

constexpr int kLockPollMs = 50;

}  // namespace

RunLock take_run_lock(FileSystem& fs, const std::string& path, int waitMs) {
    for (int waited = 0;; waited += kLockPollMs) {
        if (fs.try_lock(path) >= 0) return RunLock::Held;
        if (errno != EWOULDBLOCK) return RunLock::Unavailable;
        if (waited >= waitMs) return RunLock::Busy;
        std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
    }
}

bool journal_waits(FileSystem& fs) {
    FileStatus st;
    return fs.lstat(kJournalPath, st);
}

bool recover_interrupted_run(Installer& installer, FileSystem& fs,
                             const std::string& manifestPath) {
    bool ok = true;
    // The files a finished journal puts in place are package files, whatever their names.
    std::set<std::string> keep;
    if (journal_waits(fs)) {
        installer.info("finishing interrupted install...");
        Transaction journal(fs);
        (void)journal.load_manifest(kJournalPath);
        for (const auto& [path, entry] : journal.entries()) keep.insert(path);
        journal.cancel();  // a loaded journal owns no temporary file: this only forgets it
    }
    if (finish_journal(fs, kJournalPath, ok) == JournalFound::Refused)
        installer.error("could not load journal %s", kJournalPath);

    FileStatus marker;
    if (!fs.lstat(kStagingMarkerPath, marker)) return ok;
    // A staged run whose manifest survived (a kill, not a power loss) keeps its files.
    Transaction staged(fs);
    (void)staged.load_manifest(manifestPath);
    const bool manifest = !staged.is_empty();
    for (const auto& [path, entry] : staged.entries()) keep.insert(entry.source);
    staged.cancel();  // a loaded manifest owns no temporary file: this only forgets it
    (void)delete_leftovers(fs, "/flash", keep, marker.changedNs);
    if (!manifest) fs.remove_file(kStagingMarkerPath);
    return ok;
}

void end_run_staging(FileSystem& fs, const Settings& settings, const std::string& manifestPath) {
    // A manifest not yet committed or cancelled still has its files on flash.
    FileStatus st;
    if (settings.mode != RunMode::Commit && settings.mode != RunMode::Cancel &&
        fs.lstat(manifestPath, st) && !st.isDirectory)
        return;
    // Need not be durable: a marker that comes back after a cut costs the next run a search
    // that finds nothing.
    fs.remove_file(kStagingMarkerPath);
}

void warn_before_commit(Installer& installer, const Transaction& txn) {
    for (const auto& [path, entry] : txn.entries()) {
        if (stages_in_ram(txn.file_system(), entry)) {
            installer.warning("no room on flash for old and new files: a power cut during this "
                              "install can leave files missing");
            return;
        }
    }
}

bool commit_run(Installer& installer, Transaction& txn,
                const std::function<void()>& afterCopyBlock) {
    warn_before_commit(installer, txn);
    return commit_journaled(txn, kJournalPath, afterCopyBlock);
}
