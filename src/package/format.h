#pragma once
// Byte layout of a package file, shared by the reader and the package tool's writer so the two
// cannot drift apart. Every integer in a package file is little-endian; decode bytes explicitly.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

inline constexpr std::uint32_t kPackageMagic = 0xbad0f11e;    // on disk: 1e f1 d0 ba
inline constexpr std::uint32_t kAltPackageMagic = 0xa1100ffb; // on disk: fb 0f 10 a1
inline constexpr std::size_t kFileHeaderSize = 8;            // magic, length of what follows
inline constexpr std::size_t kChunkHeaderSize = 6;           // u16 type, u32 payload length

// Chunk types.
enum : std::uint16_t {
    kChunkPackageHeader = 1,
    kChunkText2 = 2,
    kChunkDepends = 3,
    kChunkFiles = 4,
    kChunkSignature = 9,
    kChunkArch = 16,
    kChunkConflicts = 17,
    kChunkBundleHeader = 18,
    kChunkProvides = 19,
    kChunkOptionalMembers = 20,
    kChunkImage = 21,
    kChunkNote = 23,
    kChunkText24 = 24,
    kChunkSha256Marker = 25,
};

// The chunk types an installation (and the reader of a stream) asks for: a package or bundle
// header, the bundle's optional members, the header fields, the image, files and signature.
inline constexpr std::uint32_t kInstallChunks[] = {
    kChunkPackageHeader, kChunkBundleHeader, kChunkOptionalMembers, kChunkArch,
    kChunkDepends,       kChunkProvides,     kChunkConflicts,       kChunkImage,
    kChunkFiles,         kChunkSignature};

// What the reader answers instead of a chunk type at the end of data or after an error.
inline constexpr int kNoChunk = -1;

// Text payloads (types 2, 16, 23, 24) are read whole, so a length from an unverified file must
// not decide how much memory a run takes. Real texts are far shorter (an architecture needs tens
// of bytes); a longer text chunk makes the package broken.
inline constexpr std::uint32_t kMaxTextLength = 65536;
inline constexpr bool is_text_chunk(int type) {
    return type == kChunkText2 || type == kChunkArch || type == kChunkNote ||
           type == kChunkText24;
}

// Header payload (types 1 and 18): name[16], version u32 @16, build time u32 @20,
// 8 uninterpreted bytes @24, optional flags u32 @32.
inline constexpr std::size_t kHeaderNameSize = 16;
inline constexpr std::size_t kHeaderBaseSize = 32;
inline constexpr std::size_t kHeaderWithFlagsSize = 36;

// Dependency list payload: u16 count, then 32-byte entries: name[16], min u32 @16,
// 4 uninterpreted bytes @20, max u32 @24, priority i32 @28.
inline constexpr std::size_t kDependencyEntrySize = 32;

// File entry inside the inflated files chunk: mode u16 @0, 21 uninterpreted bytes @2,
// hardware variant u8 @23, data size u32 @24, name length u16 @28, then name and data.
inline constexpr std::size_t kFileEntryHeaderSize = 30;
inline constexpr std::uint16_t kModeTypeMask = 0xf000;
inline constexpr std::uint16_t kModeRegular = 0x8000;

// Signature payload: 68 bytes legacy, or 132 bytes legacy followed by 64 bytes of EdDSA.
inline constexpr std::size_t kLegacySignatureSize = 68;
inline constexpr std::size_t kFullSignatureSize = 132;

inline std::uint16_t load_u16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
inline std::uint32_t load_u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline void store_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void store_u32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}
inline void append_u16(std::string& out, std::uint16_t v) {
    std::uint8_t b[2];
    store_u16(b, v);
    out.append(reinterpret_cast<const char*>(b), 2);
}
inline void append_u32(std::string& out, std::uint32_t v) {
    std::uint8_t b[4];
    store_u32(b, v);
    out.append(reinterpret_cast<const char*>(b), 4);
}

// A zero-padded name field: the bytes up to the first zero, at most `size`.
inline std::string load_name(const std::uint8_t* p, std::size_t size) {
    std::size_t n = 0;
    while (n < size && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}
