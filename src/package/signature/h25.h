#pragma once
// H25: the SHA-256 algorithm run from our own initial hash value and round constants. The legacy
// signature scheme hashes its 20- and 32-byte inputs with it.

#include <cstddef>
#include <cstdint>

struct H25Constants {
    std::uint32_t iv[8];
    std::uint32_t k[64];
};

// Writes the 32-byte H25 hash of `length` bytes (SHA-256 padding and big-endian output).
void h25(const H25Constants& constants, const std::uint8_t* data, std::size_t length,
         std::uint8_t out[32]);
