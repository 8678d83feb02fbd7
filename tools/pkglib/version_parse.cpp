// Parser of the dotted version text: the inverse of version_text for every form it prints.
#include "pkglib/version_parse.h"

#include <charconv>
#include <cstdint>

namespace {

// Reads a decimal number of at most three digits, 0..255, from the front of `rest`.
bool take_byte(std::string_view& rest, std::uint8_t& out) {
    std::size_t n = 0;
    while (n < rest.size() && n < 4 && rest[n] >= '0' && rest[n] <= '9') ++n;
    if (n == 0 || n > 3) return false;
    unsigned value = 0;
    std::from_chars(rest.data(), rest.data() + n, value);
    if (value > 255) return false;
    out = std::uint8_t(value);
    rest.remove_prefix(n);
    return true;
}

struct KindSuffix {
    std::string_view text;
    char kind;
};
constexpr KindSuffix kSuffixes[] = {{"alpha", 'a'}, {"beta", 'b'}, {"rc", 'c'}};

Version pack(std::uint8_t major, std::uint8_t minor, char kind, std::uint8_t revision) {
    return Version(major) << 24 | Version(minor) << 16 | Version(std::uint8_t(kind)) << 8 |
           revision;
}

}  // namespace

bool parse_version_text(std::string_view text, Version& out) {
    if (text == "0") {
        out = 0;
        return true;
    }
    std::string_view rest = text;
    std::uint8_t major = 0, minor = 0, revision = 0;
    if (!take_byte(rest, major) || rest.empty() || rest.front() != '.') return false;
    rest.remove_prefix(1);
    if (!take_byte(rest, minor)) return false;
    char kind = 'f';
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        if (!take_byte(rest, revision)) return false;
    } else if (!rest.empty()) {
        bool known = false;
        for (const KindSuffix& s : kSuffixes) {
            if (rest.substr(0, s.text.size()) == s.text) {
                kind = s.kind;
                rest.remove_prefix(s.text.size());
                known = true;
                break;
            }
        }
        if (!known) return false;
        if (!rest.empty() && !take_byte(rest, revision)) return false;
    }
    if (!rest.empty()) return false;
    out = pack(major, minor, kind, revision);
    return true;
}
