// The blocks are not value-initialised: pages of a block that no text reached cost no memory.

#include "core/text_arena.h"

#include <algorithm>
#include <cstring>

std::uint32_t TextArena::store(std::string_view head, std::string_view text) {
    const std::size_t need = head.size() + text.size() + 1;
    if (blocks_.empty() || used_ + need > kBlock) {
        blocks_.emplace_back(new char[std::max(need, kBlock)]);
        used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    // An empty view may hold no pointer at all, which memcpy must not be given.
    if (!head.empty()) std::memcpy(at, head.data(), head.size());
    if (!text.empty()) std::memcpy(at + head.size(), text.data(), text.size());
    at[head.size() + text.size()] = '\0';
    const auto number = std::uint32_t((blocks_.size() - 1) * kBlock + used_);
    // A text of a block of its own fills it: the next text starts a new block.
    used_ = need > kBlock ? kBlock : used_ + need;
    return number;
}

std::size_t encode_dir_number(std::uint32_t dir, char* head) {
    std::size_t size = 0;
    for (; dir >= 0x80; dir >>= 7) head[size++] = char(0x80 | (dir & 0x7f));
    head[size++] = char(dir);
    return size;
}

std::uint32_t decode_dir_number(const char*& at) {
    std::uint32_t dir = 0;
    for (unsigned shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        dir |= std::uint32_t(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) return dir;
    }
}
