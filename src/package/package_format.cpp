// Header part of a package file. The optional header chunks are taken only in their fixed order;
// a chunk out of order ends the header part. Text payloads are read in bounded pieces so that a
// declared length never decides an allocation by itself; the reader refuses any over its limit.

#include "package/package_format.h"

#include "package/format.h"
#include "package/package_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace {

constexpr std::size_t kTextPiece = 4096;
constexpr const char* kDefaultArch = "i386";

// Reads the current chunk's payload into `text`. A short read leaves the reader in its error
// state with the bytes that did arrive in `text`.
void read_text(PackageReader& reader, std::string& text) {
    text.clear();
    std::uint32_t left = reader.chunk_length();
    char piece[kTextPiece];
    while (left > 0) {
        const std::size_t want = std::min<std::size_t>(left, kTextPiece);
        const std::size_t got = reader.read(piece, want);
        text.append(piece, got);
        if (got < want) return;
        left -= std::uint32_t(want);
    }
}

// Reads exactly n bytes of the current payload; false on a short read.
bool read_exact(PackageReader& reader, std::uint8_t* out, std::size_t n) {
    return reader.read(reinterpret_cast<char*>(out), n) == n;
}

}  // namespace

bool read_dependency_list(PackageReader& reader, std::vector<Dependency>& list) {
    std::uint8_t countBytes[2];
    if (!read_exact(reader, countBytes, sizeof countBytes)) return false;
    const std::uint16_t count = load_u16(countBytes);
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint8_t entry[kDependencyEntrySize];
        if (!read_exact(reader, entry, sizeof entry)) return false;
        Dependency dependency;
        dependency.name = load_name(entry, kHeaderNameSize);
        dependency.min = load_u32(entry + 16);
        dependency.max = load_u32(entry + 24);
        dependency.priority = std::int32_t(load_u32(entry + 28));
        list.push_back(std::move(dependency));
    }
    return true;
}

bool read_package_header(Package& record, PackageReader& reader) {
    const int type = reader.type();
    if (type != kChunkPackageHeader && type != kChunkBundleHeader) return false;
    record.isBundle = type == kChunkBundleHeader;

    std::uint8_t header[kHeaderBaseSize];
    if (!read_exact(reader, header, sizeof header)) return false;
    record.name = load_name(header, kHeaderNameSize);
    record.version = load_u32(header + 16);
    record.buildTime = load_u32(header + 20);
    std::uint8_t flags[4];
    if (read_exact(reader, flags, sizeof flags)) {
        record.flags = load_u32(flags);
    } else {
        // A 32-byte header payload has no flags word; that is no error.
        reader.clear();
        record.flags = 0;
    }
    reader.next_chunk();

    std::string ignored;
    if (reader.type() == kChunkText24) {
        read_text(reader, ignored);
        reader.next_chunk();
    }
    if (reader.type() == kChunkArch) {
        read_text(reader, record.arch);
        reader.next_chunk();
    } else {
        record.arch = kDefaultArch;
    }
    if (reader.type() == kChunkText2) {
        read_text(reader, ignored);
        reader.next_chunk();
    }
    if (reader.type() == kChunkNote) {
        read_text(reader, record.note);
        reader.next_chunk();
    }
    if (reader.type() == kChunkDepends) {
        if (!read_dependency_list(reader, record.depends)) return false;
        reader.next_chunk();
    }
    if (reader.type() == kChunkProvides) {
        if (!read_dependency_list(reader, record.provides)) return false;
        reader.next_chunk();
    }
    if (reader.type() == kChunkConflicts) {
        if (!read_dependency_list(reader, record.conflicts)) return false;
        reader.next_chunk();
    }
    if (reader.type() == kChunkImage) record.hasImage = true;
    return true;
}

void pass_package_body(PackageReader& reader) {
    while (reader.type() == kChunkImage || reader.type() == kChunkFiles ||
           reader.type() == kChunkSignature)
        reader.next_chunk();
}

bool scan_package_file(PackageFile& file, const std::string& path) {
    file.filePath = path;
    // Passed-over chunks are read through rather than seeked, as the scan has always done (a
    // read fault mid-file ends the chunk sequence there); the digest stays off because the
    // installation digests the file again anyway, and the scan's digest was never used.
    InputFile source =
        InputFile::open(path, InputFile::kDefaultBuffer, InputFile::Seeking::Refused);
    PackageReader reader(source, false, nullptr);
    file.size = reader.total_length();

    // As std::filesystem::file_size would judge it (only a regular file has a size to compare),
    // without mapping that part of the runtime library for this one question.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        std::uint64_t(st.st_size) != std::uint64_t(file.size))
        return false;
    file.altMagic = reader.is_alt_magic();

    // The files and signature chunks are asked for only to end the header part there: a single
    // package's trailing architecture and empty depends chunk, after its signature, and a
    // bundle's trailing architecture are no fields of any header.
    for (std::uint32_t type :
         {kChunkBundleHeader, kChunkPackageHeader, kChunkText24, kChunkArch, kChunkText2,
          kChunkNote, kChunkDepends, kChunkProvides, kChunkConflicts, kChunkImage, kChunkFiles,
          kChunkSignature}) {
        reader.want(type);
    }
    reader.next_chunk();
    if (!read_package_header(file, reader)) return false;  // sets isBundle
    if (!file.isBundle) return !reader.text_too_long();

    if (reader.type() == kChunkImage) reader.next_chunk();
    while (reader.type() == kChunkPackageHeader) {
        auto member = std::make_unique<Package>();
        if (!read_package_header(*member, reader)) return false;
        file.members.push_back(std::move(member));
        pass_package_body(reader);
    }
    return !file.members.empty() && !reader.text_too_long();
}
