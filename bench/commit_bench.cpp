// Commit of 2,000 staged files of mixed sizes, within one file system (renames) and across two
// (copies), each against the plain system-call loop over the same files in the same run. The
// "ratio" counter is commit time over baseline time.

#include "txn/transaction.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kFiles = 2000;
constexpr int kDirs = 20;
constexpr std::size_t kSizes[] = {200, 3000, 20000, 70000};

using Clock = std::chrono::steady_clock;

std::string scratch(const char* base) {
    std::string templ = std::string(base) + "/commit-bench-XXXXXX";
    if (!::mkdtemp(templ.data())) std::abort();
    return templ;
}

struct Files {
    std::vector<std::string> sources, targets;
};

// Writes the staged files below `stageDir` and names their destinations below `destDir`.
Files stage(const std::string& stageDir, const std::string& destDir) {
    Files f;
    std::string payload(kSizes[3], 'x');
    for (int i = 0; i < kFiles; ++i) {
        std::string src = stageDir + "/tmp" + std::to_string(i);
        int fd = ::open(src.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, payload.data(), kSizes[i % 4]) < 0) std::abort();
        ::close(fd);
        f.sources.push_back(src);
        f.targets.push_back(destDir + "/d" + std::to_string(i % kDirs) + "/f" + std::to_string(i));
    }
    return f;
}

void clear_dest(const std::string& destDir) {
    std::error_code ec;
    std::filesystem::remove_all(destDir, ec);
    std::filesystem::create_directories(destDir, ec);
    for (int d = 0; d < kDirs; ++d)
        std::filesystem::create_directories(destDir + "/d" + std::to_string(d), ec);
}

// The baseline copy: the same 16 KiB read/write loop a careful hand-written copy would use.
void plain_copy(const std::string& from, const std::string& to) {
    char buf[16384];
    int in = ::open(from.c_str(), O_RDONLY);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (ssize_t n; (n = ::read(in, buf, sizeof buf)) > 0;)
        if (::write(out, buf, std::size_t(n)) != n) break;
    ::close(in);
    ::close(out);
}

void move_back(const Files& f) {
    for (int i = 0; i < kFiles; ++i) ::rename(f.targets[i].c_str(), f.sources[i].c_str());
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Times commit and the baseline alternately; reports the commit time per iteration.
void run(benchmark::State& state, const char* stageBase, const char* destBase, bool copies) {
    std::string stageDir = scratch(stageBase), destDir = scratch(destBase);
    struct stat a, b;
    ::stat(stageDir.c_str(), &a);
    ::stat(destDir.c_str(), &b);
    if ((a.st_dev != b.st_dev) != copies) {
        state.SkipWithError("the two directories are not on the file systems this case needs");
        return;
    }
    Files files = stage(stageDir, destDir);
    double commitTime = 0, baseTime = 0;
    // The baseline walks the files in the journal's path order too: the walk order alone moves
    // the rename loop by some 20% on ext4, which is not the commit's own cost.
    std::vector<int> order(kFiles);
    for (int i = 0; i < kFiles; ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](int x, int y) { return files.targets[x] < files.targets[y]; });
    auto time_commit = [&] {
        clear_dest(destDir);
        Transaction txn;
        for (int i = 0; i < kFiles; ++i) txn.add_move(files.sources[i], files.targets[i]);
        auto start = Clock::now();
        txn.commit();
        double t = seconds_since(start);
        if (!copies) move_back(files);
        return t;
    };
    auto time_baseline = [&] {
        clear_dest(destDir);
        auto start = Clock::now();
        for (int i : order) {
            if (copies) plain_copy(files.sources[i], files.targets[i]);
            else ::rename(files.sources[i].c_str(), files.targets[i].c_str());
        }
        double t = seconds_since(start);
        if (!copies) move_back(files);
        return t;
    };
    // Alternating which side runs first keeps cache warmth from favouring either.
    bool commitFirst = true;
    for (auto _ : state) {
        double t = 0;
        if (commitFirst) {
            t = time_commit();
            baseTime += time_baseline();
        } else {
            baseTime += time_baseline();
            t = time_commit();
        }
        commitFirst = !commitFirst;
        commitTime += t;
        state.SetIterationTime(t);
    }
    state.counters["baseline_ms"] = benchmark::Counter(baseTime * 1e3 / double(state.iterations()));
    state.counters["ratio"] = commitTime / baseTime;
    std::error_code ec;
    std::filesystem::remove_all(stageDir, ec);
    std::filesystem::remove_all(destDir, ec);
}

void BM_CommitRenamesWithinOneFileSystem(benchmark::State& state) {
    run(state, "/tmp", "/tmp", false);
}
// A RAM-backed destination, as /flash behaves for a copy from /ram: a tmpfs mounted in a private
// mount namespace when permitted (root), else /tmp, whose disk then weighs in on both sides.
std::string copy_destination() {
    static std::string dest = [] {
        std::string dir = scratch("/tmp");
        if (::unshare(CLONE_NEWNS) == 0 &&
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=512m") == 0)
            return dir;
        return std::string("/tmp");
    }();
    return dest;
}

void BM_CommitCopiesAcrossFileSystems(benchmark::State& state) {
    run(state, "/dev/shm", copy_destination().c_str(), true);
}

BENCHMARK(BM_CommitRenamesWithinOneFileSystem)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CommitCopiesAcrossFileSystems)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Iterations(6);

}  // namespace

BENCHMARK_MAIN();
