#pragma once
// Writes package files byte by byte: any chunk of any type in any order, so tests can also build
// what a good builder never would. Signatures are made over a digest that the writer computes
// itself from the chunks it wrote, independently of the installer's reader.

#include "core/package.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Returns the signature payload for a 32-byte digest buffer (a SHA-1 digest fills 20 bytes).
using Signer = std::function<std::string(const std::uint8_t digest[32])>;

struct HeaderInfo {
    std::string name;  // written into 16 bytes, zero-padded or cut
    Version version = 0;
    std::uint32_t buildTime = 0;
    std::optional<std::uint32_t> flags;  // none: a 32-byte payload without the flags word
};

struct FileEntry {
    std::uint16_t mode = 0x81a4;  // regular file, 0644
    std::uint8_t hardwareVariant = 0;
    std::string name;  // any bytes; its length is cut to 16 bits
    std::string data;
};

// Payload encoders, usable on their own to write malformed chunks.
std::string header_payload(const HeaderInfo& header);
// `count` overrides the written count (e.g. more than the entries that follow).
std::string dependency_list_payload(const std::vector<Dependency>& list,
                                    std::optional<std::uint16_t> count = std::nullopt);
// The uncompressed file entries, back to back.
std::string file_entries(const std::vector<FileEntry>& files);
// `plain` in the zlib format at `level` (0..9, or -1 for zlib's default).
std::string zlib_payload(const std::string& plain, int level = 6);
// The files payload: the entries in the zlib format at `level` (0..9, or -1 for zlib's default).
std::string files_payload(const std::vector<FileEntry>& files, int level = 6);

class PackageWriter {
public:
    explicit PackageWriter(std::uint32_t magic = 0xbad0f11e);

    // A chunk of any type with the payload as given.
    PackageWriter& chunk(std::uint16_t type, const std::string& payload);
    // A chunk header whose declared length differs from the payload that follows.
    PackageWriter& chunk_declared(std::uint16_t type, std::uint32_t declaredLength,
                                  const std::string& payload);
    // Raw bytes after the last chunk (digested like chunk bytes).
    PackageWriter& raw(const std::string& bytes);

    PackageWriter& sha256_marker();
    PackageWriter& package_header(const HeaderInfo& header);
    PackageWriter& bundle_header(const HeaderInfo& header);
    PackageWriter& text(std::uint16_t type, const std::string& text);
    PackageWriter& arch(const std::string& arch);
    PackageWriter& note(const std::string& note);
    PackageWriter& depends(const std::vector<Dependency>& list);
    PackageWriter& provides(const std::vector<Dependency>& list);
    PackageWriter& conflicts(const std::vector<Dependency>& list);
    PackageWriter& optional_members(const std::vector<Dependency>& list);
    PackageWriter& files(const std::vector<FileEntry>& files, int level = 6);
    PackageWriter& image(const std::string& bytes);
    // Signs the digest that the signature chunk's header completes and writes the chunk. The
    // payload is what `sign` returns; `expectedLength` is a first guess at its size (the signer
    // is asked again when its answer has another size, since the header's length is covered).
    PackageWriter& signature(const Signer& sign, std::uint32_t expectedLength = 132);

    // The digest a signature chunk with a payload of `length` bytes written now would cover.
    std::array<std::uint8_t, 32> digest_for_signature(std::uint32_t length) const;
    // The bytes the running digest has taken in since its last restart.
    const std::string& covered() const { return covered_; }

    // The whole file; the length field is the size of what follows it unless `declaredLength`.
    std::string finish(std::optional<std::uint32_t> declaredLength = std::nullopt) const;

private:
    void append(const std::string& bytes);

    std::uint32_t magic_;
    std::string body_;     // everything after the file header
    std::string covered_;  // digest input since the last restart
    bool sha256_ = false;
};
