// The chunk-selecting package reader. Every read passes through ChunkBuf::read_through, which
// keeps the digest and the copy target in step with the bytes taken from the source: each source
// byte is digested and copied exactly once.

#include "package/package_reader.h"

#include "package/format.h"
#include "package/signature/key_file.h"
#include "package/signature/verify.h"

#include <algorithm>
#include <cstring>

namespace {

// Passed-over payloads are read through in blocks of this size when they must be digested.
constexpr std::size_t kSkipBlock = 16384;

}  // namespace

ChunkBuf::ChunkBuf(ByteSource* source_, bool digestOn_, ByteSink* copyTarget_)
    : source(source_), copyTarget(copyTarget_), activeHasher(&sha1), digestOn(digestOn_) {}

void ChunkBuf::read_file_header(std::uint32_t& magic, std::uint32_t& totalLength) {
    std::uint8_t header[kFileHeaderSize];
    magic = 0xFFFFFFFF;
    totalLength = 0;
    if (source == nullptr) return;
    if (source->read(reinterpret_cast<char*>(header), sizeof header) != sizeof header) return;
    // The file header goes to the copy but never to the digest.
    if (copyTarget != nullptr) copyTarget->write(reinterpret_cast<char*>(header), sizeof header);
    magic = load_u32(header);
    totalLength = load_u32(header + 4) + std::uint32_t(kFileHeaderSize);
    position = kFileHeaderSize;
}

void ChunkBuf::finish_digest() {
    // Clearing first keeps the tail zero after a SHA-1 digest, whatever the buffer held.
    std::memset(digest, 0, sizeof digest);
    activeHasher->finish(digest);
    digestFinished = true;
}

void ChunkBuf::stand_at_chunk(std::uint32_t length, bool sha256Digest,
                              std::string_view digested) {
    if (sha256Digest) activeHasher = &sha256;
    activeHasher->add(reinterpret_cast<const std::uint8_t*>(digested.data()), digested.size());
    chunkLength = remaining = length;
}

void ChunkBuf::take_in(const char* data, std::size_t n) {
    if (n == 0) return;
    if (copyTarget != nullptr) copyTarget->write(data, n);
    if (digestOn) activeHasher->add(reinterpret_cast<const std::uint8_t*>(data), n);
}

int ChunkBuf::next_chunk_header() {
    if (source == nullptr) return kNoChunk;
    if (remaining > 0) {
        bool passed = false;
        // Seeking is only allowed when no byte needs to be seen; a source that cannot seek
        // (a pipe) falls back to reading through.
        if (!digestOn && copyTarget == nullptr)
            passed = source->seek(std::uint64_t(position) + chunkLength);
        if (!passed) {
            const std::uint64_t skipped = skip_through(remaining);
            remaining -= std::uint32_t(skipped);
            if (remaining > 0) return kNoChunk;
        }
        remaining = 0;
    }
    position += chunkLength;

    std::uint8_t header[kChunkHeaderSize];
    if (source->read(reinterpret_cast<char*>(header), sizeof header) != sizeof header) {
        // End of data (a cut header included): its bytes reach neither digest nor copy.
        finish_digest();
        return kNoChunk;
    }
    if (copyTarget != nullptr) copyTarget->write(reinterpret_cast<char*>(header), sizeof header);
    const std::uint16_t type = load_u16(header);
    if (digestOn) {
        // The marker switches for good, starting with its own header; a package header
        // restarts the digest so that the package's digest begins with this header.
        if (type == kChunkSha256Marker) {
            activeHasher = &sha256;
        } else if (type == kChunkPackageHeader) {
            finish_digest();
        }
        activeHasher->add(header, sizeof header);
    }
    position += std::uint32_t(kChunkHeaderSize);
    chunkLength = load_u32(header + 2);
    remaining = chunkLength;
    return type;
}

std::size_t ChunkBuf::read_through(char* buffer, std::size_t n) {
    const std::size_t got = n == 0 ? 0 : source->read(buffer, n);
    take_in(buffer, got);
    return got;
}

std::uint64_t ChunkBuf::skip_through(std::uint64_t n) {
    char scratch[kSkipBlock];
    std::uint64_t done = 0;
    while (done < n) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(kSkipBlock, n - done));
        const std::size_t got = read_through(scratch, want);
        done += got;
        if (got < want) break;
    }
    return done;
}

std::size_t ChunkBuf::read(char* out, std::size_t size) {
    const std::size_t got = read_through(out, std::min<std::size_t>(size, remaining));
    remaining -= std::uint32_t(got);
    return got;
}

bool ChunkBuf::seek(std::uint64_t offset) {
    if (offset > chunkLength) return false;
    const std::uint32_t current = tell();
    if (offset == current) return true;
    if (!digestOn && copyTarget == nullptr && source->seek(position + offset)) {
        remaining = chunkLength - std::uint32_t(offset);
        return true;
    }
    // Bytes that must be seen can only be passed forward, by reading them through.
    if (offset < current) return false;
    const std::uint64_t need = offset - current;
    const std::uint64_t skipped = skip_through(need);
    remaining -= std::uint32_t(skipped);
    return skipped == need;
}

PackageReader::PackageReader(ByteSource& source, bool digestOn, ByteSink* copyTarget)
    : buf_(&source, digestOn, copyTarget), textLimit_(kMaxTextLength) {
    buf_.read_file_header(magic_, totalLength_);
    bad_ = magic_ != kPackageMagic && magic_ != kAltPackageMagic;
}

void PackageReader::want(std::uint32_t type) {
    wanted_.push_back(type);
}

int PackageReader::next_chunk() {
    if (fail()) {
        type_ = kNoChunk;
        return kNoChunk;
    }
    for (;;) {
        type_ = buf_.next_chunk_header();
        if (type_ == kNoChunk) {
            failed_ = true;
            return kNoChunk;
        }
        // Checked on passed-over chunks too: an installation never reads a note, but the image
        // loader does at every start, and would then drop the installed package for it.
        if (is_text_chunk(type_) && buf_.get_chunk_length() > textLimit_) {
            textTooLong_ = true;
            type_ = kNoChunk;
            bad_ = true;
            return kNoChunk;
        }
        if (std::find(wanted_.begin(), wanted_.end(), std::uint32_t(type_)) != wanted_.end()) {
            return type_;
        }
    }
}

std::size_t PackageReader::read(char* out, std::size_t size) {
    if (fail()) {
        failed_ = true;
        return 0;
    }
    const std::size_t got = buf_.read(out, size);
    if (got < size) failed_ = true;
    return got;
}

bool PackageReader::seek(std::uint64_t offset) {
    if (fail()) return false;
    if (!buf_.seek(offset)) failed_ = true;
    return !failed_;
}

bool PackageReader::skip(std::uint64_t size) {
    return seek(std::uint64_t(tell()) + size);
}

bool PackageReader::is_alt_magic() const {
    return magic_ == kAltPackageMagic;
}

SignatureLevel PackageReader::verify_signature() {
    return ::verify_signature(buf_);
}

std::uint64_t PackageReader::progress_position() const {
    return std::uint64_t(buf_.get_position()) + buf_.tell();
}

SignatureLevel ChunkBuf::read_signature(const PublicKeys* keys) {
    if (!digestOn) return SignatureLevel::None;
    finish_digest();
    if (remaining < kLegacySignatureSize) return SignatureLevel::None;
    const std::uint32_t n = remaining >= kFullSignatureSize ? std::uint32_t(kFullSignatureSize)
                                                            : std::uint32_t(kLegacySignatureSize);
    std::uint8_t sig[kFullSignatureSize];
    // A short read means the source has ended; the chunk's remaining length stays as it was.
    if (source->read(reinterpret_cast<char*>(sig), n) != n) return SignatureLevel::None;
    if (copyTarget != nullptr) copyTarget->write(reinterpret_cast<const char*>(sig), n);
    remaining -= n;
    if (keys == nullptr) return SignatureLevel::None;
    // The EdDSA part, when there is one, follows the legacy one.
    const std::uint8_t* eddsa = n == kFullSignatureSize ? sig + kLegacySignatureSize : nullptr;
    return check_signature(sig, eddsa, digest, *keys);
}

SignatureLevel verify_signature(ChunkBuf& buf) {
    return buf.read_signature(embedded_public_keys());
}

SignatureLevel verify_signature(ChunkBuf& buf, const PublicKeys& keys) {
    return buf.read_signature(&keys);
}
