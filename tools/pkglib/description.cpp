// Parser of package descriptions. One keyword per line; every
// fault names its line, and singular keywords may appear once, so that a mistyped or repeated
// line never silently changes the package that is built.
#include "pkglib/description.h"

#include "core/package.h"
#include "pkglib/version_parse.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

bool read_whole_file(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buf;
    buf << in.rdbuf();
    out = buf.str();
    return !in.bad();
}

namespace {

constexpr std::size_t kMaxName = 16;
constexpr std::uint32_t kMaxImageSize = 64u << 20;  // a typo must not fill the disk

std::string join_path(const std::string& base, const std::string& path) {
    if (path.empty() || path.front() == '/' || base.empty()) return path;
    return base + "/" + path;
}

// Splits off the next space-separated word; `rest` keeps what follows the separating spaces.
std::string_view next_word(std::string_view& rest) {
    std::size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    std::size_t end = rest.find_first_of(" \t");
    std::string_view word = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
    std::size_t after = rest.find_first_not_of(" \t");
    rest = after == std::string_view::npos ? std::string_view{} : rest.substr(after);
    return word;
}

// Text values keep inner spaces; \n, \t, \\ and \xNN give bytes that a line cannot hold.
bool unescape(std::string_view in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size()) return false;
        switch (in[i]) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            unsigned v = 0;
            if (in.size() - i < 3) return false;
            auto r = std::from_chars(in.data() + i + 1, in.data() + i + 3, v, 16);
            if (r.ec != std::errc() || r.ptr != in.data() + i + 3) return false;
            out += char(v);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

template <typename T>
bool parse_number(std::string_view word, T& out) {
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        word.remove_prefix(2);
        base = 16;
    }
    if (word.empty()) return false;
    auto r = std::from_chars(word.data(), word.data() + word.size(), out, base);
    return r.ec == std::errc() && r.ptr == word.data() + word.size();
}

bool parse_text(std::string_view text, const std::string& baseDir, bool asMember,
                PackageDescription& out, std::string& err);
bool load_file(const std::string& path, bool asMember, PackageDescription& out, std::string& err);

bool has_control_character(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

class Parser {
public:
    // A member may not be a bundle itself; refusing its `bundle` line at once also ends a
    // bundle that names itself as a member before it recurses.
    Parser(const std::string& baseDir, bool asMember, PackageDescription& out)
        : baseDir_(baseDir), asMember_(asMember), d_(out) {}

    bool line(std::string_view text, std::size_t number, std::string& err);
    bool finish(std::string& err);

private:
    bool once(std::string_view keyword, std::string& err);
    bool relation(std::string_view rest, std::vector<Dependency>& list, std::string& err);
    bool text_value(std::string_view rest, bool& has, std::string& value, std::string& err);
    bool flags_value(std::string_view rest, std::string& err);
    bool image_value(std::string_view rest, std::string& err);
    bool file_value(std::string_view rest, std::string& err);
    bool trailer_value(std::string_view rest, std::string& err);
    bool member_value(std::string_view rest, std::string& err);

    const std::string& baseDir_;
    const bool asMember_;
    PackageDescription& d_;
    std::set<std::string, std::less<>> seen_;
    std::size_t line_ = 0;
};

bool Parser::once(std::string_view keyword, std::string& err) {
    if (!seen_.emplace(keyword).second) {
        err = std::string(keyword) + " given twice";
        return false;
    }
    return true;
}

bool Parser::relation(std::string_view rest, std::vector<Dependency>& list, std::string& err) {
    Dependency dep;
    dep.name = std::string(next_word(rest));
    if (dep.name.empty() || dep.name.size() > kMaxName) {
        err = "relation needs a name of 1 to 16 bytes";
        return false;
    }
    if (d_.installable && !is_storable_relation_name(dep.name)) {
        err = "the installer refuses the relation name " + dep.name + ": control characters";
        return false;
    }
    std::string_view minText = next_word(rest), maxText = next_word(rest);
    std::string_view prioText = next_word(rest);
    if (!minText.empty() && !parse_version_text(minText, dep.min)) {
        err = "bad version " + std::string(minText);
        return false;
    }
    if (!maxText.empty() && !parse_version_text(maxText, dep.max)) {
        err = "bad version " + std::string(maxText);
        return false;
    }
    if (!prioText.empty() && !parse_number(prioText, dep.priority)) {
        err = "bad priority " + std::string(prioText);
        return false;
    }
    if (!rest.empty()) {
        err = "unexpected text after the relation: " + std::string(rest);
        return false;
    }
    list.push_back(std::move(dep));
    return true;
}

bool Parser::text_value(std::string_view rest, bool& has, std::string& value, std::string& err) {
    if (!unescape(rest, value)) {
        err = "bad escape in text";
        return false;
    }
    has = true;
    return true;
}

bool Parser::flags_value(std::string_view rest, std::string& err) {
    if (rest.empty()) {
        err = "flags needs a value";
        return false;
    }
    for (std::string_view w = next_word(rest); !w.empty(); w = next_word(rest)) {
        std::uint32_t bits = 0;
        if (w == "boot") {
            bits = kFlagBoot;
        } else if (w == "no-metadata") {
            bits = kFlagNoMetadata;
        } else if (!parse_number(w, bits)) {
            err = "bad flag " + std::string(w);
            return false;
        }
        d_.flags |= bits;
    }
    return true;
}

bool Parser::image_value(std::string_view rest, std::string& err) {
    std::string_view how = next_word(rest);
    d_.hasImage = true;
    if (how == "size") {
        std::uint32_t size = 0;
        if (!parse_number(rest, size) || size > kMaxImageSize) {
            err = "bad image size";
            return false;
        }
        d_.image.assign(size, '\0');
        return true;
    }
    if (how == "file") {
        if (!read_whole_file(join_path(baseDir_, std::string(rest)), d_.image)) {
            err = "cannot read image file " + std::string(rest);
            return false;
        }
        return true;
    }
    if (how == "text") {
        if (unescape(rest, d_.image)) return true;
        err = "bad escape in text";
        return false;
    }
    err = "image wants: size <n>, file <path> or text <text>";
    return false;
}

bool Parser::file_value(std::string_view rest, std::string& err) {
    FileEntry f;
    f.name = std::string(next_word(rest));
    std::string_view modeText = next_word(rest);
    unsigned mode = 0;
    auto r = std::from_chars(modeText.data(), modeText.data() + modeText.size(), mode, 8);
    if (f.name.empty() || r.ec != std::errc() || r.ptr != modeText.data() + modeText.size() ||
        mode > 0xffff) {
        err = "file wants: <path> <octal mode> [text]";
        return false;
    }
    f.mode = std::uint16_t((mode & 0xf000) == 0 ? mode | 0x8000 : mode);
    if (const char* why = d_.installable ? refused_entry_name(f.name) : nullptr) {
        err = "the installer refuses the file name " + f.name + ": " + why;
        return false;
    }
    if (!unescape(rest, f.data)) {
        err = "bad escape in text";
        return false;
    }
    d_.files.push_back(std::move(f));
    return true;
}

bool Parser::trailer_value(std::string_view rest, std::string& err) {
    std::string_view what = next_word(rest);
    if (what == "arch") {
        if (!once("trailer arch", err)) return false;
        return text_value(rest, d_.hasTrailerArch, d_.trailerArch, err);
    }
    if (what == "empty-depends" && rest.empty()) {
        if (!once("trailer empty-depends", err)) return false;
        d_.trailerEmptyDepends = true;
        return true;
    }
    err = "trailer wants: arch <text> or empty-depends";
    return false;
}

bool Parser::member_value(std::string_view rest, std::string& err) {
    if (rest.empty()) {
        err = "member needs a description file";
        return false;
    }
    PackageDescription member;
    member.installable = d_.installable;
    std::string path = join_path(baseDir_, std::string(rest));
    if (!load_file(path, true, member, err)) return false;
    d_.members.push_back(std::move(member));
    return true;
}

bool Parser::line(std::string_view text, std::size_t number, std::string& err) {
    line_ = number;
    std::string_view rest = text;
    std::string_view key = next_word(rest);
    if (key.empty() || key.front() == '#') return true;
    bool repeatable = key == "depends" || key == "provides" || key == "conflicts" ||
                      key == "variant" || key == "file" || key == "member" ||
                      key == "optional" || key == "trailer";
    if (!repeatable && !once(key, err)) return false;
    if (key == "name") {
        if (rest.empty() || rest.size() > kMaxName || rest.find_first_of(" \t") != rest.npos) {
            err = "name must be one word of 1 to 16 bytes";
            return false;
        }
        d_.name = std::string(rest);
        if (d_.installable && !is_storable_package_name(d_.name)) {
            err = "the installer refuses the package name " + d_.name +
                  ": it begins with \".\" or holds \"/\" or control characters";
            return false;
        }
        return true;
    }
    if (key == "version") {
        if (!parse_version_text(rest, d_.version)) {
            err = "bad version " + std::string(rest);
            return false;
        }
        return true;
    }
    if (key == "build-time") {
        if (!parse_number(rest, d_.buildTime)) {
            err = "bad build time " + std::string(rest);
            return false;
        }
        d_.hasBuildTime = true;
        return true;
    }
    if (key == "flags") return flags_value(rest, err);
    if (key == "short-header" && rest.empty()) {
        d_.writeFlags = false;
        return true;
    }
    if (key == "arch") return text_value(rest, d_.hasArch, d_.arch, err);
    if (key == "note") return text_value(rest, d_.hasNote, d_.note, err);
    if (key == "text24") return text_value(rest, d_.hasText24, d_.text24, err);
    if (key == "text2") return text_value(rest, d_.hasText2, d_.text2, err);
    if (key == "depends") return relation(rest, d_.depends, err);
    if (key == "provides") return relation(rest, d_.provides, err);
    if (key == "conflicts") return relation(rest, d_.conflicts, err);
    if (key == "optional") return relation(rest, d_.optionalMembers, err);
    if (key == "files") {
        if (rest.empty()) {
            err = "files needs a directory";
            return false;
        }
        d_.filesDir = join_path(baseDir_, std::string(rest));
        d_.filesLine = line_;
        return true;
    }
    if (key == "empty-files" && rest.empty()) {
        d_.emptyFiles = true;
        return true;
    }
    if (key == "variant") {
        std::string path(next_word(rest));
        std::uint8_t variant = 0;
        while (!path.empty() && path.front() == '/') path.erase(0, 1);
        if (path.empty() || !parse_number(rest, variant)) {
            err = "variant wants: <path> <0..255>";
            return false;
        }
        d_.variants[path] = variant;
        return true;
    }
    if (key == "file") return file_value(rest, err);
    if (key == "image") return image_value(rest, err);
    if (key == "sha256" && rest.empty()) {
        d_.sha256 = true;
        return true;
    }
    if (key == "magic") {
        if (rest != "alternate" && rest != "normal") {
            err = "magic wants: normal or alternate";
            return false;
        }
        d_.altMagic = rest == "alternate";
        if (d_.altMagic && asMember_) {
            err = "the alternate magic belongs to the whole file, not to a bundle member";
            return false;
        }
        return true;
    }
    if (key == "signature") {
        if (rest == "none") {
            d_.signature = SignatureKind::None;
        } else if (rest == "legacy") {
            d_.signature = SignatureKind::Legacy;
        } else if (rest == "legacy+eddsa") {
            d_.signature = SignatureKind::LegacyAndEddsa;
        } else {
            err = "signature wants: none, legacy or legacy+eddsa";
            return false;
        }
        return true;
    }
    if (key == "trailer") return trailer_value(rest, err);
    if (key == "bundle" && rest.empty()) {
        if (asMember_) {
            err = "a bundle member cannot be a bundle";
            return false;
        }
        d_.isBundle = true;
        return true;
    }
    if (key == "member") return member_value(rest, err);
    err = "unknown line: " + std::string(text);
    return false;
}

bool Parser::finish(std::string& err) {
    if (!seen_.count("name") || !seen_.count("version")) {
        err = "name and version are required";
        return false;
    }
    if (!d_.isBundle) {
        if (!d_.members.empty() || !d_.optionalMembers.empty()) {
            err = "member and optional need a bundle line";
            return false;
        }
        if (!d_.variants.empty() && d_.filesDir.empty()) {
            err = "variant needs a files directory";
            return false;
        }
        return true;
    }
    if (d_.members.empty()) {
        err = "a bundle needs at least one member";
        return false;
    }
    if (!d_.filesDir.empty() || !d_.files.empty() || d_.emptyFiles || !d_.variants.empty() ||
        d_.trailerEmptyDepends) {
        err = "a bundle has no files of its own";
        return false;
    }
    if (!d_.depends.empty() || !d_.provides.empty() || !d_.conflicts.empty()) {
        err = "a bundle's own depends, provides and conflicts stay empty (its members carry them)";
        return false;
    }
    return true;
}

bool parse_text(std::string_view text, const std::string& baseDir, bool asMember,
                PackageDescription& out, std::string& err) {
    Parser parser(baseDir, asMember, out);
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string lineErr;
        if (!parser.line(line, number, lineErr)) {
            // A member's own fault already names its file and line.
            err = lineErr.find(": line ") != std::string::npos
                      ? lineErr
                      : "line " + std::to_string(number) + ": " + lineErr;
            return false;
        }
    }
    return parser.finish(err);
}

bool load_file(const std::string& path, bool asMember, PackageDescription& out,
               std::string& err) {
    std::string text;
    if (!read_whole_file(path, text)) {
        err = path + ": " + std::strerror(errno);
        return false;
    }
    const std::string parent = std::filesystem::path(path).parent_path().string();
    const std::string dir = parent.empty() ? std::string(".") : parent;
    if (!parse_text(text, dir, asMember, out, err)) {
        if (err.rfind(path + ":", 0) != 0) err = path + ": " + err;
        return false;
    }
    return true;
}

}  // namespace

bool parse_description(std::string_view text, const std::string& baseDir,
                       PackageDescription& out, std::string& err) {
    return parse_text(text, baseDir, false, out, err);
}

bool load_description(const std::string& path, PackageDescription& out, std::string& err,
                      bool installable) {
    out.installable = installable;
    return load_file(path, false, out, err);
}

const char* refused_entry_name(const std::string& name) {
    if (name.empty()) return "empty";
    if (name.find_first_not_of('/') == std::string::npos) return "only \"/\"";
    if (name.back() == '/') return "ends with \"/\"";
    if (has_control_character(name)) return "control characters";
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return "a \"..\" part";
        start = end + 1;
    }
    return nullptr;
}
