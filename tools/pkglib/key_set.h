#pragma once
// The keys pkgtool signs with: a private key file and the public key file beside it (the H25
// constants and public keys live only there). Wraps the signer behind DigestSigner so that
// code building packages never includes the signer's header.

#include "pkglib/signing_kind.h"

#include <memory>
#include <string>

class KeySet {
public:
    ~KeySet();
    KeySet(const KeySet&) = delete;
    KeySet& operator=(const KeySet&) = delete;

    // Reads `privatePath` and "public.txt" in the same directory. Null with `err` set when a
    // file is unreadable or malformed, or the two do not belong together.
    static std::unique_ptr<KeySet> load(const std::string& privatePath, std::string& err);

    // The signature chunk payload for the kind; empty for None or when signing failed.
    std::string sign(const std::uint8_t digest[32], SignatureKind kind) const;
    // A signing callback that borrows this key set; it must not outlive it.
    DigestSigner signer() const;

private:
    struct Impl;
    explicit KeySet(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The public key file's path for a private key file: "public.txt" beside it.
std::string public_keys_beside(const std::string& privatePath);

// The private key file that keygen writes: not to be taken for the development keys.
inline constexpr const char* kNewPrivateKeyFile = "vendor-private.txt";

// Writes a new random key set into `dir` as "public.txt" and kNewPrivateKeyFile. `dir` is
// created when missing, its parent is not; refuses when either file exists. False with `err`
// set on failure.
[[nodiscard]] bool write_new_key_set(const std::string& dir, std::string& err);
