#pragma once
// The package stream stack: a ChunkBuf confines reads to the current chunk's payload, feeds the
// running digest and an optional copy target; a PackageReader on it steps from chunk to chunk,
// delivering only the wanted types. Every source byte reaches the digest and the copy target once.

#include "package/format.h"
#include "package/signature/crypto.h"
#include "package/signature/verify.h"

#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>
#include <string_view>
#include <vector>

class ChunkBuf : public std::streambuf {
public:
    // Borrows `source` and `copyTarget` (may be null); both must outlive the buffer.
    ChunkBuf(std::streambuf* source, bool digestOn, std::streambuf* copyTarget);
    ChunkBuf(const ChunkBuf&) = delete;
    ChunkBuf& operator=(const ChunkBuf&) = delete;

    // Reads the 8-byte file header; the magic is 0xFFFFFFFF when it is cut short.
    void read_file_header(std::uint32_t& magic, std::uint32_t& totalLength);
    // Passes the rest of the current chunk and reads the next chunk header: its type, or kNoChunk at
    // the end of data (the digest is then finished once more).
    int next_chunk_header();
    // Reads up to n bytes from the source, feeding the digest and the copy target except for
    // bytes that were put back and are read again (the one path by which payload bytes pass).
    std::streamsize read_through(char* buffer, std::streamsize n);
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

protected:
    // Positions count from the start of the current payload. From the end, `off` counts back
    // from the payload's end. Backwards only by seeking the source, digest off and no copy.
    std::streampos seekoff(std::streamoff off, std::ios_base::seekdir dir,
                           std::ios_base::openmode mode) override;
    std::streampos seekpos(std::streampos pos, std::ios_base::openmode mode) override;
    std::streamsize showmanyc() override;
    std::streamsize xsgetn(char* buffer, std::streamsize n) override;
    int_type underflow() override;
    int_type uflow() override;
    int_type pbackfail(int_type c) override;

private:
    void take_in(const char* data, std::size_t n);

    std::streambuf* source;
    std::uint32_t position = 0;  // file offset of the current payload
    std::uint32_t chunkLength = 0;
    std::uint32_t remaining = 0;
    std::streambuf* copyTarget;
    SHA1 sha1;
    SHA256 sha256;
    Hash* activeHasher;
    const bool digestOn;
    bool digestFinished = false;
    std::uint32_t putbackCount = 0;
    std::uint8_t digest[32] = {};  // a SHA-1 digest fills the first 20 bytes, the rest stay 0
};

// read_signature with the installer's built-in keys, or with explicit ones (tests, pkgtool).
SignatureLevel verify_signature(ChunkBuf& buf);
SignatureLevel verify_signature(ChunkBuf& buf, const PublicKeys& keys);

class PackageReader : public std::istream {
public:
    // Reads the file header from `source`; a bad or short header leaves the reader bad, so that
    // next_chunk delivers nothing. `copyTarget` (may be null) receives every byte read.
    PackageReader(std::istream& source, bool digestOn, std::streambuf* copyTarget);
    ~PackageReader() override;
    PackageReader(const PackageReader&) = delete;
    PackageReader& operator=(const PackageReader&) = delete;

    void want(std::uint32_t type);
    // Advances to the next chunk of a wanted type: its type, or kNoChunk at the end or on error. A text
    // chunk longer than the text limit, wanted or not, is an error: none of it is read, and
    // text_too_long() tells it from the end of data.
    int next_chunk();
    // The default is kMaxTextLength; only a tool that shows damaged files raises it.
    void set_text_limit(std::uint32_t limit) { textLimit_ = limit; }
    bool text_too_long() const { return textTooLong_; }
    int type() const { return type_; }
    std::uint32_t chunk_length() const { return buf_->get_chunk_length(); }
    std::uint32_t payload_start() const { return buf_->get_position(); }
    std::uint32_t total_length() const { return totalLength_; }
    // The file offset reached within the current chunk, for the progress bar. Leaves the
    // stream's state alone, even at the end of a chunk.
    std::uint64_t progress_position();
    bool is_alt_magic() const;
    // verify_signature of the signature chunk the reader stands at.
    SignatureLevel verify_signature();
    ChunkBuf& chunk_buf() { return *buf_; }

private:
    std::unique_ptr<ChunkBuf> buf_;
    std::vector<std::uint32_t> wanted_;
    int type_ = kNoChunk;
    std::uint32_t magic_ = 0xFFFFFFFF;
    std::uint32_t totalLength_ = 0;
    std::uint32_t textLimit_;
    bool textTooLong_ = false;
};
