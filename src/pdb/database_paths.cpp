// Package names that are safe as directory names, and the "files" list mapping.

#include "pdb/database_paths.h"

namespace {

bool has_parent_component(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string installed_path(std::string_view storedLine) {
    // A NUL byte would end the name early in every system call: "bin/\0x" would be "bin/".
    if (storedLine.find('\0') != std::string_view::npos) return {};
    std::size_t first = storedLine.find_first_not_of('/');
    if (first == std::string_view::npos) return {};
    std::string_view relative = storedLine.substr(first);
    if (has_parent_component(relative)) return {};
    std::string path(kFlashRoot);
    path += '/';
    path += relative;
    return path;
}

std::string stored_entry(std::string_view installedPath) {
    if (installedPath.size() <= kFlashRoot.size() + 1) return {};
    if (installedPath.substr(0, kFlashRoot.size()) != kFlashRoot) return {};
    if (installedPath[kFlashRoot.size()] != '/') return {};
    std::string_view relative = installedPath.substr(kFlashRoot.size() + 1);
    std::size_t first = relative.find_first_not_of('/');
    if (first == std::string_view::npos) return {};
    return std::string(relative.substr(first));
}
