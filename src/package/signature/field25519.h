#pragma once
// Arithmetic modulo p = 2^255 - 19 in ten signed 32-bit limbs of alternately 26 and 25 bits
// (radix 2^25.5) with 64-bit products. Every operation runs the same instructions for every value.

#include <cstdint>

namespace field25519 {

// Limb i holds bits from ceil(25.5 * i); values need not be canonical. Outputs of mul, sq,
// mul_small and from_bytes are carried; add/sub outputs may feed one mul/sq but not another add.
struct Fe {
    std::int32_t v[10];
};

Fe zero();
Fe one();
Fe from_u32(std::uint32_t n);
// Reads 32 little-endian bytes as an integer modulo p; all 256 bits count (2^255 adds 19).
Fe from_bytes(const std::uint8_t in[32]);
// Writes the canonical value in [0, p) as 32 little-endian bytes.
void to_bytes(std::uint8_t out[32], const Fe& f);

Fe add(const Fe& f, const Fe& g);
Fe sub(const Fe& f, const Fe& g);
Fe mul(const Fe& f, const Fe& g);
Fe sq(const Fe& f);
// The same value with carried limbs, fit for any operation.
Fe carried(const Fe& f);
// Multiplies by a small constant n < 2^17.
Fe mul_small(const Fe& f, std::int32_t n);
// f^(p-2): the inverse, with the inverse of 0 being 0.
Fe invert(const Fe& f);
// f^((p-5)/8), the power used by the square root for p = 5 (mod 8).
Fe pow22523(const Fe& f);

// Lowest bit of the canonical value.
int parity(const Fe& f);
// f when bit is 0, g when bit is 1, without a branch on bit.
Fe select(const Fe& f, const Fe& g, unsigned bit);

}  // namespace field25519
