#pragma once
// The journal of pending file operations of a run: destination paths in path order, each with one
// operation. Nothing on flash changes until commit; cancel deletes only the temporary files the
// journal owns. A run may queue tens of thousands of files, so each entry is a few numbers: every
// path is split into an interned directory and a file name kept once in a text arena.

#include "core/file_system.h"
#include "core/output_file.h"
#include "core/text_arena.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

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
    // One entry read out of the journal: a copy of its path and of its operation.
    using Entry = std::pair<std::string, FileOp>;

    // Reads the entries out in path order; valid until the journal changes.
    class Iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = Entry;
        struct Arrow {
            Entry entry;
            const Entry* operator->() const { return &entry; }
        };

        Iterator(const Transaction* txn, std::size_t at) : txn_(txn), at_(at) {}
        Entry operator*() const { return txn_->entry_at(at_); }
        Arrow operator->() const { return Arrow{**this}; }
        Iterator& operator++() { return ++at_, *this; }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        const Transaction* txn_;
        std::size_t at_;
    };
    class Entries {
    public:
        explicit Entries(const Transaction* txn) : txn_(txn) {}
        Iterator begin() const { return Iterator(txn_, 0); }
        Iterator end() const { return Iterator(txn_, txn_->slots_.size()); }
        // The first entry whose path does not sort before `path`.
        Iterator lower_bound(std::string_view path) const {
            return Iterator(txn_, txn_->position(path));
        }

    private:
        const Transaction* txn_;
    };

    // Every file the journal touches (temporary files, the manifest, the commit) goes through
    // `fs`, which must outlive it.
    explicit Transaction(FileSystem& fs = real_file_system()) : fs_(&fs) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    FileSystem& file_system() const { return *fs_; }
    // Before the first temporary file, mark_staging makes `path` durably (see
    // kStagingMarkerPath), so that a cut that leaves temporary files unnamed by any journal
    // can be told by the next run. Empty (the default): no marker.
    void set_staging_marker(const std::string& path) { stagingMarker_ = path; }
    // False when the marker could not be made; then no temporary file may be made either.
    [[nodiscard]] bool mark_staging();
    bool is_empty() const { return slots_.empty(); }
    std::size_t size() const { return slots_.size(); }
    Entries entries() const { return Entries(this); }
    // The pending operation for a path, or null. The operation is a copy that stays valid until
    // the next call of pending.
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

    // False when an entry cannot be represented in a manifest (a space or line feed where the
    // line format has no room for it).
    [[nodiscard]] bool is_representable() const;
    // Hands the manifest's lines to `put` one at a time, one per entry in path order, each with
    // its line feed and valid during the call, so that no whole manifest is ever held in
    // memory. Stops at the first `put` that returns false, and returns false then. Call it
    // only when is_representable.
    [[nodiscard]] bool write_manifest(const std::function<bool(std::string_view)>& put) const;
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
    // One entry: its path and its source, each split after the last "/" into an interned
    // directory (an index into dirs_) and a name. The path is a record in the arena: the
    // directory's index (seven bits a byte, low first, the top bit set on all but the last),
    // the name and a NUL. The source's name is in the arena too (its number in the first four
    // bytes of `source`, kNoName: empty), unless it is a temporary file's "tmp" and six
    // letters, of which `source` keeps the six (tempName set).
    struct Slot {
        std::uint32_t path;
        std::uint32_t sourceDir;
        char source[6];
        std::uint8_t op;
        bool tempName;
    };
    static constexpr std::uint32_t kNoName = 0xFFFFFFFFu;

    // Sets `line` to the manifest line of `slot`, line feed included; false when it cannot be
    // represented. `entry` is scratch space, reused from line to line.
    bool manifest_line(const Slot& slot, FileOp& entry, std::string& line) const;
    // One manifest line without its line feed; false when it is empty or malformed.
    bool add_manifest_line(const std::string& line);
    Entry entry_at(std::size_t at) const;
    void read(const Slot& slot, FileOp& out) const;
    // Where path is, or would be inserted, in slots_.
    std::size_t position(std::string_view path) const;
    bool is_at(std::size_t at, std::string_view path) const;
    int compare(const Slot& slot, std::string_view path) const;
    const char* name_of(std::uint32_t name) const;
    // Stores a path as a record of the arena; its number.
    std::uint32_t store_path(std::string_view path);
    // The directory and the name of a slot's path.
    std::pair<std::string_view, const char*> path_parts(const Slot& slot) const;
    void store_source(Slot& slot, std::string_view source);
    void append_source(const Slot& slot, std::string& out) const;
    std::uint32_t intern_dir(std::string_view dir);
    std::uint32_t store_name(std::string_view head, std::string_view name);
    // Deletes the temporary file of a MoveTemp entry.
    void forget_temp(const Slot& slot) const;
    void clear();

    FileSystem* fs_;
    // The live entries by path. A deque: growing never copies it whole nor leaves a spare half
    // allocated, and files mostly come in path order, so inserts are mostly appends.
    std::deque<Slot> slots_;
    std::deque<std::string> dirs_;      // a deque: dirIds_ keys view these strings
    std::map<std::string_view, std::uint32_t> dirIds_;
    std::uint32_t lastDir_ = 0;
    TextArena arena_;  // paths (directory number, name) and the names of other sources
    mutable FileOp pending_;
    std::string stagingMarker_;
    bool stagingMarked_ = false;
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
// else on /ram), registers it as a MoveTemp and hands it back open for writing. When the file
// cannot be made, nothing is registered, the file comes back failed and errno tells why.
OutputFile create_file(Transaction& txn, const std::string& path, std::uint32_t sizeHint,
                       std::uint32_t mode);
// create_file with the fallback directories given: `ramDir` instead of "/ram", and `tmpDir`
// for empty files when `ramDir` is missing.
OutputFile create_file_in(Transaction& txn, const std::string& path, std::uint32_t sizeHint,
                          std::uint32_t mode, const std::string& ramDir,
                          const std::string& tmpDir);
// False when the pending moves would leave /flash/boot or /flash with 16 free blocks or fewer.
bool has_flash_space(const Transaction& txn);
// has_flash_space over the file systems holding `bootPath` and `flashPath`.
bool has_flash_space_of(const Transaction& txn, const std::string& bootPath,
                        const std::string& flashPath);
