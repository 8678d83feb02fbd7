// Whole-process loading of the package database. "installer --show" over 1,000 packages kept
// in small files against a plain process that opens and reads the same files (goal: ratio of
// at most 2), over 20 packages that keep 1 MiB and 64 MiB images on tmpfs (goal: the same
// time, since image payloads are passed over by seeking), and "--show" and a default run over
// 1,000 to 8,000 packages (goal: linear, 8,000 at most 9 times 1,000).

#include "package/format.h"
#include "pkglib/package_writer.h"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSmallPackages = 1000;
constexpr int kImagePackages = 20;

void put(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A scratch root removed at exit.
struct Root {
    explicit Root(const std::string& base) {
        std::string templ = base + "/pdb-bench-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) std::abort();
        path = templ;
    }
    Root(Root&& other) noexcept : path(std::move(other.path)) { other.path.clear(); }
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
    ~Root() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
    fs::path path;
};

// `packages` packages kept in small files, 20 files each, a tenth of them disabled and one in
// fifty with an "enable" request. With `base`, also the "system" and "net" packages that every
// package needs, so that a default run settles instead of finding nothing it may keep.
Root database_root(const std::string& where, int packages, bool base) {
    Root r(where);
    for (int i = 0; i < packages; ++i) {
        const std::string name = "pkg" + std::to_string(i);
        const fs::path dir = r.path / "flash/var/pdb" / name;
        put(dir / "version", std::to_string(0x0628'6600 + i) + " 1500000000\n");
        put(dir / "deps", "system 100689408 0\nnet 1 0\n");
        if (i % 7 == 0) put(dir / "provides", "alias" + std::to_string(i) + " 0 0 3\n");
        std::string files;
        for (int f = 0; f < 20; ++f) files += name + "/lib/file" + std::to_string(f) + ".so\n";
        put(dir / "files", files);
        if (i % 10 == 0) put(dir / "disabled", "auto\n");
        if (i % 50 == 0) put(r.path / "ram/pdb" / name / "schedule", "enable\n");
    }
    if (base) {
        for (const std::string name : {"system", "net"}) {
            put(r.path / "flash/var/pdb" / name / "version",
                std::to_string(0x0628'6600) + " 1500000000\n");
            put(r.path / "flash/var/pdb" / name / "files", name + "/bin/" + name + "\n");
        }
        fs::create_directories(r.path / "flash/rw/pckg");
    }
    return r;
}

const Root& small_root() {
    const char* tmp = std::getenv("TMPDIR");
    static const Root root = database_root(tmp && *tmp ? tmp : "/tmp", kSmallPackages, false);
    return root;
}

// Writes a package of `imageBytes` image payload in blocks, never holding it whole.
void write_image_package(const fs::path& path, const std::string& name, std::uint64_t imageBytes) {
    PackageWriter head;
    head.sha256_marker();
    head.package_header({name, 0x0628'6600, 1500000000, 0});
    head.depends({{"system", 0x0628'6600, 0, 0}});
    head.chunk_declared(kChunkImage, std::uint32_t(imageBytes), "");
    std::string prefix = head.finish();
    std::string tail;
    const std::string files = files_payload({{0x81a4, 0, "bin/" + name, "payload"}});
    append_u16(tail, kChunkFiles);
    append_u32(tail, std::uint32_t(files.size()));
    tail += files;
    append_u16(tail, kChunkSignature);
    append_u32(tail, 132);
    tail += std::string(132, '\0');
    std::uint8_t length[4];
    store_u32(length, std::uint32_t(prefix.size() - kFileHeaderSize + imageBytes + tail.size()));
    prefix.replace(4, 4, reinterpret_cast<const char*>(length), 4);

    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << prefix;
    const std::string block(1 << 20, 'i');
    for (std::uint64_t left = imageBytes; left > 0;) {
        const std::uint64_t n = std::min<std::uint64_t>(left, block.size());
        out.write(block.data(), std::streamsize(n));
        left -= n;
    }
    out << tail;
}

// 20 packages keeping images of `mib` MiB each, on tmpfs.
Root make_image_root(std::uint64_t mib) {
    Root r("/dev/shm");
    for (int i = 0; i < kImagePackages; ++i) {
        const std::string name = "img" + std::to_string(i);
        write_image_package(r.path / "flash/var/pdb" / name / "image", name, mib << 20);
    }
    return r;
}

// Runs a program with standard output sent to /dev/null; its exit status, or -1.
int run_quiet(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double timed_run(const std::vector<std::string>& args, bool& failed) {
    const auto start = Clock::now();
    if (run_quiet(args) != 0) failed = true;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> show_args(const fs::path& root) {
    return {INSTALLER_BIN, "-r", root.string(), "--show"};
}

// The baseline process: in the same root, open and read every file that loading one package
// from small files touches, and print one line per package, without interpreting anything.
int plain_loop(const char* root) {
    if (::chroot(root) != 0 || ::chdir("/") != 0) return 1;
    DIR* dir = ::opendir("/flash/var/pdb/");
    if (dir == nullptr) return 1;
    char buffer[4096];
    std::string out;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string base = std::string("/flash/var/pdb/") + entry->d_name + "/";
        struct stat st;
        ::stat((std::string("/rw/pckg/.images/") + entry->d_name).c_str(), &st);
        ::stat((base + "files").c_str(), &st);
        for (const char* file : {"image", "version", "deps", "provides", "conflicts", "bundle",
                                 "files", "disabled", "enabled"}) {
            const int fd = ::open((base + file).c_str(), O_RDONLY);
            if (fd < 0) continue;
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
            ::close(fd);
        }
        const int fd = ::open((std::string("/ram/pdb/") + entry->d_name + "/schedule").c_str(),
                              O_RDONLY);
        if (fd >= 0) {
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
            ::close(fd);
        }
        out += entry->d_name;
        out += '\n';
    }
    ::closedir(dir);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

void BM_ShowAgainstPlainLoop(benchmark::State& state) {
    const Root& root = small_root();
    const std::vector<std::string> show = show_args(root.path);
    const std::vector<std::string> plain = {"/proc/self/exe", "--plain-loop", root.path.string()};
    double showTime = 0, plainTime = 0;
    bool failed = false;
    for (auto _ : state) {
        const double t = timed_run(show, failed);
        showTime += t;
        state.SetIterationTime(t);
        plainTime += timed_run(plain, failed);
    }
    if (failed) state.SkipWithError("a run failed");
    state.counters["show_ms"] = showTime * 1e3 / double(state.iterations());
    state.counters["plain_ms"] = plainTime * 1e3 / double(state.iterations());
    state.counters["ratio"] = showTime / plainTime;
}
BENCHMARK(BM_ShowAgainstPlainLoop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_ImagesSmallAgainstLarge(benchmark::State& state) {
    const Root small = make_image_root(1);
    const Root large = make_image_root(64);
    double smallTime = 0, largeTime = 0;
    bool failed = false;
    for (auto _ : state) {
        smallTime += timed_run(show_args(small.path), failed);
        const double t = timed_run(show_args(large.path), failed);
        largeTime += t;
        state.SetIterationTime(t);
    }
    if (failed) state.SkipWithError("a run failed");
    state.counters["1MiB_ms"] = smallTime * 1e3 / double(state.iterations());
    state.counters["64MiB_ms"] = largeTime * 1e3 / double(state.iterations());
    state.counters["ratio"] = largeTime / smallTime;
}
BENCHMARK(BM_ImagesSmallAgainstLarge)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);

// Loading against the size of the database: the same packages as above, 1,000 to 8,000 of them
// on tmpfs, each size run in turn within one iteration. `ratio` is the time over 8,000 packages
// over the time over 1,000 (linear: 8; goal: at most 9). `--show` only loads and lists; the default run
// with nothing uploaded also settles the requests and the dependencies and writes the enabled
// packages' database files (after one untimed run, every run finds the same database).
constexpr int kScaleSizes[] = {1000, 2000, 4000, 8000};

void scaling(benchmark::State& state, bool show) {
    std::vector<Root> roots;
    std::vector<std::vector<std::string>> commands;
    for (int n : kScaleSizes) {
        roots.push_back(database_root("/dev/shm", n, !show));
        if (show) {
            commands.push_back(show_args(roots.back().path));
        } else {
            commands.push_back({INSTALLER_BIN, "-q", "-r", roots.back().path.string()});
            bool ignored = false;
            timed_run(commands.back(), ignored);
        }
    }
    std::vector<double> times(commands.size(), 0);
    bool failed = false;
    for (auto _ : state) {
        double all = 0;
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const double t = timed_run(commands[i], failed);
            times[i] += t;
            all += t;
        }
        state.SetIterationTime(all);
    }
    if (failed) state.SkipWithError("a run failed");
    for (std::size_t i = 0; i < commands.size(); ++i)
        state.counters[std::to_string(kScaleSizes[i]) + "_ms"] =
            times[i] * 1e3 / double(state.iterations());
    state.counters["ratio"] = times.back() / times.front();
}

void BM_ShowScaling(benchmark::State& state) { scaling(state, true); }
BENCHMARK(BM_ShowScaling)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

void BM_DefaultRunScaling(benchmark::State& state) { scaling(state, false); }
BENCHMARK(BM_DefaultRunScaling)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--plain-loop") return plain_loop(argv[2]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
