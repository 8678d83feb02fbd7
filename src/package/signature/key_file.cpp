// Key file parsing. The embedded text comes from a source generated at configure time from the
// file named by the INSTALLER_PUBLIC_KEYS build option.
#include "package/signature/key_file.h"

extern const char kEmbeddedPublicKeyText[];

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

bool parse_key_lines(std::string_view text, std::vector<KeyEntry>& entries) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return false;
        entries.push_back({std::string(trim(line.substr(0, colon))),
                           std::string(trim(line.substr(colon + 1)))});
    }
    return true;
}

const std::string* find_key(const std::vector<KeyEntry>& entries, std::string_view name) {
    for (const KeyEntry& entry : entries) {
        if (entry.name == name) return &entry.value;
    }
    return nullptr;
}

bool parse_hex(std::string_view text, std::uint8_t* out, std::size_t size) {
    if (text.size() != 2 * size) return false;
    for (std::size_t i = 0; i < size; ++i) {
        const int hi = hex_value(text[2 * i]);
        const int lo = hex_value(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return true;
}

bool parse_words(std::string_view text, std::uint32_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        text = trim(text);
        if (text.size() < 8 || (text.size() > 8 && text[8] != ' ' && text[8] != '\t')) {
            return false;
        }
        std::uint8_t bytes[4];
        if (!parse_hex(text.substr(0, 8), bytes, 4)) return false;
        out[i] = std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
                 std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
        text.remove_prefix(8);
    }
    return trim(text).empty();
}

bool parse_public_keys(std::string_view text, PublicKeys& keys) {
    std::vector<KeyEntry> entries;
    if (!parse_key_lines(text, entries)) return false;
    const std::string* eddsa = find_key(entries, "eddsa-public");
    const std::string* legacy = find_key(entries, "legacy-public");
    const std::string* iv = find_key(entries, "h25-iv");
    const std::string* k = find_key(entries, "h25-k");
    return eddsa != nullptr && legacy != nullptr && iv != nullptr && k != nullptr &&
           parse_hex(*eddsa, keys.eddsa, 32) && parse_hex(*legacy, keys.legacy.u, 32) &&
           parse_words(*iv, keys.h25.iv, 8) && parse_words(*k, keys.h25.k, 64);
}

bool parse_private_keys(std::string_view text, PrivateKeys& keys) {
    std::vector<KeyEntry> entries;
    if (!parse_key_lines(text, entries)) return false;
    const std::string* seed = find_key(entries, "eddsa-seed");
    const std::string* scalar = find_key(entries, "legacy-private");
    return seed != nullptr && scalar != nullptr && parse_hex(*seed, keys.eddsaSeed, 32) &&
           parse_hex(*scalar, keys.legacyScalar, 32);
}

const PublicKeys* embedded_public_keys() {
    static PublicKeys keys;
    static const bool ok = parse_public_keys(kEmbeddedPublicKeyText, keys);
    return ok ? &keys : nullptr;
}
