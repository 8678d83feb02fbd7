#pragma once
// The package reading stack: a ChunkBuf confines reads to the current chunk's payload, feeds the
// running digest and an optional copy target; a PackageReader on it steps from chunk to chunk,
// delivering only the wanted types. Every source byte reaches the digest and the copy target once.

#include "core/input_file.h"
#include "package/format.h"
#include "package/signature/crypto.h"
#include "package/signature/verify.h"

#include <cstdint>
#include <string_view>
#include <vector>

// The payload of the current chunk as a byte source: reads stop at its end, and every byte
// taken from the underlying source reaches the digest and the copy target exactly once.
class ChunkBuf final : public ByteSource {
public:
    // Borrows `source` and `copyTarget` (may be null); both must outlive the buffer. Offsets
    // of the source count from the start of the package file.
    ChunkBuf(ByteSource* source, bool digestOn, ByteSink* copyTarget);
    ChunkBuf(const ChunkBuf&) = delete;
    ChunkBuf& operator=(const ChunkBuf&) = delete;

    // Reads the 8-byte file header; the magic is 0xFFFFFFFF when it is cut short.
    void read_file_header(std::uint32_t& magic, std::uint32_t& totalLength);
    // Passes the rest of the current chunk and reads the next chunk header: its type, or kNoChunk at
    // the end of data (the digest is then finished once more).
    int next_chunk_header();
    // Reads up to `size` bytes of the current payload (short at its end or the source's).
    std::size_t read(char* out, std::size_t size) override;
    // Moves to `offset` within the current payload (not past its end). Backwards only by
    // seeking the source, digest off and no copy; forwards by seeking the same way, else by
    // reading through. False when the move cannot be made.
    bool seek(std::uint64_t offset) override;
    // The offset reached within the current payload.
    std::uint32_t tell() const { return chunkLength - remaining; }
    // Reads from the source, feeding the digest and the copy target (the one path by which
    // payload bytes pass).
    std::size_t read_through(char* buffer, std::size_t n);
    // Reads through and discards up to n bytes in bounded blocks; the number actually passed.
    std::uint64_t skip_through(std::uint64_t n);
    // Finishes the active hasher into `digest` (which restarts it) and sets digestFinished.
    // A SHA-1 digest fills the first 20 bytes; the other 12 are zero.
    void finish_digest();
    // Called at the start of a signature chunk's data: finishes the digest, reads 132 bytes
    // (legacy + EdDSA) or 68 (legacy only) of the chunk, copies them to the copy target and
    // checks them with `keys` (null: none). None when the digest is off, the chunk is under 68
    // bytes (then left unread), the read is short, or both checks fail.
    SignatureLevel read_signature(const PublicKeys* keys);
    // Stops the copy: later bytes go to the digest alone. For a copy found to be of no use.
    void drop_copy_target() { copyTarget = nullptr; }

    std::uint32_t get_position() const { return position; }  // file offset of the current payload
    std::uint32_t get_chunk_length() const { return chunkLength; }
    std::uint32_t get_remaining() const { return remaining; }  // unread bytes of the chunk
    bool get_digest_finished() const { return digestFinished; }
    // The last finished digest: SHA-1 fills the first 20 bytes, the other 12 are zero.
    const std::uint8_t* get_digest() const { return digest; }
    // Test seam: stands the buffer at a chunk of `length` unread bytes after `digested` went
    // into the digest (SHA-256 when `sha256Digest`), as if both had been read from the source.
    void stand_at_chunk(std::uint32_t length, bool sha256Digest, std::string_view digested);

private:
    void take_in(const char* data, std::size_t n);

    ByteSource* source;
    std::uint32_t position = 0;  // file offset of the current payload
    std::uint32_t chunkLength = 0;
    std::uint32_t remaining = 0;
    ByteSink* copyTarget;
    SHA1 sha1;
    SHA256 sha256;
    Hash* activeHasher;
    const bool digestOn;
    bool digestFinished = false;
    std::uint8_t digest[32] = {};  // a SHA-1 digest fills the first 20 bytes, the rest stay 0
};

// read_signature with the installer's built-in keys, or with explicit ones (tests, pkgtool).
SignatureLevel verify_signature(ChunkBuf& buf);
SignatureLevel verify_signature(ChunkBuf& buf, const PublicKeys& keys);

// Steps from chunk to chunk of a package, delivering only the wanted types. Like an input
// stream it keeps a failure state: a short read fails it, and a failed reader reads nothing
// and finds no further chunk until clear().
class PackageReader {
public:
    // Reads the file header from `source`; a bad or short header leaves the reader bad, so that
    // next_chunk delivers nothing. `copyTarget` (may be null) receives every byte read.
    PackageReader(ByteSource& source, bool digestOn, ByteSink* copyTarget);
    PackageReader(const PackageReader&) = delete;
    PackageReader& operator=(const PackageReader&) = delete;

    void want(std::uint32_t type);
    // Advances to the next chunk of a wanted type: its type, or kNoChunk at the end or on error. A text
    // chunk longer than the text limit, wanted or not, is an error: none of it is read, and
    // text_too_long() tells it from the end of data.
    int next_chunk();
    // Reads up to `size` bytes of the current payload: the number read. Fewer than `size`
    // fails the reader; a failed reader reads nothing.
    std::size_t read(char* out, std::size_t size);
    // Moves forward by `size` bytes within the current payload; false (and the reader failed)
    // when it cannot or is failed already.
    bool skip(std::uint64_t size);
    // Moves to `offset` within the current payload (see ChunkBuf::seek); false (and the reader
    // failed) when it cannot or is failed already.
    bool seek(std::uint64_t offset);
    // The offset reached within the current payload.
    std::uint32_t tell() const { return buf_.tell(); }
    // Bad: the file header was bad or a text chunk too long. Failed: that, or a short read or
    // seek, or the end of the chunks. clear() makes the reader good again.
    bool bad() const { return bad_; }
    bool fail() const { return failed_ || bad_; }
    explicit operator bool() const { return !fail(); }
    void clear() { failed_ = bad_ = false; }
    // The default is kMaxTextLength; only a tool that shows damaged files raises it.
    void set_text_limit(std::uint32_t limit) { textLimit_ = limit; }
    bool text_too_long() const { return textTooLong_; }
    int type() const { return type_; }
    std::uint32_t chunk_length() const { return buf_.get_chunk_length(); }
    std::uint32_t payload_start() const { return buf_.get_position(); }
    std::uint32_t total_length() const { return totalLength_; }
    // The file offset reached within the current chunk, for the progress bar.
    std::uint64_t progress_position() const;
    bool is_alt_magic() const;
    // verify_signature of the signature chunk the reader stands at.
    SignatureLevel verify_signature();
    // The current payload unfiltered by the reader's failure state, for a decompressor that
    // reads to its own end.
    ChunkBuf& chunk_buf() { return buf_; }

private:
    ChunkBuf buf_;
    std::vector<std::uint32_t> wanted_;
    int type_ = kNoChunk;
    std::uint32_t magic_ = 0xFFFFFFFF;
    std::uint32_t totalLength_ = 0;
    std::uint32_t textLimit_;
    bool textTooLong_ = false;
    bool failed_ = false;
    bool bad_ = false;
};
