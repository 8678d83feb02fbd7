// Settling scheduled actions over synthetic package databases of 100 to 5,000 packages: long
// dependency chains, fan-in to "system", providers with priorities, conflicts and bundles, with a
// widely needed package scheduled for removal that takes the disabled chains needing it along.
// BM_ApplyActions: manual time of apply_actions; "baseline_ms" is building the same records in
// memory (a floor for loading the database), "ratio" apply over build.
// BM_ResolveIndexedVsPlain: resolve_actions against the plain scans of the tests; "ratio" is
// plain time over indexed time.

#include "core/installer.h"
#include "plan/actions.h"
#include "plan/plain_resolution.h"
#include "plan/resolution.h"
#include "txn/transaction.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

constexpr Version kVersion = 0x06286600;  // 6.40
constexpr int kChainLength = 25;

class NullTerminal : public Terminal {
public:
    void write(std::string_view) override {}
    void flush() override {}
};

NullTerminal nullTerminal;

// Appends to a named string rather than concatenating temporaries: GCC 12 at -O3 sees a false
// overlap (-Wrestrict) in `"c" + std::to_string(n) + "-"`.
std::string numbered(const char* prefix, int n) {
    std::string s = prefix;
    s += std::to_string(n);
    return s;
}

InstalledPackage& add(Installer& in, const std::string& name) {
    auto p = std::make_unique<InstalledPackage>(name);
    p->version = kVersion;
    p->buildTime = 1;
    in.packages.push_back(std::move(p));
    return *in.packages.back();
}

// Fills a fresh Installer with `count` records in a shuffled (directory-like) order. The set is
// settled except for the request: lower-priority providers and conflicting legacy packages are
// already disabled. 40% of the chains are disabled and hang off "libfoo", which is scheduled for
// uninstall and takes them along.
Installer& build_database(int count) {
    Installer& in = Installer::reset();
    in.terminal = &nullTerminal;
    add(in, "system");
    InstalledPackage& libfoo = add(in, "libfoo");
    libfoo.depends.push_back({"system", 0, 0, 0});
    libfoo.action = kActionUninstall;
    const int services = std::max(1, count / 50);
    for (int s = 0; s < services; ++s) {
        const std::string service = numbered("svc", s);
        add(in, service + "-full").provides.push_back({service, 0, 0, 5});
        InstalledPackage& lite = add(in, service + "-lite");
        lite.provides.push_back({service, 0, 0, 3});
        lite.disabled = true;
        InstalledPackage& legacy = add(in, numbered("legacy", s));
        legacy.disabled = true;
    }

    for (int chain = 0; static_cast<int>(in.packages.size()) < count; ++chain) {
        const bool disabled = chain % 5 < 2;
        const bool bundled = chain % 10 == 3;
        const std::string bundleName = numbered("bundle", chain);
        if (bundled) add(in, bundleName).isBundle = true;
        std::string previous = disabled ? "libfoo" : "system";
        for (int k = 0; k < kChainLength && static_cast<int>(in.packages.size()) < count; ++k) {
            std::string name = numbered("c", chain);
            name += '-';
            name += std::to_string(k);
            InstalledPackage& p = add(in, name);
            p.depends.push_back({"system", 0, 0, 0});
            p.depends.push_back({previous, kVersion, 0, 0});
            const int s = (chain * kChainLength + k) % services;
            if (k % 3 == 2) p.depends.push_back({numbered("svc", s), 0, 0, 0});
            if (k % 7 == 6) p.conflicts.push_back({numbered("legacy", s), 0, 0, 0});
            p.disabled = disabled;
            if (bundled) p.bundle = {bundleName, kVersion, kVersion, 0};
            p.files.insert("/flash/nonexistent/" + name);
            previous = name;
        }
    }
    std::mt19937 rng(42);
    std::shuffle(in.packages.begin(), in.packages.end(), rng);
    return in;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_ApplyActions(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    double buildTime = 0, applyTime = 0;
    std::size_t left = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        Installer& in = build_database(count);
        buildTime += seconds_since(start);
        Transaction txn;
        start = Clock::now();
        benchmark::DoNotOptimize(apply_actions(in, txn, Verbosity::Silent));
        const double t = seconds_since(start);
        applyTime += t;
        state.SetIterationTime(t);
        left = in.packages.size();
        txn.cancel();
    }
    state.counters["baseline_ms"] =
        benchmark::Counter(buildTime * 1e3 / double(state.iterations()));
    state.counters["ratio"] = applyTime / buildTime;
    state.counters["left"] = double(left);
}

void BM_ResolveIndexedVsPlain(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    double plainTime = 0, indexedTime = 0;
    for (auto _ : state) {
        std::vector<InstalledPackage*> removals, enables;
        Installer& plain = build_database(count);
        auto start = Clock::now();
        benchmark::DoNotOptimize(
            plain_resolve_actions(plain, removals, enables, Verbosity::Silent));
        plainTime += seconds_since(start);
        const std::size_t plainRemovals = removals.size();

        removals.clear();
        enables.clear();
        Installer& indexed = build_database(count);
        start = Clock::now();
        benchmark::DoNotOptimize(resolve_actions(indexed, removals, enables, Verbosity::Silent));
        const double t = seconds_since(start);
        indexedTime += t;
        state.SetIterationTime(t);
        if (removals.size() != plainRemovals) state.SkipWithError("plain and indexed differ");
        state.counters["removals"] = double(removals.size());
    }
    state.counters["plain_ms"] = benchmark::Counter(plainTime * 1e3 / double(state.iterations()));
    state.counters["ratio"] = plainTime / indexedTime;
}

}  // namespace

BENCHMARK(BM_ApplyActions)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(5000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResolveIndexedVsPlain)
    ->Arg(100)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

BENCHMARK_MAIN();
