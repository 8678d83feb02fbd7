#pragma once
// The journal of pending file operations of a run: an ordered map from destination path to one
// operation. Nothing on flash changes until commit; cancel deletes only the temporary files the
// journal owns.

#include "core/file_system.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <string>

// The kind of a pending operation. The numbers are fixed (2 is unused).
enum class FileOpKind : std::uint32_t { Move = 0, MoveTemp = 1, Link = 3, Remove = 4 };

// How a manifest load ended. Missing: there is no manifest (nothing is staged).
enum class ManifestLoad { Loaded, Missing, Refused };

struct FileOp {
    std::string path;
    FileOpKind op = FileOpKind::Move;
    std::string source;  // Move/MoveTemp: file moved onto path; Link: the link text
};

class Transaction {
public:
    // Every file the journal touches (temporary files, the manifest, the commit) goes through
    // `fs`, which must outlive it.
    explicit Transaction(FileSystem& fs = real_file_system()) : fs_(&fs) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    FileSystem& file_system() const { return *fs_; }
    bool is_empty() const { return ops_.empty(); }
    std::size_t size() const { return ops_.size(); }
    const std::map<std::string, FileOp>& entries() const { return ops_; }
    // The pending operation for a path, or null.
    const FileOp* pending(const std::string& path) const;

    // Inserts or replaces the entry for path; a replaced MoveTemp's temporary file is deleted.
    void add_op(const std::string& path, FileOpKind op, const std::string& source);
    void add_move(const std::string& source, const std::string& path) {
        add_op(path, FileOpKind::Move, source);
    }
    void add_link(const std::string& text, const std::string& path) {
        add_op(path, FileOpKind::Link, text);
    }
    // Schedules the deletion of path when it exists; otherwise drops any pending entry for it.
    void add_remove(const std::string& path);
    // Withdraws a pending Remove of path; false when path has another pending operation or
    // exists as something other than a directory.
    bool take_back_remove(const std::string& path);
    // Drops every pending entry at or below directory `dir` (deleting the temporary files of
    // dropped MoveTemp entries).
    void drop_below(const std::string& dir);

    // Writes the manifest; false (and no file left) when an entry cannot be represented or
    // the write failed.
    [[nodiscard]] bool save_manifest(const std::string& manifestPath) const;
    // Reads a manifest into this journal. Refused when it cannot be read, holds an empty or
    // malformed line, or ends in a line without a line feed; `refusedLine` (when given) then
    // receives that line's number, counted from 1. Entries read before a refusal stay.
    [[nodiscard]] ManifestLoad load_manifest(const std::string& manifestPath,
                                             std::size_t* refusedLine = nullptr);

    // Removes and links first, then moves, each pass in path order. Never stops half-way: each
    // failed operation is reported on standard error with its path, and the result is false
    // when any failed. A move whose source is gone and whose destination exists was carried
    // out by an earlier commit of the same entries and counts as done. `afterCopyBlock` (may
    // be empty) runs after every block of a copy across file systems (the console spinner).
    bool commit(const std::function<void()>& afterCopyBlock = {});
    // Deletes the temporary file of every MoveTemp entry, then forgets all entries.
    void cancel();
    // Cancels a journal loaded from a manifest, whose moves are all plain: deletes the source
    // of every move that is_staged_temp recognises, then forgets all entries.
    void cancel_staged();

private:
    // One manifest line without its line feed; false when it is empty or malformed.
    bool add_manifest_line(const std::string& line);

    FileSystem* fs_;
    std::map<std::string, FileOp> ops_;
};

// The parent directory: trailing "/" stripped, then dirname ("." for an empty path).
std::string parent_dir(const std::string& path);
// Makes `dir` and its missing parents (mode 0777 less the umask); failures are not reported.
void make_dirs(FileSystem& fs, const std::string& dir);
// A move's source is a temporary file that create_file made for its destination: a regular
// file named "tmp" and six letters or digits, in "/ram", "/tmp" or a directory above the
// destination. Uploaded package files (named by their suffix) and anything else never match.
bool is_staged_temp(FileSystem& fs, const FileOp& entry);
// Replaces dest by a copy of source as a rename would: the old dest is never written into, so
// a running program keeps its file. With room for both beside dest the copy is written under a
// temporary name there and renamed over dest, so a failure leaves dest as it was; without that
// room dest is removed first. False (errno telling why) when source is not a regular file or
// the copy failed; then no partial copy is left. `afterBlock` (may be empty) runs after every
// block written.
bool copy_file(FileSystem& fs, const std::string& source, const std::string& dest,
               const std::function<void()>& afterBlock);

// Creates the temporary file for `path` (on the destination's file system when it has room,
// else on /ram) and registers it as a MoveTemp. When the file cannot be made, nothing is
// registered, the stream is in the failed state and errno tells why.
std::ofstream create_file(Transaction& txn, const std::string& path, std::uint32_t sizeHint,
                          std::uint32_t mode);
// create_file with the fallback directories given: `ramDir` instead of "/ram", and `tmpDir`
// for empty files when `ramDir` is missing.
std::ofstream create_file_in(Transaction& txn, const std::string& path, std::uint32_t sizeHint,
                             std::uint32_t mode, const std::string& ramDir,
                             const std::string& tmpDir);
// False when the pending moves would leave /flash/boot or /flash with 16 free blocks or fewer.
bool has_flash_space(const Transaction& txn);
// has_flash_space over the file systems holding `bootPath` and `flashPath`.
bool has_flash_space_of(const Transaction& txn, const std::string& bootPath,
                        const std::string& flashPath);
