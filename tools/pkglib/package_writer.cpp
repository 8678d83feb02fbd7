// Package file writer. The digest it signs is computed here from the bytes written, following
// the coverage rules on its own (restart at a package header, switch at the first SHA-256
// marker, stop after the signature chunk's header), so a reader bug cannot hide behind it.

#include "pkglib/package_writer.h"

#include "package/format.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>

namespace {

std::string name_field(const std::string& name) {
    std::string field = name.substr(0, kHeaderNameSize);
    field.resize(kHeaderNameSize, '\0');
    return field;
}

std::string chunk_header(std::uint16_t type, std::uint32_t length) {
    std::string header;
    append_u16(header, type);
    append_u32(header, length);
    return header;
}

}  // namespace

std::string header_payload(const HeaderInfo& header) {
    std::string out = name_field(header.name);
    append_u32(out, header.version);
    append_u32(out, header.buildTime);
    out.append(8, '\0');
    if (header.flags) append_u32(out, *header.flags);
    return out;
}

std::string dependency_list_payload(const std::vector<Dependency>& list,
                                    std::optional<std::uint16_t> count) {
    std::string out;
    append_u16(out, count ? *count : std::uint16_t(list.size()));
    for (const Dependency& dependency : list) {
        out += name_field(dependency.name);
        append_u32(out, dependency.min);
        append_u32(out, 0);
        append_u32(out, dependency.max);
        append_u32(out, std::uint32_t(dependency.priority));
    }
    return out;
}

std::string file_entries(const std::vector<FileEntry>& files) {
    std::string out;
    for (const FileEntry& file : files) {
        const std::uint16_t nameLength =
            std::uint16_t(std::min<std::size_t>(file.name.size(), 0xffff));
        append_u16(out, file.mode);
        out.append(21, '\0');
        out.push_back(char(file.hardwareVariant));
        append_u32(out, std::uint32_t(file.data.size()));
        append_u16(out, nameLength);
        out.append(file.name, 0, nameLength);
        out += file.data;
    }
    return out;
}

std::string zlib_payload(const std::string& plain, int level) {
    uLongf size = compressBound(uLong(plain.size()));
    std::string out(size, '\0');
    const int r = compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                            reinterpret_cast<const Bytef*>(plain.data()), uLong(plain.size()),
                            level < 0 ? Z_DEFAULT_COMPRESSION : level);
    if (r != Z_OK) std::abort();  // only a bad level or no memory; both are caller bugs here
    out.resize(size);
    return out;
}

std::string files_payload(const std::vector<FileEntry>& files, int level) {
    return zlib_payload(file_entries(files), level);
}

PackageWriter::PackageWriter(std::uint32_t magic) : magic_(magic) {}

void PackageWriter::append(const std::string& bytes) {
    body_ += bytes;
    covered_ += bytes;
}

PackageWriter& PackageWriter::chunk(std::uint16_t type, const std::string& payload) {
    return chunk_declared(type, std::uint32_t(payload.size()), payload);
}

PackageWriter& PackageWriter::chunk_declared(std::uint16_t type, std::uint32_t declaredLength,
                                             const std::string& payload) {
    if (type == kChunkSha256Marker && !sha256_) {
        // The SHA-256 digest starts fresh with the first marker's header; later markers
        // change nothing.
        sha256_ = true;
        covered_.clear();
    } else if (type == kChunkPackageHeader) {
        covered_.clear();
    }
    append(chunk_header(type, declaredLength));
    if (type == kChunkSignature) {
        // The digest is finished after the signature header; the payload is outside it.
        covered_.clear();
        body_ += payload;
        return *this;
    }
    append(payload);
    return *this;
}

PackageWriter& PackageWriter::raw(const std::string& bytes) {
    append(bytes);
    return *this;
}

PackageWriter& PackageWriter::sha256_marker() {
    return chunk(kChunkSha256Marker, {});
}

PackageWriter& PackageWriter::package_header(const HeaderInfo& header) {
    return chunk(kChunkPackageHeader, header_payload(header));
}

PackageWriter& PackageWriter::bundle_header(const HeaderInfo& header) {
    return chunk(kChunkBundleHeader, header_payload(header));
}

PackageWriter& PackageWriter::text(std::uint16_t type, const std::string& text) {
    return chunk(type, text);
}

PackageWriter& PackageWriter::arch(const std::string& arch) {
    return chunk(kChunkArch, arch);
}
PackageWriter& PackageWriter::note(const std::string& note) {
    return chunk(kChunkNote, note);
}

PackageWriter& PackageWriter::depends(const std::vector<Dependency>& list) {
    return chunk(kChunkDepends, dependency_list_payload(list));
}
PackageWriter& PackageWriter::provides(const std::vector<Dependency>& list) {
    return chunk(kChunkProvides, dependency_list_payload(list));
}
PackageWriter& PackageWriter::conflicts(const std::vector<Dependency>& list) {
    return chunk(kChunkConflicts, dependency_list_payload(list));
}
PackageWriter& PackageWriter::optional_members(const std::vector<Dependency>& list) {
    return chunk(kChunkOptionalMembers, dependency_list_payload(list));
}

PackageWriter& PackageWriter::files(const std::vector<FileEntry>& files, int level) {
    return chunk(kChunkFiles, files_payload(files, level));
}

PackageWriter& PackageWriter::image(const std::string& bytes) {
    return chunk(kChunkImage, bytes);
}

std::array<std::uint8_t, 32> PackageWriter::digest_for_signature(std::uint32_t length) const {
    const std::string input = covered_ + chunk_header(kChunkSignature, length);
    std::array<std::uint8_t, 32> digest{};
    unsigned int size = 0;
    EVP_Digest(input.data(), input.size(), digest.data(), &size,
               sha256_ ? EVP_sha256() : EVP_sha1(), nullptr);
    return digest;
}

PackageWriter& PackageWriter::signature(const Signer& sign, std::uint32_t expectedLength) {
    // The header's length is part of the digest, so a signer whose answer has another size
    // is asked again over the digest that goes with that size.
    std::uint32_t length = expectedLength;
    std::string payload;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const auto digest = digest_for_signature(length);
        payload = sign(digest.data());
        if (payload.size() == length) break;
        length = std::uint32_t(payload.size());
    }
    return chunk(kChunkSignature, payload);
}

std::string PackageWriter::finish(std::optional<std::uint32_t> declaredLength) const {
    std::string out;
    out.reserve(kFileHeaderSize + body_.size());
    append_u32(out, magic_);
    append_u32(out, declaredLength ? *declaredLength : std::uint32_t(body_.size()));
    out += body_;
    return out;
}
