#pragma once
// Signing side of the package signature: Ed25519 from a seed and the legacy scheme from a scalar,
// key generation and the key file texts. The verifier's field code is not used here, so the two
// sides check each other.

#include "package/signature/key_file.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// u(x*B) of the legacy scheme with an even y, computed with affine curve arithmetic; `xEven` gets
// x or l - x (l the group order), whichever gives that even y. False when x = 0 (mod l).
[[nodiscard]] bool legacy_public_key(const std::uint8_t x[32], std::uint8_t u[32],
                                     std::uint8_t xEven[32]);
// A 68-byte legacy signature of the first 20 bytes of a digest, with a fresh random k.
// False only when the crypto library fails.
[[nodiscard]] bool legacy_sign(const std::uint8_t x[32], const H25Constants& constants,
                               const std::uint8_t digest20[20], std::uint8_t sig[68]);
// Ed25519 (RFC 8032) public key and signature from a 32-byte seed.
[[nodiscard]] bool eddsa_public_key(const std::uint8_t seed[32], std::uint8_t pub[32]);
[[nodiscard]] bool eddsa_sign(const std::uint8_t seed[32], const std::uint8_t* message,
                              std::size_t length, std::uint8_t sig[64]);

// H25 constants derived from a label: word i of the initial value is the first 4 bytes
// (big-endian) of SHA-256("<label> iv <i>"), round constant i those of SHA-256("<label> k <i>").
H25Constants derive_h25_constants(std::string_view label);
// New random EdDSA seed and legacy scalar (even-y form) with the H25 constants of `label`.
[[nodiscard]] bool generate_keys(std::string_view label, PrivateKeys& priv, PublicKeys& pub);
std::string format_public_keys(const PublicKeys& keys);
std::string format_private_keys(const PrivateKeys& keys);

// Signs package digests: signature chunk payloads of 68 bytes (legacy) or 132 (legacy + EdDSA).
// Callable, so it converts to the package writer's `Signer` callback.
class PackageSigner {
public:
    // Null with `err` set when the private keys do not match the public ones.
    static std::unique_ptr<PackageSigner> create(const PrivateKeys& priv, const PublicKeys& pub,
                                          bool withEddsa, std::string& err);
    // Reads both key files (public first) and creates the signer.
    static std::unique_ptr<PackageSigner> from_files(const std::string& publicPath,
                                              const std::string& privatePath, bool withEddsa,
                                              std::string& err);
    // The payload for a 32-byte digest buffer (legacy over its first 20 bytes, EdDSA over all
    // 32); empty when the crypto library fails. Fits the package writer's signing callback.
    std::string operator()(const std::uint8_t digest[32]) const { return sign(digest); }
    std::string sign(const std::uint8_t digest[32]) const;

private:
    PackageSigner(const PrivateKeys& priv, const PublicKeys& pub, bool withEddsa)
        : priv_(priv), pub_(pub), withEddsa_(withEddsa) {}
    PrivateKeys priv_;
    PublicKeys pub_;
    bool withEddsa_;
};
