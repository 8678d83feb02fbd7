// Field arithmetic modulo 2^255 - 19 on ten 32-bit limbs. Carries are centred (limbs end in
// [-2^25, 2^25] or [-2^24, 2^24]), which keeps every product sum of mul and sq below 2^63.
#include "package/signature/field25519.h"

namespace field25519 {
namespace {

std::int64_t m(std::int32_t a, std::int32_t b) { return std::int64_t(a) * std::int64_t(b); }

std::int64_t load3(const std::uint8_t* in) {
    return std::int64_t(in[0]) | std::int64_t(in[1]) << 8 | std::int64_t(in[2]) << 16;
}

std::int64_t load4(const std::uint8_t* in) {
    return load3(in) | std::int64_t(in[3]) << 24;
}

// Moves the part of limb h[i] above `bits` bits into the next limb (the top limb wraps into
// limb 0 times 19, as 2^255 = 19 mod p), rounding so that the remainder is centred.
void carry(std::int64_t* h, int i, int bits) {
    const std::int64_t c = (h[i] + (std::int64_t(1) << (bits - 1))) >> bits;
    if (i == 9) {
        h[0] += c * 19;
    } else {
        h[i + 1] += c;
    }
    h[i] -= c * (std::int64_t(1) << bits);
}

Fe reduce(std::int64_t* h) {
    // The interleaved order bounds every limb before it is carried again.
    carry(h, 0, 26);
    carry(h, 4, 26);
    carry(h, 1, 25);
    carry(h, 5, 25);
    carry(h, 2, 26);
    carry(h, 6, 26);
    carry(h, 3, 25);
    carry(h, 7, 25);
    carry(h, 4, 26);
    carry(h, 8, 26);
    carry(h, 9, 25);
    carry(h, 0, 26);
    Fe out;
    for (int i = 0; i < 10; ++i) out.v[i] = static_cast<std::int32_t>(h[i]);
    return out;
}

// Limbs that each fit in about 32 bits plus a small factor: carrying the odd limbs first and
// then the even ones leaves every limb within its 25 or 26 bits.
Fe carry_odd_then_even(std::int64_t* h) {
    carry(h, 9, 25);
    carry(h, 1, 25);
    carry(h, 3, 25);
    carry(h, 5, 25);
    carry(h, 7, 25);
    carry(h, 0, 26);
    carry(h, 2, 26);
    carry(h, 4, 26);
    carry(h, 6, 26);
    carry(h, 8, 26);
    Fe out;
    for (int i = 0; i < 10; ++i) out.v[i] = static_cast<std::int32_t>(h[i]);
    return out;
}

Fe sq_times(Fe f, int times) {
    for (int i = 0; i < times; ++i) f = sq(f);
    return f;
}

}  // namespace

Fe zero() { return Fe{}; }

Fe one() { return from_u32(1); }

Fe from_u32(std::uint32_t n) {
    Fe out{};
    out.v[0] = static_cast<std::int32_t>(n & 0x3ffffff);
    out.v[1] = static_cast<std::int32_t>(n >> 26);
    return out;
}

Fe from_bytes(const std::uint8_t in[32]) {
    std::int64_t h[10];
    h[0] = load4(in) + 19 * std::int64_t(in[31] >> 7);
    h[1] = load3(in + 4) << 6;
    h[2] = load3(in + 7) << 5;
    h[3] = load3(in + 10) << 3;
    h[4] = load3(in + 13) << 2;
    h[5] = load4(in + 16);
    h[6] = load3(in + 20) << 7;
    h[7] = load3(in + 23) << 5;
    h[8] = load3(in + 26) << 4;
    h[9] = (load3(in + 29) & 0x7fffff) << 2;
    return carry_odd_then_even(h);
}

void to_bytes(std::uint8_t out[32], const Fe& f) {
    std::int32_t h[10];
    for (int i = 0; i < 10; ++i) h[i] = f.v[i];
    // q is 1 exactly when the value lies in [p, 2p) after a first pass: then subtract p by
    // adding 19 and dropping bit 255.
    std::int32_t q = (19 * h[9] + (std::int32_t(1) << 24)) >> 25;
    for (int i = 0; i < 10; ++i) q = (h[i] + q) >> (i % 2 == 0 ? 26 : 25);
    h[0] += 19 * q;
    for (int i = 0; i < 10; ++i) {
        const int bits = i % 2 == 0 ? 26 : 25;
        const std::int32_t c = h[i] >> bits;
        if (i < 9) h[i + 1] += c;
        h[i] -= c * (std::int32_t(1) << bits);
    }
    const std::uint32_t u[10] = {
        std::uint32_t(h[0]), std::uint32_t(h[1]), std::uint32_t(h[2]), std::uint32_t(h[3]),
        std::uint32_t(h[4]), std::uint32_t(h[5]), std::uint32_t(h[6]), std::uint32_t(h[7]),
        std::uint32_t(h[8]), std::uint32_t(h[9])};
    // Limb i starts at bit 0, 26, 51, 77, 102, 128, 153, 179, 204, 230.
    static const int kStart[10] = {0, 26, 51, 77, 102, 128, 153, 179, 204, 230};
    for (int b = 0; b < 32; ++b) out[b] = 0;
    for (int i = 0; i < 10; ++i) {
        const int bits = i % 2 == 0 ? 26 : 25;
        for (int k = 0; k < bits; ++k) {
            const int pos = kStart[i] + k;
            out[pos / 8] |= static_cast<std::uint8_t>(((u[i] >> k) & 1) << (pos % 8));
        }
    }
}

Fe add(const Fe& f, const Fe& g) {
    Fe out;
    for (int i = 0; i < 10; ++i) out.v[i] = f.v[i] + g.v[i];
    return out;
}

Fe sub(const Fe& f, const Fe& g) {
    Fe out;
    for (int i = 0; i < 10; ++i) out.v[i] = f.v[i] - g.v[i];
    return out;
}

Fe mul(const Fe& f, const Fe& g) {
    const std::int32_t f0 = f.v[0], f1 = f.v[1], f2 = f.v[2], f3 = f.v[3], f4 = f.v[4];
    const std::int32_t f5 = f.v[5], f6 = f.v[6], f7 = f.v[7], f8 = f.v[8], f9 = f.v[9];
    const std::int32_t g0 = g.v[0], g1 = g.v[1], g2 = g.v[2], g3 = g.v[3], g4 = g.v[4];
    const std::int32_t g5 = g.v[5], g6 = g.v[6], g7 = g.v[7], g8 = g.v[8], g9 = g.v[9];
    // f_i * g_j lands in limb i + j; two odd (25-bit) limbs meet one bit above that limb's start,
    // hence the factor 2; limbs past 9 wrap with the factor 19.
    std::int64_t h[10];
    h[0] = m(f0, g0) + m(f1, g9) * 38 + m(f2, g8) * 19 + m(f3, g7) * 38 + m(f4, g6) * 19 +
           m(f5, g5) * 38 + m(f6, g4) * 19 + m(f7, g3) * 38 + m(f8, g2) * 19 + m(f9, g1) * 38;
    h[1] = m(f0, g1) + m(f1, g0) + m(f2, g9) * 19 + m(f3, g8) * 19 + m(f4, g7) * 19 +
           m(f5, g6) * 19 + m(f6, g5) * 19 + m(f7, g4) * 19 + m(f8, g3) * 19 + m(f9, g2) * 19;
    h[2] = m(f0, g2) + m(f1, g1) * 2 + m(f2, g0) + m(f3, g9) * 38 + m(f4, g8) * 19 +
           m(f5, g7) * 38 + m(f6, g6) * 19 + m(f7, g5) * 38 + m(f8, g4) * 19 + m(f9, g3) * 38;
    h[3] = m(f0, g3) + m(f1, g2) + m(f2, g1) + m(f3, g0) + m(f4, g9) * 19 + m(f5, g8) * 19 +
           m(f6, g7) * 19 + m(f7, g6) * 19 + m(f8, g5) * 19 + m(f9, g4) * 19;
    h[4] = m(f0, g4) + m(f1, g3) * 2 + m(f2, g2) + m(f3, g1) * 2 + m(f4, g0) + m(f5, g9) * 38 +
           m(f6, g8) * 19 + m(f7, g7) * 38 + m(f8, g6) * 19 + m(f9, g5) * 38;
    h[5] = m(f0, g5) + m(f1, g4) + m(f2, g3) + m(f3, g2) + m(f4, g1) + m(f5, g0) +
           m(f6, g9) * 19 + m(f7, g8) * 19 + m(f8, g7) * 19 + m(f9, g6) * 19;
    h[6] = m(f0, g6) + m(f1, g5) * 2 + m(f2, g4) + m(f3, g3) * 2 + m(f4, g2) + m(f5, g1) * 2 +
           m(f6, g0) + m(f7, g9) * 38 + m(f8, g8) * 19 + m(f9, g7) * 38;
    h[7] = m(f0, g7) + m(f1, g6) + m(f2, g5) + m(f3, g4) + m(f4, g3) + m(f5, g2) + m(f6, g1) +
           m(f7, g0) + m(f8, g9) * 19 + m(f9, g8) * 19;
    h[8] = m(f0, g8) + m(f1, g7) * 2 + m(f2, g6) + m(f3, g5) * 2 + m(f4, g4) + m(f5, g3) * 2 +
           m(f6, g2) + m(f7, g1) * 2 + m(f8, g0) + m(f9, g9) * 38;
    h[9] = m(f0, g9) + m(f1, g8) + m(f2, g7) + m(f3, g6) + m(f4, g5) + m(f5, g4) + m(f6, g3) +
           m(f7, g2) + m(f8, g1) + m(f9, g0);
    return reduce(h);
}

Fe sq(const Fe& f) {
    const std::int32_t f0 = f.v[0], f1 = f.v[1], f2 = f.v[2], f3 = f.v[3], f4 = f.v[4];
    const std::int32_t f5 = f.v[5], f6 = f.v[6], f7 = f.v[7], f8 = f.v[8], f9 = f.v[9];
    std::int64_t h[10];
    h[0] = m(f0, f0) + m(f1, f9) * 76 + m(f2, f8) * 38 + m(f3, f7) * 76 + m(f4, f6) * 38 +
           m(f5, f5) * 38;
    h[1] = m(f0, f1) * 2 + m(f2, f9) * 38 + m(f3, f8) * 38 + m(f4, f7) * 38 + m(f5, f6) * 38;
    h[2] = m(f0, f2) * 2 + m(f1, f1) * 2 + m(f3, f9) * 76 + m(f4, f8) * 38 + m(f5, f7) * 76 +
           m(f6, f6) * 19;
    h[3] = m(f0, f3) * 2 + m(f1, f2) * 2 + m(f4, f9) * 38 + m(f5, f8) * 38 + m(f6, f7) * 38;
    h[4] = m(f0, f4) * 2 + m(f1, f3) * 4 + m(f2, f2) + m(f5, f9) * 76 + m(f6, f8) * 38 +
           m(f7, f7) * 38;
    h[5] = m(f0, f5) * 2 + m(f1, f4) * 2 + m(f2, f3) * 2 + m(f6, f9) * 38 + m(f7, f8) * 38;
    h[6] = m(f0, f6) * 2 + m(f1, f5) * 4 + m(f2, f4) * 2 + m(f3, f3) * 2 + m(f7, f9) * 76 +
           m(f8, f8) * 19;
    h[7] = m(f0, f7) * 2 + m(f1, f6) * 2 + m(f2, f5) * 2 + m(f3, f4) * 2 + m(f8, f9) * 38;
    h[8] = m(f0, f8) * 2 + m(f1, f7) * 4 + m(f2, f6) * 2 + m(f3, f5) * 4 + m(f4, f4) +
           m(f9, f9) * 38;
    h[9] = m(f0, f9) * 2 + m(f1, f8) * 2 + m(f2, f7) * 2 + m(f3, f6) * 2 + m(f4, f5) * 2;
    return reduce(h);
}

Fe mul_small(const Fe& f, std::int32_t n) {
    std::int64_t h[10];
    for (int i = 0; i < 10; ++i) h[i] = m(f.v[i], n);
    return carry_odd_then_even(h);
}

Fe carried(const Fe& f) { return mul_small(f, 1); }

// Shared head of both power chains: returns z^(2^250 - 1) and leaves z^11 in z11.
static Fe pow2_250_1(const Fe& z, Fe& z11) {
    const Fe z2 = sq(z);
    const Fe z9 = mul(sq_times(z2, 2), z);
    z11 = mul(z9, z2);
    const Fe z5_0 = mul(sq(z11), z9);                 // z^(2^5 - 1)
    const Fe z10_0 = mul(sq_times(z5_0, 5), z5_0);    // z^(2^10 - 1)
    const Fe z20_0 = mul(sq_times(z10_0, 10), z10_0);
    const Fe z40_0 = mul(sq_times(z20_0, 20), z20_0);
    const Fe z50_0 = mul(sq_times(z40_0, 10), z10_0);
    const Fe z100_0 = mul(sq_times(z50_0, 50), z50_0);
    const Fe z200_0 = mul(sq_times(z100_0, 100), z100_0);
    return mul(sq_times(z200_0, 50), z50_0);          // z^(2^250 - 1)
}

Fe invert(const Fe& f) {
    Fe z11;
    const Fe z250 = pow2_250_1(f, z11);
    return mul(sq_times(z250, 5), z11);  // 2^255 - 32 + 11 = p - 2
}

Fe pow22523(const Fe& f) {
    Fe z11;
    const Fe z250 = pow2_250_1(f, z11);
    return mul(sq_times(z250, 2), f);  // 2^252 - 4 + 1 = (p - 5) / 8
}

int parity(const Fe& f) {
    std::uint8_t bytes[32];
    to_bytes(bytes, f);
    return bytes[0] & 1;
}

Fe select(const Fe& f, const Fe& g, unsigned bit) {
    const std::int32_t mask = -static_cast<std::int32_t>(bit & 1);
    Fe out;
    for (int i = 0; i < 10; ++i) out.v[i] = f.v[i] ^ ((f.v[i] ^ g.v[i]) & mask);
    return out;
}

}  // namespace field25519
