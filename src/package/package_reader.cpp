// The chunk-selecting package stream. The ChunkBuf has no get area, so every read passes through
// its overrides, which keep the digest and the copy target in step with the bytes taken from the
// source: each source byte is digested and copied exactly once, even when put back and read again.

#include "package/package_reader.h"

#include "package/format.h"
#include "package/signature/key_file.h"
#include "package/signature/verify.h"

#include <algorithm>
#include <cstring>

namespace {

using Traits = std::char_traits<char>;
constexpr auto kSourceMode = std::ios_base::in | std::ios_base::out;
// Passed-over payloads are read through in blocks of this size when they must be digested.
constexpr std::size_t kSkipBlock = 16384;

}  // namespace

ChunkBuf::ChunkBuf(std::streambuf* source_, bool digestOn_, std::streambuf* copyTarget_)
    : source(source_), copyTarget(copyTarget_), activeHasher(&sha1), digestOn(digestOn_) {}

void ChunkBuf::read_file_header(std::uint32_t& magic, std::uint32_t& totalLength) {
    std::uint8_t header[kFileHeaderSize];
    magic = 0xFFFFFFFF;
    totalLength = 0;
    if (source == nullptr) return;
    const std::streamsize got = source->sgetn(reinterpret_cast<char*>(header), sizeof header);
    if (got != std::streamsize(sizeof header)) return;
    // The file header goes to the copy but never to the digest.
    if (copyTarget != nullptr) copyTarget->sputn(reinterpret_cast<char*>(header), sizeof header);
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
    if (copyTarget != nullptr) copyTarget->sputn(data, std::streamsize(n));
    if (digestOn) activeHasher->add(reinterpret_cast<const std::uint8_t*>(data), n);
}

int ChunkBuf::next_chunk_header() {
    if (source == nullptr) return kNoChunk;
    if (remaining > 0) {
        bool passed = false;
        // Seeking is only allowed when no byte needs to be seen; a source that cannot seek
        // (a pipe) falls back to reading through.
        if (!digestOn && copyTarget == nullptr) {
            passed = source->pubseekoff(remaining, std::ios_base::cur, kSourceMode) !=
                     std::streampos(std::streamoff(-1));
            if (passed) putbackCount = 0;
        }
        if (!passed) {
            const std::uint64_t skipped = skip_through(remaining);
            remaining -= std::uint32_t(skipped);
            if (remaining > 0) return kNoChunk;
        }
        remaining = 0;
    }
    position += chunkLength;

    std::uint8_t header[kChunkHeaderSize];
    const std::streamsize got = source->sgetn(reinterpret_cast<char*>(header), sizeof header);
    if (got != std::streamsize(sizeof header)) {
        // End of data (a cut header included): its bytes reach neither digest nor copy.
        finish_digest();
        return kNoChunk;
    }
    if (copyTarget != nullptr) copyTarget->sputn(reinterpret_cast<char*>(header), sizeof header);
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

std::streamsize ChunkBuf::read_through(char* buffer, std::streamsize n) {
    if (n <= 0) return 0;
    const std::streamsize got = source->sgetn(buffer, n);
    if (got <= 0) return 0;
    if (std::uint64_t(got) < putbackCount) {
        putbackCount -= std::uint32_t(got);
        return got;
    }
    take_in(buffer + putbackCount, std::size_t(got) - putbackCount);
    putbackCount = 0;
    return got;
}

std::uint64_t ChunkBuf::skip_through(std::uint64_t n) {
    char scratch[kSkipBlock];
    std::uint64_t done = 0;
    while (done < n) {
        const std::streamsize want = std::streamsize(std::min<std::uint64_t>(kSkipBlock, n - done));
        const std::streamsize got = read_through(scratch, want);
        done += std::uint64_t(got);
        if (got < want) break;
    }
    return done;
}

std::streamsize ChunkBuf::xsgetn(char* buffer, std::streamsize n) {
    if (remaining == 0 || n <= 0) return 0;
    const std::streamsize got = read_through(buffer, std::min<std::streamsize>(n, remaining));
    remaining -= std::uint32_t(got);
    return got;
}

ChunkBuf::int_type ChunkBuf::underflow() {
    if (remaining == 0) return Traits::eof();
    return source->sgetc();
}

ChunkBuf::int_type ChunkBuf::uflow() {
    if (remaining == 0) return Traits::eof();
    const int_type c = source->sbumpc();
    if (Traits::eq_int_type(c, Traits::eof())) return c;
    --remaining;
    if (putbackCount > 0) {
        --putbackCount;
        return c;
    }
    const char byte = Traits::to_char_type(c);
    take_in(&byte, 1);
    return c;
}

ChunkBuf::int_type ChunkBuf::pbackfail(int_type c) {
    if (remaining == chunkLength) return Traits::eof();
    const int_type r = Traits::eq_int_type(c, Traits::eof())
                           ? source->sungetc()
                           : source->sputbackc(Traits::to_char_type(c));
    if (Traits::eq_int_type(r, Traits::eof())) return r;
    ++remaining;
    // The byte was already digested and copied; its second reading must not count again.
    if (digestOn || copyTarget != nullptr) ++putbackCount;
    return r;
}

std::streamsize ChunkBuf::showmanyc() {
    const std::streamsize avail = source->in_avail();
    return std::min<std::streamsize>(avail, remaining);
}

std::streampos ChunkBuf::seekpos(std::streampos pos, std::ios_base::openmode) {
    const std::streampos failed(std::streamoff(-1));
    const std::streamoff p = pos;
    if (p < 0 || p > std::streamoff(chunkLength)) return failed;
    const std::streamoff current = std::streamoff(chunkLength) - remaining;
    if (p == current) return pos;
    if (!digestOn && copyTarget == nullptr) {
        const std::streampos target(std::streamoff(position) + p);
        if (source->pubseekpos(target, kSourceMode) != failed) {
            remaining = chunkLength - std::uint32_t(p);
            putbackCount = 0;
            return pos;
        }
    }
    // Bytes that must be seen can only be passed forward, by reading them through.
    if (p < current) return failed;
    const std::uint64_t need = std::uint64_t(p - current);
    const std::uint64_t skipped = skip_through(need);
    remaining -= std::uint32_t(skipped);
    if (skipped < need) return failed;
    return pos;
}

std::streampos ChunkBuf::seekoff(std::streamoff off, std::ios_base::seekdir dir,
                                 std::ios_base::openmode mode) {
    std::streamoff target;
    if (dir == std::ios_base::beg) {
        target = off;
    } else if (dir == std::ios_base::cur) {
        target = std::streamoff(chunkLength) - remaining + off;
    } else {
        // From the end the offset counts back from the end of the payload.
        target = std::streamoff(chunkLength) - off;
    }
    if (target < 0) return std::streampos(std::streamoff(-1));
    return seekpos(std::streampos(target), mode);
}

PackageReader::PackageReader(std::istream& source, bool digestOn, std::streambuf* copyTarget)
    : std::istream(nullptr),
      buf_(std::make_unique<ChunkBuf>(source.rdbuf(), digestOn, copyTarget)),
      textLimit_(kMaxTextLength) {
    rdbuf(buf_.get());
    buf_->read_file_header(magic_, totalLength_);
    if (magic_ != kPackageMagic && magic_ != kAltPackageMagic) setstate(std::ios_base::badbit);
}

PackageReader::~PackageReader() = default;

void PackageReader::want(std::uint32_t type) {
    wanted_.push_back(type);
}

int PackageReader::next_chunk() {
    if (rdstate() & (std::ios_base::badbit | std::ios_base::failbit)) {
        type_ = kNoChunk;
        return kNoChunk;
    }
    clear(rdstate() & ~std::ios_base::eofbit);
    for (;;) {
        type_ = buf_->next_chunk_header();
        if (type_ == kNoChunk) {
            setstate(std::ios_base::eofbit | std::ios_base::failbit);
            return kNoChunk;
        }
        // Checked on passed-over chunks too: an installation never reads a note, but the image
        // loader does at every start, and would then drop the installed package for it.
        if (is_text_chunk(type_) && buf_->get_chunk_length() > textLimit_) {
            textTooLong_ = true;
            type_ = kNoChunk;
            setstate(std::ios_base::badbit | std::ios_base::failbit);
            return kNoChunk;
        }
        if (std::find(wanted_.begin(), wanted_.end(), std::uint32_t(type_)) != wanted_.end()) {
            return type_;
        }
    }
}

bool PackageReader::is_alt_magic() const {
    return magic_ == kAltPackageMagic;
}

SignatureLevel PackageReader::verify_signature() {
    return ::verify_signature(*buf_);
}

std::uint64_t PackageReader::progress_position() {
    // The offset within the current chunk's payload, as tellg would report it. Asked of the
    // buffer directly: tellg on a stream at its end sets failbit, and drawing the bar must not
    // change the state of the stream the caller goes on reading.
    const std::streamoff inChunk = buf_->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    return std::uint64_t(buf_->get_position()) + (inChunk > 0 ? std::uint64_t(inChunk) : 0);
}

SignatureLevel ChunkBuf::read_signature(const PublicKeys* keys) {
    if (!digestOn) return SignatureLevel::None;
    finish_digest();
    if (remaining < kLegacySignatureSize) return SignatureLevel::None;
    const std::uint32_t n = remaining >= kFullSignatureSize ? std::uint32_t(kFullSignatureSize)
                                                            : std::uint32_t(kLegacySignatureSize);
    std::uint8_t sig[kFullSignatureSize];
    const std::streamsize got = source->sgetn(reinterpret_cast<char*>(sig), n);
    // A short read means the source has ended; the chunk's remaining length stays as it was.
    if (got != static_cast<std::streamsize>(n)) return SignatureLevel::None;
    if (copyTarget != nullptr) copyTarget->sputn(reinterpret_cast<const char*>(sig), n);
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
