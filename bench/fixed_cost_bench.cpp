// The fixed cost of a run: whole-process time of installing a package of two files (a program
// of about 40 KB and a text of about 18 KB, the files of this machine nearest those sizes) by the
// installer's default run, against the plain program (bench/plain_install.cpp) unpacking the
// same package and `dpkg -i --root` of a .deb of the same files. Each on tmpfs into a fresh
// root, interleaved; only the process is timed. Goal: at most 1.2 times the plain program.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Runs a program with its output sent to /dev/null and adds its wall and CPU (user + system)
// seconds; false when it could not start or did not exit with 0.
bool timed_run(const std::vector<std::string>& args, double& wall, double& cpu) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    wall += std::chrono::duration<double>(Clock::now() - start).count();
    cpu += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Setup steps, untimed.
bool run_quiet(const std::vector<std::string>& args) {
    double wall = 0, cpu = 0;
    return timed_run(args, wall, cpu);
}

// The regular file below `top` whose size is nearest `bytes` (ties: the first path in order),
// so that the choice is the same on every run on one machine.
fs::path nearest_file(const fs::path& top, std::uintmax_t bytes) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(top, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    fs::path best;
    std::uintmax_t bestDistance = UINTMAX_MAX;
    for (const fs::path& p : found) {
        const std::uintmax_t size = fs::file_size(p, ec);
        if (ec) continue;
        const std::uintmax_t distance = size > bytes ? size - bytes : bytes - size;
        if (distance < bestDistance) {
            best = p;
            bestDistance = distance;
        }
    }
    return best;
}

// The scratch directory on tmpfs with the two files, the package and the .deb; removed at exit.
struct Fixture {
    Fixture() {
        std::string templ = "/dev/shm/fixed-cost-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) std::abort();
        dir = templ;
        const fs::path program = nearest_file("/usr/bin", 40 * 1024);
        const fs::path text = nearest_file("/usr/include", 18 * 1024);
        if (program.empty() || text.empty()) return;
        for (const fs::path& top : {dir / "tree", dir / "deb"}) {
            fs::create_directories(top / "bin");
            fs::create_directories(top / "share/doc");
            fs::copy_file(program, top / "bin" / program.filename());
            fs::permissions(top / "bin" / program.filename(), fs::perms(0755));
            fs::copy_file(text, top / "share/doc" / text.filename());
        }
        std::ofstream(dir / "payload.txt") << "name payload\nversion 6.40\nfiles tree\n";
        fs::create_directories(dir / "deb/DEBIAN");
        std::ofstream(dir / "deb/DEBIAN/control")
            << "Package: payload\nVersion: 6.40\nArchitecture: all\n"
               "Maintainer: bench <bench@localhost>\nDescription: benchmark payload\n";
        package = (dir / "payload.npk").string();
        deb = (dir / "payload.deb").string();
        made = run_quiet({PKGTOOL_BIN, "build", (dir / "payload.txt").string(), "-o", package});
        const std::string dpkgDeb = "/usr/bin/dpkg-deb";
        withDpkg = ::access(dpkgDeb.c_str(), X_OK) == 0 &&
                   run_quiet({dpkgDeb, "-Zgzip", "--build", (dir / "deb").string(), deb});
        label = program.filename().string() + " (" + std::to_string(fs::file_size(program)) +
                " B) and " + text.filename().string() + " (" +
                std::to_string(fs::file_size(text)) + " B)";
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;

    // A fresh root for the installer with the package uploaded into it.
    fs::path installer_root() const {
        const fs::path root = dir / "root";
        fs::remove_all(root);
        fs::create_directories(root / "flash/rw/pckg");
        fs::create_directories(root / "flash/var/pdb");
        fs::create_directories(root / "ram");
        fs::create_hard_link(package, root / "flash/rw/pckg/payload.npk");
        return root;
    }
    fs::path plain_out() const {
        fs::remove_all(dir / "out");
        return dir / "out";
    }
    fs::path dpkg_root() const {
        const fs::path root = dir / "droot";
        fs::remove_all(root);
        fs::create_directories(root / "var/lib/dpkg/info");
        fs::create_directories(root / "var/lib/dpkg/updates");
        std::ofstream(root / "var/lib/dpkg/status");
        return root;
    }

    fs::path dir;
    std::string package;
    std::string deb;
    std::string label;
    bool made = false;
    bool withDpkg = false;
};

// Also timed: a bare `sync` process, which is what the installer's flush before it writes the
// post-install log waits for; it shows how much the rest of the machine had left to write back.
void BM_SmallPackageInstall(benchmark::State& state) {
    const Fixture fixture;
    if (!fixture.made) {
        state.SkipWithError("could not build the package");
        return;
    }
    double installerWall = 0, installerCpu = 0, plainWall = 0, plainCpu = 0;
    double dpkgWall = 0, dpkgCpu = 0, syncWall = 0, syncCpu = 0;
    bool ok = true;
    for (auto _ : state) {
        const fs::path root = fixture.installer_root();
        const double before = installerWall;
        ok = timed_run({INSTALLER_BIN, "-q", "-r", root.string()}, installerWall, installerCpu) &&
             ok;
        state.SetIterationTime(installerWall - before);
        ok = timed_run({PLAIN_INSTALL_BIN, fixture.package, fixture.plain_out().string()},
                       plainWall, plainCpu) &&
             ok;
        if (fixture.withDpkg)
            ok = timed_run({"/usr/bin/dpkg", "--root=" + fixture.dpkg_root().string(),
                            "--force-not-root", "--force-script-chrootless", "-i", fixture.deb},
                           dpkgWall, dpkgCpu) &&
                 ok;
        ok = timed_run({"/bin/sync"}, syncWall, syncCpu) && ok;
    }
    if (!ok) state.SkipWithError("a run failed");
    const double n = double(state.iterations());
    state.counters["installer_ms"] = installerWall * 1e3 / n;
    state.counters["installer_cpu_ms"] = installerCpu * 1e3 / n;
    state.counters["plain_ms"] = plainWall * 1e3 / n;
    state.counters["plain_cpu_ms"] = plainCpu * 1e3 / n;
    state.counters["sync_ms"] = syncWall * 1e3 / n;
    state.counters["ratio"] = installerWall / plainWall;
    state.counters["cpu_ratio"] = installerCpu / plainCpu;
    if (fixture.withDpkg) {
        state.counters["dpkg_ms"] = dpkgWall * 1e3 / n;
        state.counters["dpkg_cpu_ms"] = dpkgCpu * 1e3 / n;
        state.counters["dpkg_ratio"] = installerWall / dpkgWall;
    }
    state.SetLabel(fixture.label);
}
BENCHMARK(BM_SmallPackageInstall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);

}  // namespace

BENCHMARK_MAIN();
