#pragma once
// A commit that survives a power cut. The new files' data is synced before a journal of the
// commit is written, so that once the journal is on flash every step it names can be carried
// out again; the journal goes only after the commit's result is synced. A cut before the journal
// is complete leaves the old files plus temporary files, which the next run deletes.

#include "txn/transaction.h"

#include <functional>
#include <set>
#include <string>

// The journal of the commit in progress, in the manifest's line format. The database loader
// skips names that begin with ".", so it is never taken for a package.
inline constexpr const char* kJournalPath = "/flash/var/pdb/.journal";
// Present while temporary files may lie on flash that neither a journal nor a staged manifest
// names: made, synced, before a run's first temporary file. Directly in /flash, which always
// exists, so that a run that ends up changing nothing leaves no new directory behind.
inline constexpr const char* kStagingMarkerPath = "/flash/.staging";

// Commits `txn` in the order that a power cut cannot turn into a half-done tree without a
// record: every file system holding a move's source synced; the journal written beside
// `journalPath`, synced, renamed into place and its directory synced; the two passes; the file
// systems synced again; the journal removed and its directory synced. When the journal cannot
// be written (reported on standard error as "journal <path>: <reason>") the commit still runs,
// unrecorded. The result is that of Transaction::commit.
bool commit_journaled(Transaction& txn, const std::string& journalPath,
                      const std::function<void()>& afterCopyBlock = {});

// A move of a file with content staged in /ram (or /tmp): a copy that a power cut can leave
// undone, whose source the cut then takes away.
bool stages_in_ram(FileSystem& fs, const FileOp& entry);

enum class JournalFound { None, Finished, Refused };
// Finishes the commit an interrupted run left in `journalPath`, with the commit's repeatable
// semantics (a move whose source is gone and whose destination exists was done), syncs it and
// removes the journal. A half-written journal beside it is deleted: its commit never began.
// Refused: the journal did not load (damaged flash); nothing of it is carried out and it is
// removed. `ok` is false when a step of the finished commit failed.
JournalFound finish_journal(FileSystem& fs, const std::string& journalPath, bool& ok);

// Makes `markerPath` durably (its directory made and synced) unless it exists; false when it
// cannot.
bool make_staging_marker(FileSystem& fs, const std::string& markerPath);
// Deletes every leftover temporary file below `dir`: regular files named "tmp" and six letters
// or digits, and ".<name>.tmpcopy" copies cut short, changed no earlier than `notBeforeNs` (the
// staging marker's ctime: a package file of an earlier run that happens to bear such a name is
// older), except those in `keep` (the sources of a staged manifest, the files a finished
// journal put in place). Returns how many were deleted.
std::size_t delete_leftovers(FileSystem& fs, const std::string& dir,
                             const std::set<std::string>& keep, std::int64_t notBeforeNs);
