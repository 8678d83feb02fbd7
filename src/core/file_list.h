#pragma once
// The installed paths of one package record: a sorted set of absolute paths held compactly, each
// directory once and each file name once in one text buffer, because a record of a large package
// lists thousands of files and a router has little memory.

#include "core/text_arena.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class FileList {
public:
    // Reads the paths out in sorted order, each as a new string.
    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = std::string;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string;

        iterator(const FileList* list, std::size_t at) : list_(list), at_(at) {}
        std::string operator*() const { return list_->path_at(at_); }
        iterator& operator++() { return ++at_, *this; }
        iterator operator++(int) { return iterator(list_, at_++); }
        bool operator==(const iterator& other) const { return at_ == other.at_; }

    private:
        const FileList* list_;
        std::size_t at_;
    };

    FileList() = default;
    FileList& operator=(std::initializer_list<std::string_view> paths) {
        clear();
        return insert(paths.begin(), paths.end()), *this;
    }

    // Adds `path` unless the list holds it already.
    void insert(std::string_view path);
    template <class It>
    void insert(It first, It last) {
        for (; first != last; ++first) insert(*first);
    }
    std::size_t count(std::string_view path) const;
    bool empty() const { return items_.empty(); }
    std::size_t size() const;
    void clear();

    iterator begin() const;
    iterator end() const { return iterator(this, items_.size()); }

private:
    // One path: the number of its record in the arena, which holds the index into dirs_ of the
    // directory part up to its last "/" (seven bits a byte, low first, the top bit set on all
    // but the last), then the rest of the path and a NUL.
    struct Item {
        std::uint32_t at;
    };

    std::string path_at(std::size_t at) const;
    int compare(const Item& item, std::string_view path) const;
    // Sorts the items added out of order and drops repeated paths.
    void settle() const;
    std::uint32_t dir_id(std::string_view dir);
    std::uint32_t store(std::uint32_t dir, std::string_view name);
    // The directory part and the name of an item.
    std::pair<std::string_view, const char*> parts(const Item& item) const;

    mutable std::deque<Item> items_;  // a deque: growing never copies it whole
    mutable bool sorted_ = true;
    std::vector<std::string> dirs_;
    std::vector<std::uint32_t> dirOrder_;  // dirs_ indexes in the directories' order
    std::uint32_t lastDir_ = 0;
    TextArena arena_;  // the names, each with its directory number in front
};
