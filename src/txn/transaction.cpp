// The journal's bookkeeping and its manifest file. A manifest is only ever written whole and
// only read back when every line of it arrived, so a staged run cannot be replayed half-parsed.

#include "txn/transaction.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cerrno>

namespace {


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

const char* Transaction::name_of(std::uint32_t name) const {
    if (name == kNoName) return "";
    return arena_.at(name);
}

std::uint32_t Transaction::store_name(std::string_view head, std::string_view name) {
    if (head.empty() && name.empty()) return kNoName;
    return arena_.store(head, name);
}

std::uint32_t Transaction::intern_dir(std::string_view dir) {
    // Entries come directory by directory: the last one matches almost always.
    if (lastDir_ < dirs_.size() && dirs_[lastDir_] == dir) return lastDir_;
    if (auto it = dirIds_.find(dir); it != dirIds_.end()) return lastDir_ = it->second;
    lastDir_ = std::uint32_t(dirs_.size());
    dirs_.emplace_back(dir);
    dirIds_.emplace(dirs_.back(), lastDir_);
    return lastDir_;
}

std::uint32_t Transaction::store_path(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t split = slash == std::string_view::npos ? 0 : slash + 1;
    char head[5];
    const std::size_t headSize = encode_dir_number(intern_dir(path.substr(0, split)), head);
    return store_name(std::string_view(head, headSize), path.substr(split));
}

std::pair<std::string_view, const char*> Transaction::path_parts(const Slot& slot) const {
    const char* at = arena_.at(slot.path);
    const std::uint32_t dir = decode_dir_number(at);
    return {dirs_[dir], at};
}

void Transaction::store_source(Slot& slot, std::string_view source) {
    const std::size_t slash = source.rfind('/');
    const std::size_t split = slash == std::string_view::npos ? 0 : slash + 1;
    slot.sourceDir = intern_dir(source.substr(0, split));
    const std::string_view name = source.substr(split);
    // Nearly every source is a temporary file: its name is kept in the entry itself.
    slot.tempName = name.size() == 9 && name.compare(0, 3, "tmp") == 0 &&
                    name.find('\0') == std::string_view::npos;
    if (slot.tempName) {
        std::memcpy(slot.source, name.data() + 3, 6);
        return;
    }
    const std::uint32_t number = store_name({}, name);
    std::memcpy(slot.source, &number, sizeof number);
}

void Transaction::append_source(const Slot& slot, std::string& out) const {
    out += dirs_[slot.sourceDir];
    if (slot.tempName) {
        out.append("tmp").append(slot.source, 6);
        return;
    }
    std::uint32_t number;
    std::memcpy(&number, slot.source, sizeof number);
    out += name_of(number);
}

int Transaction::compare(const Slot& slot, std::string_view path) const {
    const auto [dir, name] = path_parts(slot);
    // Compares as std::string compares the whole path: the directory with the path's start,
    // then the name with the rest.
    if (int c = dir.compare(path.substr(0, dir.size())); c != 0) return c;
    return std::string_view(name).compare(path.substr(dir.size()));
}

std::size_t Transaction::position(std::string_view path) const {
    // Files are mostly queued in path order: then the new path goes at the end.
    if (slots_.empty() || compare(slots_.back(), path) < 0) return slots_.size();
    auto it = std::lower_bound(slots_.begin(), slots_.end(), path,
                               [&](const Slot& slot, std::string_view p) {
                                   return compare(slot, p) < 0;
                               });
    return std::size_t(it - slots_.begin());
}

bool Transaction::is_at(std::size_t at, std::string_view path) const {
    return at < slots_.size() && compare(slots_[at], path) == 0;
}

void Transaction::read(const Slot& slot, FileOp& out) const {
    const auto [dir, name] = path_parts(slot);
    out.path.assign(dir).append(name);
    out.op = FileOpKind(slot.op);
    out.source.clear();
    append_source(slot, out.source);
}

Transaction::Entry Transaction::entry_at(std::size_t at) const {
    Entry entry;
    read(slots_[at], entry.second);
    entry.first = entry.second.path;
    return entry;
}

// The temporary file of a MoveTemp belongs to the journal: once its entry goes, nobody else
// would delete it, and a stray file in the package database directory loads as a package.
void Transaction::forget_temp(const Slot& slot) const {
    if (FileOpKind(slot.op) != FileOpKind::MoveTemp) return;
    std::string source;
    append_source(slot, source);
    fs_->remove_file(source);
}

void Transaction::clear() {
    slots_.clear();
    slots_.shrink_to_fit();
    dirIds_.clear();
    dirs_.clear();
    lastDir_ = 0;
    arena_.clear();
}

const FileOp* Transaction::pending(const std::string& path) const {
    const std::size_t at = position(path);
    if (!is_at(at, path)) return nullptr;
    read(slots_[at], pending_);
    return &pending_;
}

void Transaction::add_op(const std::string& path, FileOpKind op, const std::string& source) {
    const std::size_t at = position(path);
    if (is_at(at, path)) {
        Slot& slot = slots_[at];
        forget_temp(slot);
        slot.op = std::uint8_t(op);
        store_source(slot, source);
        return;
    }
    Slot slot{};
    slot.path = store_path(path);
    slot.op = std::uint8_t(op);
    store_source(slot, source);
    slots_.insert(slots_.begin() + std::ptrdiff_t(at), slot);
}

void Transaction::add_remove(const std::string& path) {
    if (path_exists(*fs_, path)) {
        add_op(path, FileOpKind::Remove, "");
        return;
    }
    const std::size_t at = position(path);
    if (!is_at(at, path)) return;
    forget_temp(slots_[at]);
    slots_.erase(slots_.begin() + std::ptrdiff_t(at));
}

bool Transaction::take_back_remove(const std::string& path) {
    const std::size_t at = position(path);
    if (is_at(at, path)) {
        if (FileOpKind(slots_[at].op) != FileOpKind::Remove) return false;
        slots_.erase(slots_.begin() + std::ptrdiff_t(at));
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
    // is neither `base` itself nor starts with `base/` and sorts after `base/`. Kept entries
    // move down over the dropped ones.
    std::size_t kept = position(base);
    std::size_t at = kept;
    std::string path;
    for (; at < slots_.size(); ++at) {
        const Slot& slot = slots_[at];
        const auto [dirPart, name] = path_parts(slot);
        path.assign(dirPart).append(name);
        const bool below = path == base || path.compare(0, prefix.size(), prefix) == 0;
        if (!below && path > prefix) break;
        if (below)
            forget_temp(slot);
        else
            slots_[kept++] = slot;
    }
    slots_.erase(slots_.begin() + std::ptrdiff_t(kept), slots_.begin() + std::ptrdiff_t(at));
}

bool Transaction::manifest_line(const Slot& slot, FileOp& entry, std::string& line) const {
    read(slot, entry);
    line.assign(entry.op == FileOpKind::Remove ? "U " : entry.op == FileOpKind::Link ? "L " : "M ");
    line += entry.path;
    if (entry.op != FileOpKind::Remove) line.append(" ").append(entry.source);
    line += '\n';
    return representable(entry);
}

bool Transaction::is_representable() const {
    FileOp entry;
    std::string line;
    for (const Slot& slot : slots_)
        if (!manifest_line(slot, entry, line)) return false;
    return true;
}

bool Transaction::write_manifest(const std::function<bool(std::string_view)>& put) const {
    FileOp entry;
    std::string line;
    for (const Slot& slot : slots_) {
        (void)manifest_line(slot, entry, line);
        if (!put(line)) return false;
    }
    return true;
}

bool Transaction::save_manifest(const std::string& manifestPath) const {
    if (!is_representable()) return false;
    OutputFile out = fs_->open_output(manifestPath);
    if (!out) return false;
    (void)write_manifest([&](std::string_view line) {
        out << line;
        return bool(out);
    });
    if (!out.close()) {
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
    // A NUL byte would cut a name short in every system call: such a line is no operation.
    if (line.find('\0') != std::string::npos) return false;
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
