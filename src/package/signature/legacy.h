#pragma once
// The legacy signature scheme: a Curve25519 check in Montgomery form (u-coordinates) combined
// with H25. Keys and hash constants are passed in, so tests and the signer can use their own.

#include "package/signature/h25.h"

#include <cstdint>

// The signer's point P: little-endian u-coordinate, all 256 bits taken; its y is the even root.
struct LegacyKey {
    std::uint8_t u[32];
};

// Signature layout (68 bytes): 0-19 unused, 20-35 the check value e,
// 36-67 the scalar s (LE).
constexpr int kLegacyCheckOffset = 20;
constexpr int kLegacyScalarOffset = 36;

// The scalar a for a digest and check value: H25 of the 20 digest bytes, e mixed into bytes
// 8-23, then clamped as a Curve25519 scalar. Written little-endian.
void legacy_scalar(const std::uint8_t digest20[20], const std::uint8_t e[16],
                   const H25Constants& constants, std::uint8_t a[32]);

// u(a*B + s*P) for the base point B (u = 9) and P of `key`, canonical little-endian; the point
// at infinity gives 0. Runs the same field operations whatever the scalars are.
void legacy_combine(const std::uint8_t a[32], const std::uint8_t s[32], const LegacyKey& key,
                    std::uint8_t out[32]);

// True when the 68-byte signature is valid for the first 20 bytes of the package digest.
bool legacy_check(const std::uint8_t sig[68], const std::uint8_t digest20[20],
                  const LegacyKey& key, const H25Constants& constants);
