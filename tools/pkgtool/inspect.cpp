// The inspector walks every chunk with the digest on, exactly as an installation reads it, so
// the signature levels it reports are the ones the installer would compute with its built-in
// public keys; the header record comes from the installer's own directory scan.
#include "pkgtool/inspect.h"

#include "core/package.h"
#include "package/format.h"
#include "package/inflate_stream.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "package/signature/verify.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char* chunk_name(int type) {
    switch (type) {
    case kChunkPackageHeader: return "package header";
    case kChunkText2: return "text 2";
    case kChunkDepends: return "depends";
    case kChunkFiles: return "files";
    case kChunkSignature: return "signature";
    case kChunkArch: return "architecture";
    case kChunkConflicts: return "conflicts";
    case kChunkBundleHeader: return "bundle header";
    case kChunkProvides: return "provides";
    case kChunkOptionalMembers: return "optional members";
    case kChunkImage: return "image";
    case kChunkNote: return "note";
    case kChunkText24: return "text 24";
    case kChunkSha256Marker: return "sha256 marker";
    default: return "unknown";
    }
}

// Texts may hold any byte; show them quoted with C escapes so nothing garbles the terminal.
std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out + "\"";
}

std::string time_text(std::uint32_t seconds) {
    std::time_t t = std::time_t(seconds);
    std::tm tm{};
    char text[40] = "?";
    if (gmtime_r(&t, &tm) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    }
    return text;
}

std::string bound_text(Version v) { return v == 0 ? "any" : version_text(v); }

std::string relation_text(const Dependency& d) {
    std::string s = d.name + " " + bound_text(d.min) + ".." + bound_text(d.max);
    if (d.priority != 0) s += " priority " + std::to_string(d.priority);
    return s;
}

std::string flags_text(std::uint32_t flags) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", flags);
    std::string s = hex;
    if (flags & kFlagBoot) s += " boot";
    if (flags & kFlagNoMetadata) s += " no-metadata";
    return s;
}

const char* level_text(int level) {
    return level == 2 ? "EdDSA verifies (level 2)"
                      : level == 1 ? "legacy verifies (level 1)" : "nothing verifies (level 0)";
}

const char* type_word(std::uint16_t mode) {
    switch (mode & kModeTypeMask) {
    case 0x8000: return "file";
    case 0x4000: return "dir";
    case 0xa000: return "link";
    default: return "other";
    }
}

// Lists the entries of a files chunk; false when its zlib data ends inside an entry.
bool print_files(PackageReader& reader) {
    InflateStream z(reader.chunk_buf());
    std::printf("      %-5s %-6s %-7s %10s  %s\n", "type", "mode", "variant", "size", "name");
    for (;;) {
        std::uint8_t header[kFileEntryHeaderSize];
        const std::size_t got = z.read(reinterpret_cast<char*>(header), sizeof header);
        if (got != sizeof header) return got == 0;
        const std::uint16_t mode = load_u16(header);
        const std::uint32_t size = load_u32(header + 24);
        std::string name(load_u16(header + 28), '\0');
        if (z.read(name.data(), name.size()) != name.size()) {
            std::printf("      (entry name cut short)\n");
            return false;
        }
        std::string line = name;
        if ((mode & kModeTypeMask) == 0xa000 && size <= 4096) {
            std::string target(size, '\0');
            if (z.read(target.data(), size) != size) return false;
            line += " -> " + target;
        } else if (size > 0 && !z.skip(size)) {
            std::printf("      %-5s %06o %-7u %10u  %s (data cut short)\n", type_word(mode), mode,
                        header[23], size, quoted(name).c_str());
            return false;
        }
        std::printf("      %-5s %06o %-7u %10u  %s\n", type_word(mode), mode, header[23], size,
                    quoted(line).c_str());
    }
}

// Prints a header payload; returns the package's name-version label.
std::string print_header_payload(PackageReader& reader) {
    std::uint8_t p[kHeaderWithFlagsSize] = {};
    if (reader.read(reinterpret_cast<char*>(p), kHeaderBaseSize) != kHeaderBaseSize) {
        std::printf("      (header cut short)\n");
        return "?";
    }
    std::string flags = "none (32-byte header)";
    if (reader.read(reinterpret_cast<char*>(p + kHeaderBaseSize), 4) == 4) {
        flags = flags_text(load_u32(p + kHeaderBaseSize));
    } else {
        reader.clear();
    }
    std::printf("      name %s version %s build time %u (%s) flags %s\n",
                quoted(load_name(p, kHeaderNameSize)).c_str(),
                version_text(load_u32(p + 16)).c_str(),
                load_u32(p + 20), time_text(load_u32(p + 20)).c_str(), flags.c_str());
    return load_name(p, kHeaderNameSize) + "-" + version_text(load_u32(p + 16));
}

// Shows at most the first kMaxShownText bytes: the length comes from the file, and a damaged
// one must not make the inspector allocate gigabytes.
void print_text_payload(PackageReader& reader) {
    constexpr std::uint32_t kMaxShownText = 1024;
    const std::uint32_t length = reader.chunk_length();
    if (length > kMaxTextLength) std::printf("      (too long: the installer refuses it)\n");
    std::string text(std::min(length, kMaxShownText), '\0');
    if (reader.read(text.data(), text.size()) != text.size()) {
        std::printf("      (text cut short)\n");
        return;
    }
    std::printf("      %s%s\n", quoted(text).c_str(), length > kMaxShownText ? " ..." : "");
}

struct SignatureResult {
    std::string label;
    int level = -1;  // -1: no signature chunk seen for this package
    bool sha256 = false;
};

int verify_with(PackageReader& reader, const PublicKeys* keys) {
    return int(keys ? verify_signature(reader.chunk_buf(), *keys) : reader.verify_signature());
}

void want_everything(PackageReader& reader) {
    for (std::uint32_t t = 0; t <= 0xffff; ++t) reader.want(t);
}

// Which chunks (by index) a signature's digest covers: those from a package header, or from a
// SHA-256 marker after it (the digest switches there and starts afresh), through the next
// signature chunk. Bundle chunks, trailers and unsigned packages stay outside.
std::vector<bool> signed_chunks(const std::string& path) {
    InputFile in = InputFile::open(path);
    PackageReader reader(in, false, nullptr);
    want_everything(reader);
    reader.set_text_limit(0xffffffffu);
    std::vector<bool> covered;
    std::size_t start = 0;
    bool open = false;
    int previous = kNoChunk;
    for (; reader.next_chunk() != kNoChunk; previous = reader.type()) {
        const int type = reader.type();
        covered.push_back(false);
        if (type == kChunkPackageHeader || (type == kChunkSha256Marker && open)) {
            // A marker just before the header chooses the digest that the signature covers.
            const bool marked = !open && previous == kChunkSha256Marker;
            start = covered.size() - (marked ? 2 : 1);
            open = true;
        } else if (type == kChunkSignature && open) {
            std::fill(covered.begin() + std::ptrdiff_t(start), covered.end(), true);
            open = false;
        }
    }
    return covered;
}

// Walks every chunk; false when the data ends inside a chunk or a files chunk is damaged.
bool print_chunks(const std::string& path, std::uint64_t fileSize, const PublicKeys* keys,
                  std::vector<SignatureResult>& signatures) {
    const std::vector<bool> covered = signed_chunks(path);
    InputFile in = InputFile::open(path);
    PackageReader reader(in, true, nullptr);
    want_everything(reader);
    reader.set_text_limit(0xffffffffu);  // shown and marked below rather than ending the walk
    std::printf("chunks (UNSIGNED: no signature covers the chunk):\n");
    bool sound = true;
    bool sha256 = false;
    std::size_t index = 0;
    std::uint64_t end = kFileHeaderSize;  // where the last chunk header said its payload ends
    while (reader.next_chunk() != kNoChunk) {
        const int type = reader.type();
        end = std::uint64_t(reader.payload_start()) + reader.chunk_length();
        const bool isSigned = index < covered.size() && covered[index];
        ++index;
        std::printf("  @%-8u type %-3d %-17s length %u%s\n",
                    reader.payload_start() - std::uint32_t(kChunkHeaderSize), type,
                    chunk_name(type), reader.chunk_length(), isSigned ? "" : "  UNSIGNED");
        if (type == kChunkSha256Marker) sha256 = true;
        switch (type) {
        case kChunkPackageHeader: signatures.push_back({print_header_payload(reader)}); break;
        case kChunkBundleHeader: print_header_payload(reader); break;
        case kChunkText2:
        case kChunkArch:
        case kChunkNote:
        case kChunkText24: print_text_payload(reader); break;
        case kChunkDepends:
        case kChunkConflicts:
        case kChunkProvides:
        case kChunkOptionalMembers: {
            std::vector<Dependency> list;
            bool ok = reader.chunk_length() == 0 || read_dependency_list(reader, list);
            for (const Dependency& d : list) std::printf("      %s\n", relation_text(d).c_str());
            if (!ok) std::printf("      (list cut short)\n");
            break;
        }
        case kChunkFiles:
            if (!print_files(reader)) sound = false;
            break;
        case kChunkSignature: {
            const int level = verify_with(reader, keys);
            std::printf("      %s\n", level_text(level));
            if (!signatures.empty() && signatures.back().level < 0) {
                signatures.back().level = level;
                signatures.back().sha256 = sha256;
            }
            break;
        }
        default: break;
        }
        if (reader.bad()) break;
        if (reader.fail()) {
            sound = false;
            reader.clear();
        }
    }
    // The reader reports a cut-off payload or a partial chunk header only as the end of data.
    if (end != fileSize) {
        std::printf("  the data ends at byte %llu, but the chunks need %llu\n",
                    static_cast<unsigned long long>(fileSize),
                    static_cast<unsigned long long>(end));
        sound = false;
    }
    return sound && !reader.bad();
}

void print_record(const Package& p, const char* indent, const char* title) {
    std::printf("%s%s %s %s\n", indent, title, quoted(p.name).c_str(),
                version_text(p.version).c_str());
    std::printf("%s  build time: %u (%s)\n", indent, p.buildTime, time_text(p.buildTime).c_str());
    std::printf("%s  flags: %s\n", indent, flags_text(p.flags).c_str());
    std::printf("%s  arch: %s\n", indent, quoted(p.arch).c_str());
    if (!p.note.empty()) std::printf("%s  note: %s\n", indent, quoted(p.note).c_str());
    if (p.hasImage) std::printf("%s  image: yes\n", indent);
    const std::pair<const char*, const std::vector<Dependency>*> lists[] = {
        {"depends", &p.depends}, {"provides", &p.provides}, {"conflicts", &p.conflicts}};
    for (const auto& [kind, list] : lists) {
        for (const Dependency& d : *list)
            std::printf("%s  %s: %s\n", indent, kind, relation_text(d).c_str());
    }
    for (const auto& m : p.members) print_record(*m, "  ", "member");
}

// The file's size, or false with a message on standard error when it is no package file.
bool probe_file(const std::string& path, std::uint64_t& size, bool& altMagic,
                std::uint32_t& declared) {
    InputFile in = InputFile::open(path);
    if (!in.is_open()) {
        std::fprintf(stderr, "pkgtool: cannot open %s\n", path.c_str());
        return false;
    }
    PackageReader probe(in, false, nullptr);
    if (probe.bad()) {
        std::fprintf(stderr, "pkgtool: %s is not a package file\n", path.c_str());
        return false;
    }
    altMagic = probe.is_alt_magic();
    declared = probe.total_length();
    size = std::uint64_t(std::ifstream(path, std::ios::binary | std::ios::ate).tellg());
    return true;
}

const char* scheme_text(const SignatureResult& s) {
    if (s.level == 2) return s.sha256 ? "EdDSA over SHA-256" : "EdDSA over SHA-1";
    return s.sha256 ? "legacy scheme over SHA-256" : "legacy scheme over SHA-1";
}

}  // namespace

int verify_package(const std::string& path, const PublicKeys* keys) {
    std::uint64_t size = 0;
    bool altMagic = false;
    std::uint32_t declared = 0;
    if (!probe_file(path, size, altMagic, declared)) {
        std::printf("NOT verified: %s is not a package file\n", path.c_str());
        return 1;
    }
    // Skipped payloads are read through, so the digest sees every byte as in an installation.
    std::vector<SignatureResult> signatures;
    InputFile in = InputFile::open(path);
    PackageReader reader(in, true, nullptr);
    want_everything(reader);
    bool sha256 = false;
    std::uint64_t end = kFileHeaderSize;
    while (reader.next_chunk() != kNoChunk) {
        end = std::uint64_t(reader.payload_start()) + reader.chunk_length();
        if (reader.type() == kChunkSha256Marker) sha256 = true;
        if (reader.type() == kChunkPackageHeader) {
            std::uint8_t p[kHeaderBaseSize];
            if (reader.read(reinterpret_cast<char*>(p), sizeof p) != sizeof p) break;
            // The name comes from the file: no byte of it may reach the terminal as a control.
            std::string label = load_name(p, kHeaderNameSize);
            label += "-" + version_text(load_u32(p + 16));
            for (char& c : label)
                if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
                    c = '?';
            signatures.push_back({label});
        } else if (reader.type() == kChunkSignature && !signatures.empty() &&
                   signatures.back().level < 0) {
            signatures.back().level = verify_with(reader, keys);
            signatures.back().sha256 = sha256;
        }
    }
    const bool sound = !reader.bad() && end == size;
    if (!sound || declared != size) {
        std::printf("NOT verified: the file is cut short or holds damaged data\n");
        return 1;
    }
    const SignatureResult* weakest = nullptr;
    for (const SignatureResult& s : signatures) {
        if (s.level < 0) {
            std::printf("NOT verified: %s has no signature\n", s.label.c_str());
            return 1;
        }
        if (s.level == 0) {
            std::printf("NOT verified: the signature of %s does not verify\n", s.label.c_str());
            return 1;
        }
        if (weakest == nullptr || s.level < weakest->level ||
            (s.level == weakest->level && !s.sha256))
            weakest = &s;
    }
    if (weakest == nullptr) {
        std::printf("NOT verified: no package header\n");
        return 1;
    }
    std::printf("verified: level %d, %s%s\n", weakest->level, scheme_text(*weakest),
                signatures.size() > 1 ? " (the weakest of the bundle's members)" : "");
    return 0;
}

namespace {

void print_file_line(const std::string& path, std::uint64_t size, bool altMagic,
                     std::uint32_t declared) {
    std::printf("file: %s\n", path.c_str());
    std::printf("magic: %s, declared total length %u (%s file size %llu)\n",
                altMagic ? "alternate 0xa1100ffb" : "package 0xbad0f11e",
                declared, declared == size ? "matches" : "DIFFERS from",
                static_cast<unsigned long long>(size));
}

}  // namespace

int inspect_package(const std::string& path, const PublicKeys* keys) {
    std::uint64_t size = 0;
    bool altMagic = false;
    std::uint32_t declared = 0;
    if (!probe_file(path, size, altMagic, declared)) return 1;
    print_file_line(path, size, altMagic, declared);

    PackageFile record;
    if (scan_package_file(record, path)) {
        print_record(record, "", record.isBundle ? "bundle" : "package");
    } else {
        std::printf("header: the installer's directory scan refuses this file\n");
    }

    std::vector<SignatureResult> signatures;
    const bool sound = print_chunks(path, size, keys, signatures);
    std::printf("signatures:\n");
    if (signatures.empty()) std::printf("  (no package header)\n");
    for (const SignatureResult& s : signatures) {
        std::printf("  %s: %s\n", quoted(s.label).c_str(),
                    s.level < 0 ? "no signature chunk" : level_text(s.level));
    }
    std::printf("UNSIGNED chunks can be changed by anyone who can upload, without breaking a "
                "signature\n");
    if (!sound) std::printf("the file ends inside a chunk or holds damaged data\n");
    return sound ? 0 : 1;
}
