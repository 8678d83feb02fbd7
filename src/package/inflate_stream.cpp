// zlib decompression as a stream buffer. Partial flushing hands out every byte as soon as zlib
// can produce it, so the files chunk is unpacked with only the two 4096-byte buffers in memory.

#include "package/inflate_stream.h"

#include <algorithm>

namespace {

using Traits = std::char_traits<char>;
// Forward seeks decompress into a scratch buffer in pieces of this size.
constexpr std::size_t kSkipPiece = 1024;

}  // namespace

InflateBuf::InflateBuf(std::streambuf* source) : source_(source) {
    live_ = source_ != nullptr && inflateInit(&zs_) == Z_OK;
    setg(output_, output_, output_);
}

InflateBuf::~InflateBuf() {
    if (live_) inflateEnd(&zs_);
}

InflateBuf::int_type InflateBuf::underflow() {
    if (gptr() < egptr()) return Traits::to_int_type(*gptr());
    // After the end (or damage) further bytes in the source belong to nobody: end of data.
    if (!live_ || done_) return Traits::eof();
    for (;;) {
        if (zs_.avail_in == 0) {
            const std::streamsize got = source_->sgetn(input_, kStep);
            if (got <= 0) return Traits::eof();
            zs_.next_in = reinterpret_cast<Bytef*>(input_);
            zs_.avail_in = uInt(got);
        }
        const uInt inBefore = zs_.avail_in;
        zs_.next_out = reinterpret_cast<Bytef*>(output_);
        zs_.avail_out = uInt(kStep);
        const int r = inflate(&zs_, Z_PARTIAL_FLUSH);
        if (r != Z_OK && r != Z_STREAM_END) {
            done_ = true;
            return Traits::eof();
        }
        if (r == Z_STREAM_END) done_ = true;
        const std::size_t made = kStep - zs_.avail_out;
        if (made > 0) {
            produced_ += std::uint32_t(made);
            setg(output_, output_, output_ + made);
            return Traits::to_int_type(output_[0]);
        }
        if (r == Z_STREAM_END) return Traits::eof();
        // zlib returns Z_OK only after progress; guard against a stall all the same.
        if (zs_.avail_in == inBefore) {
            done_ = true;
            return Traits::eof();
        }
    }
}

std::streampos InflateBuf::seekoff(std::streamoff off, std::ios_base::seekdir dir,
                                   std::ios_base::openmode) {
    const std::streampos failed(std::streamoff(-1));
    const std::streamoff position = std::streamoff(produced_) - (egptr() - gptr());
    std::streamoff distance;
    if (dir == std::ios_base::beg) {
        if (off < position) return failed;
        distance = off - position;
    } else if (dir == std::ios_base::cur) {
        if (off < 0) return failed;
        distance = off;
    } else {
        return failed;
    }
    char scratch[kSkipPiece];
    while (distance > 0) {
        const std::streamsize piece =
            std::streamsize(std::min<std::streamoff>(distance, kSkipPiece));
        if (xsgetn(scratch, piece) != piece) return failed;
        distance -= piece;
    }
    return std::streampos(std::streamoff(produced_) - (egptr() - gptr()));
}

std::streampos InflateBuf::seekpos(std::streampos pos, std::ios_base::openmode mode) {
    return seekoff(std::streamoff(pos), std::ios_base::beg, mode);
}

InflateStream::InflateStream(std::istream& source)
    : std::istream(nullptr), buf_(std::make_unique<InflateBuf>(source.rdbuf())) {
    rdbuf(buf_.get());
}

InflateStream::~InflateStream() = default;
