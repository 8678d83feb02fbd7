// H25 compression and padding: SHA-256 with the state and round constants supplied by the
// caller, so that the same code checks against the standard constants in tests.
#include "package/signature/h25.h"

namespace {

std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void compress(std::uint32_t state[8], const std::uint32_t k[64], const std::uint8_t block[64]) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = std::uint32_t(block[4 * i]) << 24 | std::uint32_t(block[4 * i + 1]) << 16 |
               std::uint32_t(block[4 * i + 2]) << 8 | std::uint32_t(block[4 * i + 3]);
    }
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) +
                                 ((e & f) ^ (~e & g)) + k[i] + w[i];
        const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) +
                                 ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace

void h25(const H25Constants& constants, const std::uint8_t* data, std::size_t length,
         std::uint8_t out[32]) {
    std::uint32_t state[8];
    for (int i = 0; i < 8; ++i) state[i] = constants.iv[i];
    std::size_t done = 0;
    for (; length - done >= 64; done += 64) compress(state, constants.k, data + done);

    // Padding: 0x80, zeros, then the message length in bits as a 64-bit big-endian number;
    // it spills into a second block when fewer than 9 bytes are left in this one.
    std::uint8_t tail[128] = {};
    const std::size_t rest = length - done;
    for (std::size_t i = 0; i < rest; ++i) tail[i] = data[done + i];
    tail[rest] = 0x80;
    const std::size_t tailSize = rest + 9 <= 64 ? 64 : 128;
    const std::uint64_t bits = std::uint64_t(length) * 8;
    for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    compress(state, constants.k, tail);
    if (tailSize == 128) compress(state, constants.k, tail + 64);

    for (int i = 0; i < 8; ++i) {
        out[4 * i] = static_cast<std::uint8_t>(state[i] >> 24);
        out[4 * i + 1] = static_cast<std::uint8_t>(state[i] >> 16);
        out[4 * i + 2] = static_cast<std::uint8_t>(state[i] >> 8);
        out[4 * i + 3] = static_cast<std::uint8_t>(state[i]);
    }
}
