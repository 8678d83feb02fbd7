// The journal's bookkeeping and its manifest file. A manifest is only ever written whole and
// only read back when every line of it arrived, so a staged run cannot be replayed half-parsed.

#include "txn/transaction.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>

namespace {

// The temporary file of a MoveTemp belongs to the journal: once its entry goes, nobody else
// would delete it, and a stray file in the package database directory loads as a package.
void forget_temp(FileSystem& fs, const FileOp& entry) {
    if (entry.op == FileOpKind::MoveTemp) fs.remove_file(entry.source);
}

bool path_exists(FileSystem& fs, const std::string& path) {
    FileStatus st;
    return fs.stat(path, st);
}

// A manifest line is "<letter> <path>[ <source>]" ended by a line feed, with no escaping: a path
// with a space or line feed, or a source with a line feed, would read back as other files.
bool representable(const FileOp& entry) {
    if (entry.path.find_first_of(" \n") != std::string::npos) return false;
    return entry.source.find('\n') == std::string::npos;
}

}  // namespace

const FileOp* Transaction::pending(const std::string& path) const {
    auto it = ops_.find(path);
    return it == ops_.end() ? nullptr : &it->second;
}

void Transaction::add_op(const std::string& path, FileOpKind op, const std::string& source) {
    auto it = ops_.find(path);
    if (it == ops_.end()) {
        ops_.emplace(path, FileOp{path, op, source});
        return;
    }
    forget_temp(*fs_, it->second);
    it->second.op = op;
    it->second.source = source;
}

void Transaction::add_remove(const std::string& path) {
    if (path_exists(*fs_, path)) {
        add_op(path, FileOpKind::Remove, "");
        return;
    }
    auto it = ops_.find(path);
    if (it == ops_.end()) return;
    forget_temp(*fs_, it->second);
    ops_.erase(it);
}

bool Transaction::take_back_remove(const std::string& path) {
    auto it = ops_.find(path);
    if (it != ops_.end()) {
        if (it->second.op != FileOpKind::Remove) return false;
        ops_.erase(it);
    }
    FileStatus st;
    if (!fs_->stat(path, st)) return true;
    return st.isDirectory;
}

void Transaction::drop_below(const std::string& dir) {
    std::string base = dir;
    while (!base.empty() && base.back() == '/') base.pop_back();
    const std::string prefix = base + "/";
    // Everything at or below `base` sorts from `base` on; the run ends at the first path that
    // is neither `base` itself nor starts with `base/` and sorts after `base/`.
    for (auto it = ops_.lower_bound(base); it != ops_.end();) {
        const std::string& path = it->first;
        bool below = path == base || path.compare(0, prefix.size(), prefix) == 0;
        if (!below) {
            if (path > prefix) break;
            ++it;
            continue;
        }
        forget_temp(*fs_, it->second);
        it = ops_.erase(it);
    }
}

bool Transaction::save_manifest(const std::string& manifestPath) const {
    for (const auto& [path, entry] : ops_)
        if (!representable(entry)) return false;

    std::ofstream out = fs_->open_output(manifestPath);
    if (!out) return false;
    for (const auto& [path, entry] : ops_) {
        switch (entry.op) {
        case FileOpKind::Remove: out << "U " << path << '\n'; break;
        case FileOpKind::Link: out << "L " << path << ' ' << entry.source << '\n'; break;
        default: out << "M " << path << ' ' << entry.source << '\n'; break;
        }
    }
    out.close();
    if (out.fail()) {
        // A half-written manifest would be committed by the next "--commit".
        fs_->remove_file(manifestPath);
        return false;
    }
    return true;
}

ManifestLoad Transaction::load_manifest(const std::string& manifestPath,
                                        std::size_t* refusedLine) {
    std::size_t lineNumber = 1;
    const auto refuse = [&] {
        if (refusedLine) *refusedLine = lineNumber;
        return ManifestLoad::Refused;
    };
    std::string text;
    const int fd = fs_->open_read(manifestPath);
    if (fd < 0) return errno == ENOENT ? ManifestLoad::Missing : refuse();
    // Read whole before any line is obeyed: a read error part-way must refuse the manifest,
    // not end it early as if complete.
    for (char buffer[4096];;) {
        const long got = fs_->read(fd, buffer, sizeof buffer);
        if (got < 0) {
            fs_->close(fd);
            lineNumber += std::size_t(std::count(text.begin(), text.end(), '\n'));
            return refuse();
        }
        if (got == 0) break;
        text.append(buffer, std::size_t(got));
    }
    fs_->close(fd);
    for (std::size_t start = 0; start < text.size(); ++lineNumber) {
        const std::size_t end = text.find('\n', start);
        // The last line has no line feed: the save was cut short and the line may be cut too
        // ("U /flash/" instead of "U /flash/var/pdb/x"), so it must not be obeyed.
        if (end == std::string::npos) return refuse();
        if (!add_manifest_line(text.substr(start, end - start))) return refuse();
        start = end + 1;
    }
    return ManifestLoad::Loaded;
}

bool Transaction::add_manifest_line(const std::string& line) {
    const std::size_t firstSpace = line.find(' ');
    if (firstSpace == std::string::npos) return false;
    const std::string kind = line.substr(0, firstSpace);
    const std::size_t secondSpace = line.find(' ', firstSpace + 1);
    const std::string path = line.substr(firstSpace + 1, secondSpace == std::string::npos
                                                             ? std::string::npos
                                                             : secondSpace - firstSpace - 1);
    if (path.empty()) return false;
    const bool hasSource = secondSpace != std::string::npos;
    if (kind == "U") {
        add_op(path, FileOpKind::Remove, "");
    } else if (kind == "L" || kind == "M") {
        if (!hasSource) return false;
        add_op(path, kind == "L" ? FileOpKind::Link : FileOpKind::Move,
               line.substr(secondSpace + 1));
    }
    // Another letter is skipped, not refused: manifests have always been read so.
    return true;
}

bool is_staged_temp(FileSystem& fs, const FileOp& entry) {
    if (entry.op != FileOpKind::Move && entry.op != FileOpKind::MoveTemp) return false;
    const std::string& source = entry.source;
    const std::size_t slash = source.rfind('/');
    const std::string name = source.substr(slash == std::string::npos ? 0 : slash + 1);
    // mkstemp's template "tmpXXXXXX" with its six letters or digits.
    if (name.size() != 9 || name.compare(0, 3, "tmp") != 0) return false;
    for (std::size_t i = 3; i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    const std::string dir = parent_dir(source);
    bool above = dir == "/ram" || dir == "/tmp";
    for (std::string d = parent_dir(entry.path); !above; d = parent_dir(d)) {
        above = d == dir;
        if (d == "/" || d == ".") break;
    }
    FileStatus st;
    return above && fs.lstat(source, st) && st.isRegular;
}
