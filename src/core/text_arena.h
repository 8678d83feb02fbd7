#pragma once
// Short texts kept back to back in large blocks, each ended by a NUL and named by a 32-bit
// number: lists of thousands of paths cost their bytes, not a heap string each. Texts are never
// freed one by one; clear() drops them all.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class TextArena {
public:
    // Stores `head` followed by `text` and a NUL; the number of the stored text.
    std::uint32_t store(std::string_view head, std::string_view text);
    const char* at(std::uint32_t number) const {
        return blocks_[number / kBlock].get() + number % kBlock;
    }
    void clear() {
        blocks_.clear();
        used_ = 0;
    }

private:
    // A text longer than a block gets a block of its own.
    static constexpr std::size_t kBlock = 16384;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;
};

// A directory number as a record's head: seven bits a byte, low first, the top bit set on all
// but the last byte. Writes at most five bytes to `head`; returns how many.
std::size_t encode_dir_number(std::uint32_t dir, char* head);
// Reads a head written by encode_dir_number and moves `at` past it.
std::uint32_t decode_dir_number(const char*& at);
