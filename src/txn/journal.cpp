// The power-cut order of a commit, the recovery from its journal, and the clean-up of temporary
// files that no record names. A journal is only ever renamed into place whole and synced, so a
// journal that exists names a commit whose new files are all on flash.

#include "txn/journal.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// One directory per file system that holds any of `dirs` (those that exist).
std::map<std::uint64_t, std::string> file_systems_of(FileSystem& fs,
                                                     const std::set<std::string>& dirs) {
    std::map<std::uint64_t, std::string> found;
    for (const std::string& dir : dirs) {
        FileStatus st;
        if (fs.stat(dir, st)) found.emplace(st.device, dir);
    }
    return found;
}

// syncfs of every file system holding one of `dirs`. A failure is reported: the order this
// file keeps is worth nothing when a sync did not happen.
void sync_all(FileSystem& fs, const std::set<std::string>& dirs) {
    for (const auto& [device, dir] : file_systems_of(fs, dirs))
        if (!fs.sync_file_system(dir))
            std::fprintf(stderr, "syncfs %s: %s\n", dir.c_str(), std::strerror(errno));
}

bool write_all(FileSystem& fs, int fd, std::string_view text) {
    for (std::size_t done = 0; done < text.size();) {
        const long put = fs.write(fd, text.data() + done, text.size() - done);
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        done += std::size_t(put);
    }
    return true;
}

// Written under a second name and renamed: a journal in place is always whole. The lines go
// out through a small buffer, so that a commit of many thousand files never holds its whole
// journal in memory.
bool write_journal(FileSystem& fs, const std::string& journalPath, const Transaction& txn) {
    constexpr std::size_t kBufferSize = 16384;
    const std::string dir = parent_dir(journalPath);
    const std::string next = journalPath + ".new";
    make_dirs(fs, dir);
    const int fd = fs.create(next, 0600);
    if (fd < 0) return false;
    std::string buffer;
    buffer.reserve(kBufferSize);
    const auto put = [&](std::string_view line) {
        if (buffer.size() + line.size() > kBufferSize) {
            if (!write_all(fs, fd, buffer)) return false;
            buffer.clear();
        }
        buffer += line;
        return true;
    };
    bool ok = txn.write_manifest(put) && write_all(fs, fd, buffer) && fs.sync(fd);
    int reason = errno;
    if (!fs.close(fd) && ok) {
        ok = false;
        reason = errno;
    }
    if (ok && fs.rename(next, journalPath) && fs.sync_dir(dir)) return true;
    if (ok) reason = errno;
    fs.remove_file(next);
    errno = reason;
    return false;
}

// Gone for good before anything else changes: a journal that came back after a cut would
// replay this commit over the next run's.
void remove_journal(FileSystem& fs, const std::string& journalPath) {
    fs.remove_file(journalPath);
    fs.sync_dir(parent_dir(journalPath));
}

bool is_temp_name(const std::string& name) {
    if (name.size() != 9 || name.compare(0, 3, "tmp") != 0) return false;
    for (std::size_t i = 3; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

bool is_cut_copy(const std::string& name) {
    const std::string suffix = ".tmpcopy";
    return name.size() > suffix.size() + 1 && name[0] == '.' &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool from_ram(const std::string& source) {
    return source.starts_with("/ram/") || source.starts_with("/tmp/");
}

// An empty file is staged in /ram (it needs no room), and a power cut would lose it with /ram
// while the journal still names it. Made again on its destination's file system, it survives
// the cut like every other staged file.
void restage_empty_files(Transaction& txn) {
    FileSystem& fs = txn.file_system();
    std::vector<std::pair<std::string, std::uint32_t>> empty;
    for (const auto& [path, entry] : txn.entries()) {
        FileStatus st;
        if ((entry.op == FileOpKind::Move || entry.op == FileOpKind::MoveTemp) &&
            from_ram(entry.source) && fs.stat(entry.source, st) && st.isRegular && st.size == 0)
            empty.emplace_back(path, st.mode & 07777);
    }
    for (const auto& [path, mode] : empty) {
        auto out = create_file(txn, path, 1, mode);
        (void)out.close();
    }
}

}  // namespace

bool stages_in_ram(FileSystem& fs, const FileOp& entry) {
    FileStatus st;
    return (entry.op == FileOpKind::Move || entry.op == FileOpKind::MoveTemp) &&
           from_ram(entry.source) && fs.stat(entry.source, st) && st.size > 0;
}

bool commit_journaled(Transaction& txn, const std::string& journalPath,
                      const std::function<void()>& afterCopyBlock) {
    if (txn.is_empty()) return true;
    FileSystem& fs = txn.file_system();
    restage_empty_files(txn);
    std::set<std::string> dirs{parent_dir(journalPath)};
    const bool representable = txn.is_representable();
    for (const auto& [path, entry] : txn.entries())
        if (entry.op == FileOpKind::Move || entry.op == FileOpKind::MoveTemp)
            dirs.insert(parent_dir(entry.source));
    // The new files' data first: a journal naming a file whose blocks a cut then loses would
    // move an empty file into place.
    sync_all(fs, dirs);
    bool journaled = representable && write_journal(fs, journalPath, txn);
    if (!journaled)
        std::fprintf(stderr, "journal %s: %s\n", journalPath.c_str(),
                     representable ? std::strerror(errno) : "unrepresentable path");
    const bool ok = txn.commit(afterCopyBlock);
    for (const auto& [path, entry] : txn.entries()) dirs.insert(parent_dir(path));
    sync_all(fs, dirs);
    if (journaled) remove_journal(fs, journalPath);
    return ok;
}

JournalFound finish_journal(FileSystem& fs, const std::string& journalPath, bool& ok) {
    ok = true;
    fs.remove_file(journalPath + ".new");
    Transaction txn(fs);
    const ManifestLoad load = txn.load_manifest(journalPath);
    if (load == ManifestLoad::Missing) return JournalFound::None;
    if (load == ManifestLoad::Refused) {
        txn.cancel();
        remove_journal(fs, journalPath);
        return JournalFound::Refused;
    }
    ok = txn.commit();
    std::set<std::string> dirs{parent_dir(journalPath)};
    for (const auto& [path, entry] : txn.entries()) dirs.insert(parent_dir(path));
    sync_all(fs, dirs);
    remove_journal(fs, journalPath);
    txn.cancel();  // a loaded journal owns no temporary file: this only forgets the entries
    return JournalFound::Finished;
}

bool make_staging_marker(FileSystem& fs, const std::string& markerPath) {
    // One left by an earlier run stays as it is: its age bounds every temporary file since.
    FileStatus st;
    if (fs.lstat(markerPath, st)) return true;
    const std::string dir = parent_dir(markerPath);
    make_dirs(fs, dir);
    const int fd = fs.create(markerPath, 0600);
    if (fd < 0) return false;
    return fs.close(fd) && fs.sync_dir(dir);
}

std::size_t delete_leftovers(FileSystem& fs, const std::string& dir,
                             const std::set<std::string>& keep, std::int64_t notBeforeNs) {
    std::vector<std::string> names;
    if (!fs.list_dir(dir, names)) return 0;
    std::size_t deleted = 0;
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        FileStatus st;
        if (!fs.lstat(path, st)) continue;
        if (st.isDirectory) deleted += delete_leftovers(fs, path, keep, notBeforeNs);
        else if (st.isRegular && (is_temp_name(name) || is_cut_copy(name)) &&
                 st.changedNs >= notBeforeNs && !keep.count(path))
            deleted += fs.remove_file(path);
    }
    return deleted;
}

bool Transaction::mark_staging() {
    if (stagingMarker_.empty() || stagingMarked_) return true;
    stagingMarked_ = make_staging_marker(*fs_, stagingMarker_);
    return stagingMarked_;
}
