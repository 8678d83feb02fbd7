#pragma once
// Key files: lines "name: value", blank lines and "#" comments skipped. The public key file is
// built into the installer; pkgtool reads it and the private key file with the same parser.

#include "package/signature/h25.h"
#include "package/signature/legacy.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct KeyEntry {
    std::string name;
    std::string value;
};

// Splits the text into entries (name before the first ":", both trimmed); false, with the
// entries so far kept, on a line that has no name before a ":".
[[nodiscard]] bool parse_key_lines(std::string_view text, std::vector<KeyEntry>& entries);
// The value of the first entry with that name, or null.
const std::string* find_key(const std::vector<KeyEntry>& entries, std::string_view name);
// Exactly 2 * size hex digits (either case) into `out`.
[[nodiscard]] bool parse_hex(std::string_view text, std::uint8_t* out, std::size_t size);
// Exactly `count` space-separated words of 8 hex digits, each read as a big-endian number.
[[nodiscard]] bool parse_words(std::string_view text, std::uint32_t* out, std::size_t count);

// eddsa-public, legacy-public (LE u-coordinate), h25-iv (8 words), h25-k (64 words).
struct PublicKeys {
    std::uint8_t eddsa[32];
    LegacyKey legacy;
    H25Constants h25;
};

// eddsa-seed (the Ed25519 private seed), legacy-private (LE scalar x with P = x*B).
struct PrivateKeys {
    std::uint8_t eddsaSeed[32];
    std::uint8_t legacyScalar[32];
};

// False when an entry is missing or malformed; `keys` may then be partly filled.
[[nodiscard]] bool parse_public_keys(std::string_view text, PublicKeys& keys);
[[nodiscard]] bool parse_private_keys(std::string_view text, PrivateKeys& keys);

// The public key file embedded at build time, parsed on first use; null when it is malformed
// (then no signature verifies).
const PublicKeys* embedded_public_keys();
