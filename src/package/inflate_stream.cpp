// zlib decompression as a byte source. Partial flushing hands out every byte as soon as zlib
// can produce it, so the files chunk is unpacked with only the two 4096-byte buffers in memory.

#include "package/inflate_stream.h"

#include <algorithm>
#include <cstring>

namespace {

// Forward skips decompress into a scratch buffer in pieces of this size.
constexpr std::size_t kSkipPiece = 1024;

}  // namespace

InflateStream::InflateStream(ByteSource& source) : source_(source) {
    live_ = inflateInit(&zs_) == Z_OK;
    // A package's signature covers every compressed byte (an installation refuses the files it
    // unpacked unless the signature holds), so the Adler-32 trailer adds nothing but one more
    // pass over all the output: zlib neither computes nor checks it.
    if (live_) inflateValidate(&zs_, 0);
}

InflateStream::~InflateStream() {
    if (live_) inflateEnd(&zs_);
}

bool InflateStream::refill() {
    // After the end (or damage) further bytes in the source belong to nobody: end of data.
    if (!live_ || done_) return false;
    for (;;) {
        if (zs_.avail_in == 0) {
            const std::size_t got = source_.read(input_, kStep);
            if (got == 0) return false;
            zs_.next_in = reinterpret_cast<Bytef*>(input_);
            zs_.avail_in = uInt(got);
        }
        const uInt inBefore = zs_.avail_in;
        zs_.next_out = reinterpret_cast<Bytef*>(output_);
        zs_.avail_out = uInt(kStep);
        const int r = inflate(&zs_, Z_PARTIAL_FLUSH);
        if (r != Z_OK && r != Z_STREAM_END) {
            done_ = true;
            return false;
        }
        if (r == Z_STREAM_END) done_ = true;
        const std::size_t made = kStep - zs_.avail_out;
        if (made > 0) {
            begin_ = 0;
            end_ = made;
            return true;
        }
        if (r == Z_STREAM_END) return false;
        // zlib returns Z_OK only after progress; guard against a stall all the same.
        if (zs_.avail_in == inBefore) {
            done_ = true;
            return false;
        }
    }
}

std::size_t InflateStream::read(char* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size && !failed_) {
        if (begin_ == end_ && !refill()) {
            failed_ = true;
            break;
        }
        const std::size_t n = std::min(size - done, end_ - begin_);
        std::memcpy(out + done, output_ + begin_, n);
        begin_ += n;
        done += n;
    }
    return done;
}

bool InflateStream::skip(std::uint64_t size) {
    char scratch[kSkipPiece];
    while (size > 0) {
        const std::size_t piece = std::size_t(std::min<std::uint64_t>(size, kSkipPiece));
        if (read(scratch, piece) != piece) return false;
        size -= piece;
    }
    return !failed_;
}
