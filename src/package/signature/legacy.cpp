// Legacy check: R = a*B + s*P is computed with a joint two-scalar differential chain over
// projective u-coordinates; the signature holds when H25(u(R)) starts with e. The chain does
// one doubling and two differential additions per bit, and picks points with masks, so its
// sequence of operations does not depend on the signature.
#include "package/signature/legacy.h"

#include "package/signature/field25519.h"

using field25519::Fe;
namespace fe = field25519;

namespace {

constexpr std::uint32_t kCurveA = 486662;
constexpr std::int32_t kA24 = 121665;  // (A - 2) / 4

// 2 * y_B mod p, y_B being the even square root of 9^3 + A*9^2 + 9 (the base point's y).
constexpr std::uint8_t kTwoBaseY[32] = {
    0x3b, 0x58, 0x62, 0x02, 0xbb, 0x74, 0x2c, 0xac, 0x9b, 0x3c, 0x07, 0x25, 0x03, 0x65, 0x85, 0xdb,
    0x66, 0x5d, 0x6e, 0x11, 0xa7, 0x45, 0xc2, 0x3f, 0x96, 0xf2, 0xbe, 0x8e, 0xbc, 0xcc, 0xa3, 0x3e};

struct Point {
    Fe x;
    Fe z;
};

Point pick(const Point q[3], unsigned index) {
    // index is 0, 1 or 2: bit 0 selects Q1, bit 1 selects Q2.
    const unsigned is1 = index & 1;
    const unsigned is2 = (index >> 1) & 1;
    Point r;
    r.x = fe::select(fe::select(q[0].x, q[1].x, is1), q[2].x, is2);
    r.z = fe::select(fe::select(q[0].z, q[1].z, is1), q[2].z, is2);
    return r;
}

Point double_point(const Point& p) {
    const Fe xx = fe::sq(fe::add(p.x, p.z));
    const Fe zz = fe::sq(fe::sub(p.x, p.z));
    const Fe e = fe::sub(xx, zz);
    return {fe::mul(xx, zz), fe::mul(e, fe::add(xx, fe::mul_small(e, kA24)))};
}

// p1 + p2 where p1 - p2 has the affine u-coordinate `diff`.
Point add_points(const Point& p1, const Point& p2, const Fe& diff) {
    const Fe m1 = fe::mul(fe::sub(p1.x, p1.z), fe::add(p2.x, p2.z));
    const Fe m2 = fe::mul(fe::add(p1.x, p1.z), fe::sub(p2.x, p2.z));
    return {fe::sq(fe::add(m1, m2)), fe::mul(diff, fe::sq(fe::sub(m1, m2)))};
}

unsigned bit_of(const std::uint8_t n[32], int j) {
    if (j < 0 || j > 255) return 0;
    return (n[j >> 3] >> (j & 7)) & 1;
}

// u(P + B) and u(P - B), with P's y taken as the even square root.
void sum_and_difference(const Fe& uP, Fe& uPlus, Fe& uMinus) {
    const Fe nine = fe::from_u32(9);
    const Fe w = fe::mul(uP, fe::add(fe::mul(uP, fe::add(uP, fe::from_u32(kCurveA))), fe::one()));
    // Square root for p = 5 (mod 8): t = (2w)^((p-5)/8), i = 2w*t^2, y = w*t*(i - 1).
    const Fe w2 = fe::mul_small(w, 2);
    const Fe t = fe::pow22523(w2);
    const Fe i = fe::mul(w2, fe::sq(t));
    const Fe y = fe::mul(fe::mul(w, t), fe::sub(i, fe::one()));
    const Fe yP = fe::select(y, fe::carried(fe::sub(fe::zero(), y)),
                             static_cast<unsigned>(fe::parity(y)));
    // With 2*y_B as the constant:
    // (y_P -/+ y_B)^2 / (u_P - 9)^2 = (2y_P -/+ 2y_B)^2 / (2(u_P - 9))^2.
    const Fe twoYB = fe::from_bytes(kTwoBaseY);
    const Fe twoYP = fe::mul_small(yP, 2);
    const Fe inv = fe::invert(fe::sq(fe::mul_small(fe::sub(uP, nine), 2)));
    const Fe rest = fe::carried(fe::add(uP, fe::from_u32(kCurveA + 9)));
    uPlus = fe::carried(fe::sub(fe::mul(fe::sq(fe::sub(twoYP, twoYB)), inv), rest));
    uMinus = fe::carried(fe::sub(fe::mul(fe::sq(fe::add(twoYP, twoYB)), inv), rest));
}

}  // namespace

void legacy_scalar(const std::uint8_t digest20[20], const std::uint8_t e[16],
                   const H25Constants& constants, std::uint8_t a[32]) {
    h25(constants, digest20, 20, a);
    for (int i = 0; i < 16; ++i) a[8 + i] ^= e[i];
    a[0] &= 0xf8;
    a[31] &= 0x7f;
    a[31] |= 0x40;
}

void legacy_combine(const std::uint8_t a[32], const std::uint8_t s[32], const LegacyKey& key,
                    std::uint8_t out[32]) {
    const Fe uP = fe::from_bytes(key.u);
    const Fe nine = fe::from_u32(9);
    Fe uPlus, uMinus;
    sum_and_difference(uP, uPlus, uMinus);

    // Chain bits: G = n XOR (n << 1) for both scalars, M = NOT(Gs XOR Ga),
    // C_j = Gs_j XOR (C_(j-1) AND M_j); bits 0 to 256.
    unsigned c[257];
    unsigned prev = 0;
    for (int j = 0; j <= 256; ++j) {
        const unsigned gs = bit_of(s, j) ^ bit_of(s, j - 1);
        const unsigned ga = bit_of(a, j) ^ bit_of(a, j - 1);
        prev = gs ^ (prev & (1 ^ gs ^ ga));
        c[j] = prev;
    }

    Point q[3];
    q[0] = {fe::one(), fe::zero()};
    q[1] = {fe::select(nine, uP, c[256]), fe::one()};
    q[2] = {uPlus, fe::one()};
    for (int j = 255; j >= 0; --j) {
        const unsigned sj = bit_of(s, j), sNext = bit_of(s, j + 1);
        const unsigned aj = bit_of(a, j), aNext = bit_of(a, j + 1);
        const unsigned d1 = (sj ^ sNext) + (aj ^ aNext);
        const unsigned d2 = 2 * (c[j] ^ c[j + 1]);
        const Fe diff1 = fe::select(nine, uP, c[j]);
        const Fe diff2 = fe::select(uMinus, uPlus, 1 ^ sNext ^ aNext);
        Point next[3];
        next[0] = double_point(pick(q, d1));
        next[1] = add_points(q[1], pick(q, d2), diff1);
        next[2] = add_points(q[2], q[0], diff2);
        q[0] = next[0];
        q[1] = next[1];
        q[2] = next[2];
    }
    const Point r = pick(q, bit_of(s, 0) + bit_of(a, 0));
    fe::to_bytes(out, fe::mul(r.x, fe::invert(r.z)));
}

bool legacy_check(const std::uint8_t sig[68], const std::uint8_t digest20[20],
                  const LegacyKey& key, const H25Constants& constants) {
    const std::uint8_t* e = sig + kLegacyCheckOffset;
    std::uint8_t a[32];
    legacy_scalar(digest20, e, constants, a);
    std::uint8_t uR[32];
    legacy_combine(a, sig + kLegacyScalarOffset, key, uR);
    std::uint8_t check[32];
    h25(constants, uR, 32, check);
    std::uint8_t diff = 0;
    for (int i = 0; i < 16; ++i) diff |= check[i] ^ e[i];
    return diff == 0;
}
