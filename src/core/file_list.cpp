// Paths split at their last "/": a package's files share few directories, so a list costs about
// its file names and six bytes a file. Items are appended as they come and sorted on the first
// read that needs the order; unpacking adds them in path order, so that sort is rarely needed.

#include "core/file_list.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {


// Compares the text `a1 a2` with `b1 b2`, as std::string would compare the concatenations.
int compare_joined(std::string_view a1, std::string_view a2, std::string_view b1,
                   std::string_view b2) {
    for (;;) {
        if (a1.empty()) {
            if (a2.empty()) return b1.empty() && b2.empty() ? 0 : -1;
            a1 = std::exchange(a2, {});
            continue;
        }
        if (b1.empty()) {
            if (b2.empty()) return 1;
            b1 = std::exchange(b2, {});
            continue;
        }
        const std::size_t n = std::min(a1.size(), b1.size());
        if (int c = a1.substr(0, n).compare(b1.substr(0, n)); c != 0) return c;
        a1.remove_prefix(n);
        b1.remove_prefix(n);
    }
}

}  // namespace

void FileList::insert(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t split = slash == std::string_view::npos ? 0 : slash + 1;
    const std::uint32_t dir = dir_id(path.substr(0, split));
    if (sorted_ && !items_.empty()) {
        const int c = compare(items_.back(), path);
        if (c == 0) return;
        if (c > 0) {
            if (count(path) != 0) return;
            sorted_ = false;
        }
    }
    items_.push_back(Item{store(dir, path.substr(split))});
}

std::size_t FileList::count(std::string_view path) const {
    settle();
    auto it = std::lower_bound(items_.begin(), items_.end(), path,
                               [&](const Item& item, std::string_view p) { return compare(item, p) < 0; });
    return it != items_.end() && compare(*it, path) == 0 ? 1 : 0;
}

std::size_t FileList::size() const {
    settle();
    return items_.size();
}

void FileList::clear() {
    items_.clear();
    items_.shrink_to_fit();
    dirs_.clear();
    dirOrder_.clear();
    arena_.clear();
    sorted_ = true;
    lastDir_ = 0;
}

FileList::iterator FileList::begin() const {
    settle();
    return iterator(this, 0);
}

std::string FileList::path_at(std::size_t at) const {
    const auto [dir, name] = parts(items_[at]);
    std::string path(dir);
    path += name;
    return path;
}

int FileList::compare(const Item& item, std::string_view path) const {
    const auto [dir, name] = parts(item);
    return compare_joined(dir, name, path, {});
}

void FileList::settle() const {
    if (sorted_) return;
    const auto less = [&](const Item& a, const Item& b) {
        const auto [aDir, aName] = parts(a);
        const auto [bDir, bName] = parts(b);
        return compare_joined(aDir, aName, bDir, bName) < 0;
    };
    std::stable_sort(items_.begin(), items_.end(), less);
    items_.erase(std::unique(items_.begin(), items_.end(),
                             [&](const Item& a, const Item& b) { return !less(a, b); }),
                 items_.end());
    sorted_ = true;
}

std::uint32_t FileList::dir_id(std::string_view dir) {
    // Paths come directory by directory: the last one matches almost always.
    if (lastDir_ < dirs_.size() && dirs_[lastDir_] == dir) return lastDir_;
    auto at = std::lower_bound(dirOrder_.begin(), dirOrder_.end(), dir,
                               [&](std::uint32_t id, std::string_view d) { return dirs_[id] < d; });
    if (at != dirOrder_.end() && dirs_[*at] == dir) return lastDir_ = *at;
    lastDir_ = std::uint32_t(dirs_.size());
    dirs_.emplace_back(dir);
    dirOrder_.insert(at, lastDir_);
    return lastDir_;
}

std::uint32_t FileList::store(std::uint32_t dir, std::string_view name) {
    char head[5];
    return arena_.store(std::string_view(head, encode_dir_number(dir, head)), name);
}

std::pair<std::string_view, const char*> FileList::parts(const Item& item) const {
    const char* at = arena_.at(item.at);
    const std::uint32_t dir = decode_dir_number(at);
    return {dirs_[dir], at};
}
