// The baseline of the install benchmark: the least a package unpacker must do. Reads the package
// file, SHA-1s every byte after the file header, inflates the files chunk in 4096-byte steps and
// writes each regular file in 16384-byte pieces. No checks, no journal, no database.
//
//   plain_install <package file> <output directory>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kReadBlock = 65536;
constexpr std::size_t kInflateStep = 4096;
constexpr std::size_t kWritePiece = 16384;

std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void make_parents(const std::string& path, std::string& made) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return;
    const std::string dir = path.substr(0, slash);
    if (dir == made) return;
    for (std::size_t at = 1; at <= dir.size(); ++at)
        if (at == dir.size() || dir[at] == '/') ::mkdir(dir.substr(0, at).c_str(), 0755);
    made = dir;
}

// Splits the inflated entries into files as the bytes arrive.
class Unpacker {
public:
    explicit Unpacker(std::string root) : root_(std::move(root)) { piece_.reserve(kWritePiece); }

    void take(const unsigned char* data, std::size_t n) {
        while (n > 0) {
            if (state_ == Header || state_ == Name) {
                const std::size_t want = (state_ == Header ? 30 : nameLength_) - head_.size();
                const std::size_t k = want < n ? want : n;
                head_.append(reinterpret_cast<const char*>(data), k);
                data += k;
                n -= k;
                if (head_.size() == (state_ == Header ? 30u : nameLength_)) advance();
                continue;
            }
            const std::size_t k = remaining_ < n ? std::size_t(remaining_) : n;
            if (fd_ >= 0) write_data(data, k);
            data += k;
            n -= k;
            remaining_ -= k;
            if (remaining_ == 0) finish_file();
        }
    }

private:
    enum State { Header, Name, Data };

    void advance() {
        if (state_ == Header) {
            const auto* h = reinterpret_cast<const unsigned char*>(head_.data());
            mode_ = std::uint16_t(h[0] | h[1] << 8);
            remaining_ = le32(h + 24);
            nameLength_ = std::size_t(h[28] | h[29] << 8);
            head_.clear();
            state_ = Name;
            if (nameLength_ == 0) advance();
            return;
        }
        std::string name = head_;
        head_.clear();
        state_ = Data;
        if ((mode_ & 0xf000) == 0x8000) {
            const std::string path = root_ + (name[0] == '/' ? "" : "/") + name;
            make_parents(path, madeDir_);
            fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode_ & 07777);
        }
        if (remaining_ == 0) finish_file();
    }

    void write_data(const unsigned char* data, std::size_t n) {
        while (n > 0) {
            const std::size_t k = std::min(kWritePiece - piece_.size(), n);
            piece_.insert(piece_.end(), data, data + k);
            data += k;
            n -= k;
            if (piece_.size() == kWritePiece) flush();
        }
    }

    void flush() {
        if (!piece_.empty() && ::write(fd_, piece_.data(), piece_.size()) < 0) std::perror("write");
        piece_.clear();
    }

    void finish_file() {
        if (fd_ >= 0) {
            flush();
            ::close(fd_);
            fd_ = -1;
        }
        state_ = Header;
    }

    std::string root_;
    std::string madeDir_;
    State state_ = Header;
    std::string head_;
    std::uint16_t mode_ = 0;
    std::uint64_t remaining_ = 0;
    std::size_t nameLength_ = 0;
    int fd_ = -1;
    std::vector<unsigned char> piece_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: plain_install <package> <output dir>\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "rb");
    if (in == nullptr) return 1;
    ::mkdir(argv[2], 0755);
    EVP_MD_CTX* sha = EVP_MD_CTX_new();
    EVP_DigestInit_ex(sha, EVP_sha1(), nullptr);
    unsigned char header[8];
    if (std::fread(header, 1, 8, in) != 8) return 1;

    Unpacker unpacker(argv[2]);
    std::vector<unsigned char> block(kReadBlock);
    unsigned char out[kInflateStep];
    unsigned char chunk[6];
    while (std::fread(chunk, 1, 6, in) == 6) {
        EVP_DigestUpdate(sha, chunk, 6);
        const unsigned type = unsigned(chunk[0] | chunk[1] << 8);
        std::uint32_t left = le32(chunk + 2);
        z_stream z{};
        const bool files = type == 4;
        if (files) inflateInit(&z);
        while (left > 0) {
            const std::size_t want = std::min<std::size_t>(left, kReadBlock);
            const std::size_t n = std::fread(block.data(), 1, want, in);
            if (n == 0) break;
            left -= std::uint32_t(n);
            EVP_DigestUpdate(sha, block.data(), n);
            if (!files) continue;
            z.next_in = block.data();
            z.avail_in = unsigned(n);
            // A step that filled its whole output may have more waiting inside zlib.
            do {
                z.next_out = out;
                z.avail_out = kInflateStep;
                const int rc = inflate(&z, Z_NO_FLUSH);
                unpacker.take(out, kInflateStep - z.avail_out);
                if (rc != Z_OK) break;
            } while (z.avail_in > 0 || z.avail_out == 0);
        }
        if (files) inflateEnd(&z);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    EVP_DigestFinal_ex(sha, digest, &digestLength);
    EVP_MD_CTX_free(sha);
    std::fclose(in);
    std::printf("%02x%02x%02x%02x\n", digest[0], digest[1], digest[2], digest[3]);
    return 0;
}
