#pragma once
// The journal of pending file operations of a run: an ordered map from destination path to one
// operation. Nothing on flash changes until commit; cancel deletes only the temporary files the
// journal owns.

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <string>

enum FileOpKind : std::uint32_t { Move = 0, MoveTemp = 1, Link = 3, Remove = 4 };

struct FileOp {
    std::string path;
    std::uint32_t op = Move;
    std::string source;  // Move/MoveTemp: file moved onto path; Link: the link text
};

class Transaction {
public:
    Transaction() = default;
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool is_empty() const { return ops_.empty(); }
    std::size_t size() const { return ops_.size(); }
    const std::map<std::string, FileOp>& entries() const { return ops_; }
    // The pending operation for a path, or null.
    const FileOp* pending(const std::string& path) const;

    // Inserts or replaces the entry for path; a replaced MoveTemp's temporary file is deleted.
    void add_op(const std::string& path, std::uint32_t op, const std::string& source);
    void add_move(const std::string& source, const std::string& path) { add_op(path, Move, source); }
    void add_link(const std::string& text, const std::string& path) { add_op(path, Link, text); }
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
    // Reads a manifest into this journal; false when it cannot be opened, is malformed or
    // ends in a line without a line feed (entries read before stay).
    [[nodiscard]] bool load_manifest(const std::string& manifestPath);

    // Removes and links first, then moves, each pass in path order. Never stops half-way.
    void commit(bool spinner);
    // Deletes the temporary file of every MoveTemp entry, then forgets all entries.
    void cancel();

private:
    std::map<std::string, FileOp> ops_;
};

// The parent directory: trailing "/" stripped, then dirname ("." for an empty path).
std::string parent_dir(const std::string& path);
void make_dirs(const std::string& dir);
bool copy_file(const std::string& source, const std::string& dest, bool spinner);
// copy_file with the per-block hook spelled out: `afterBlock` (may be empty) runs after every
// block written; copy_file passes the console spinner's step when asked to spin.
bool copy_file_with(const std::string& source, const std::string& dest,
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
