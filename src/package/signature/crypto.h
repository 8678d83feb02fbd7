#pragma once
// The platform crypto layer: hashers behind one small interface and Ed25519 verification.
// Backed by OpenSSL libcrypto (crypto_openssl.cpp); nothing else includes OpenSSL headers.

#include <cstddef>
#include <cstdint>

namespace asn1 {
// A byte range [start, end).
struct blob {
    const std::uint8_t* start;
    const std::uint8_t* end;
};
}  // namespace asn1

class Hash {
public:
    virtual ~Hash() = default;
    virtual void add(const std::uint8_t* data, std::size_t length) = 0;
    // Writes the digest to `out` and starts afresh for further data.
    virtual void finish(std::uint8_t* out) = 0;
};

class SHA1 final : public Hash {
public:
    static constexpr std::size_t kDigestSize = 20;
    SHA1();
    ~SHA1() override;
    SHA1(const SHA1&) = delete;
    SHA1& operator=(const SHA1&) = delete;
    void add(const std::uint8_t* data, std::size_t length) override;
    void finish(std::uint8_t* out) override;

private:
    void* ctx_;
};

class SHA256 final : public Hash {
public:
    static constexpr std::size_t kDigestSize = 32;
    SHA256();
    ~SHA256() override;
    SHA256(const SHA256&) = delete;
    SHA256& operator=(const SHA256&) = delete;
    void add(const std::uint8_t* data, std::size_t length) override;
    void finish(std::uint8_t* out) override;

private:
    void* ctx_;
};

namespace eddsa {
// Ed25519 (RFC 8032) with a 32-byte key and a 64-byte signature; false for any other size.
bool verify(asn1::blob key, asn1::blob message, asn1::blob signature);
}  // namespace eddsa
