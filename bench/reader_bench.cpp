// Reading a ~100 MiB (unpacked) package built from a real mixed file tree: PackageReader with the
// digest on plus InflateStream, against a plain loop that SHA-1s the same bytes and inflates the
// files chunk in 4096-byte steps. Counters: throughput of both and "ratio" (reader over baseline
// throughput; the goal is at least 0.9).

#include "package/format.h"
#include "package/inflate_stream.h"
#include "package/package_reader.h"
#include "pkglib/package_writer.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kTreeBytes = 100ull << 20;
constexpr std::uint64_t kLargestFile = 4ull << 20;
using Clock = std::chrono::steady_clock;

struct Fixture {
    std::string path;
    std::uint64_t fileSize = 0;
    std::uint64_t unpacked = 0;    // decompressed bytes of the files chunk
    std::uint64_t filesStart = 0;  // file offset of the files payload
    std::uint64_t filesLength = 0;
};

std::string read_whole(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Collects regular files from system directories until the tree holds ~100 MiB.
std::vector<FileEntry> collect_tree() {
    std::vector<FileEntry> files;
    std::uint64_t total = 0;
    for (const char* root :
         {"/usr/share/doc", "/usr/lib/x86_64-linux-gnu", "/usr/lib", "/usr/share"}) {
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (total >= kTreeBytes) return files;
            std::error_code statEc;
            if (!it->is_regular_file(statEc) || it->is_symlink(statEc)) continue;
            const std::uint64_t size = it->file_size(statEc);
            if (statEc || size > kLargestFile) continue;
            FileEntry entry;
            entry.name = it->path().string().substr(1);
            entry.data = read_whole(it->path());
            total += entry.data.size() + kFileEntryHeaderSize + entry.name.size();
            files.push_back(std::move(entry));
        }
    }
    return files;
}

const Fixture& fixture() {
    static Fixture f = [] {
        Fixture made;
        std::vector<FileEntry> tree = collect_tree();
        made.unpacked = file_entries(tree).size();
        PackageWriter w;  // no SHA-256 marker: both sides digest with SHA-1
        w.package_header({"bench", 0x07010000, 0, 0})
            .arch("powerpc")
            .depends({{"system", 1, 0, 0}});
        made.filesStart = w.finish().size() + kChunkHeaderSize;
        const std::string payload = files_payload(tree, 6);
        tree.clear();
        made.filesLength = payload.size();
        w.chunk(kChunkFiles, payload);
        w.signature([](const std::uint8_t*) { return std::string(kFullSignatureSize, 's'); });
        const std::string bytes = w.finish();
        made.fileSize = bytes.size();
        made.path =
            (fs::temp_directory_path() / ("reader-bench-" + std::to_string(::getpid()) + ".npk"))
                .string();
        std::ofstream out(made.path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out) std::abort();
        std::atexit([] { std::remove(fixture().path.c_str()); });
        return made;
    }();
    return f;
}

// The installer's way: chunk by chunk with the digest on, the files chunk through InflateStream.
std::uint64_t read_with_reader(const Fixture& f) {
    InputFile in = InputFile::open(f.path, 65536);
    PackageReader reader(in, true, nullptr);
    for (std::uint32_t t : kInstallChunks) reader.want(t);
    std::uint64_t out = 0;
    char buf[4096];
    while (reader.next_chunk() != -1) {
        if (reader.type() != kChunkFiles) continue;
        InflateStream files(reader.chunk_buf());
        while (const std::size_t got = files.read(buf, sizeof buf)) out += got;
    }
    benchmark::DoNotOptimize(reader.chunk_buf().get_digest()[0]);
    return out;
}

// Hand-written baseline: 4096-byte reads, SHA-1 over every byte after the file header, and the
// files payload inflated in 4096-byte steps of input and output with partial flushing.
std::uint64_t read_plain(const Fixture& f) {
    std::ifstream in(f.path, std::ios::binary);
    EVP_MD_CTX* sha = EVP_MD_CTX_new();
    EVP_DigestInit_ex(sha, EVP_sha1(), nullptr);
    z_stream zs{};
    inflateInit(&zs);
    char block[4096];
    unsigned char output[4096];
    std::uint64_t offset = 0, out = 0;
    const std::uint64_t filesEnd = f.filesStart + f.filesLength;
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        const std::uint64_t n = std::uint64_t(in.gcount());
        const std::uint64_t from = offset < 8 ? 8 - offset : 0;
        if (from < n) EVP_DigestUpdate(sha, block + from, n - from);
        const std::uint64_t lo = std::max(offset, f.filesStart),
                            hi = std::min(offset + n, filesEnd);
        if (lo < hi) {
            zs.next_in = reinterpret_cast<Bytef*>(block + (lo - offset));
            zs.avail_in = uInt(hi - lo);
            while (zs.avail_in > 0) {
                zs.next_out = output;
                zs.avail_out = sizeof output;
                const int r = inflate(&zs, Z_PARTIAL_FLUSH);
                out += sizeof output - zs.avail_out;
                if (r != Z_OK) break;
            }
        }
        offset += n;
    }
    unsigned char digest[32];
    EVP_DigestFinal_ex(sha, digest, nullptr);
    benchmark::DoNotOptimize(digest[0]);
    EVP_MD_CTX_free(sha);
    inflateEnd(&zs);
    return out;
}

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_ReaderAgainstPlainLoop(benchmark::State& state) {
    const Fixture& f = fixture();
    double readerTime = 0, plainTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        const std::uint64_t a = read_with_reader(f);
        const double t = seconds(start);
        readerTime += t;
        state.SetIterationTime(t);
        start = Clock::now();
        const std::uint64_t b = read_plain(f);
        plainTime += seconds(start);
        if (a != f.unpacked || b != f.unpacked) state.SkipWithError("unpacked sizes differ");
    }
    const double mib = double(f.unpacked) / (1 << 20) * double(state.iterations());
    state.counters["reader_MiBps"] = mib / readerTime;
    state.counters["plain_MiBps"] = mib / plainTime;
    state.counters["ratio"] = plainTime / readerTime;
    state.counters["unpacked_MiB"] = double(f.unpacked) / (1 << 20);
    state.counters["file_MiB"] = double(f.fileSize) / (1 << 20);
    state.SetBytesProcessed(std::int64_t(f.unpacked) * state.iterations());
}
BENCHMARK(BM_ReaderAgainstPlainLoop)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
