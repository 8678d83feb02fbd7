// The installer's and pkgtool's runs as data: each row prepares a scratch router, makes one run,
// and says what the run must print, which packages are installed after it and how the tree
// below the root changed. Packages are written in short_package() form.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

struct Row {
    std::string name{};
    // Steps before the run, each of which must succeed: "run [ARG or VAR=value...] [< PACKAGE]",
    // "stream PACKAGE" (run - < PACKAGE), "upload PATH PACKAGE", "put PATH=CONTENT", "mkdir PATH",
    // "link PATH TARGET", "rm PATH", "tick" (a pause), "schedule NAME WORD", "order DIR
    // ENTRY..." (the directory lists them so), "lock MS" (another run holds the run lock for MS
    // ms), "exec PATH" (a copy of sleep runs from PATH). A run whose first word is "pkgtool" runs
    // that, "@" standing for the root. A package may start with "cutN " (its last N bytes cut
    // off), "flipN " (the byte N before its last one altered) or "raw " (the rest as it is).
    Lines given{};
    Lines args{};         // after "-r <root>"; words holding "=" go to the environment
    std::string input{};  // a package on standard input
    int status = 0;
    // Parts of the standard output, in this order; "=..." all of it, "!..." absent, "2>..." all
    // of the standard error, "2>~..." a part of it.
    Lines out{};
    const char* installed = nullptr;  // Router::installed() after the run
    // Changed paths below the root: "+path" added, "-path" removed, "~path" changed, each
    // optionally "=mode content" ("=@file" the bytes of that upload, "@-" of the input); "path*"
    // the changes of that kind below (one at least); "!path" absent. Any other change fails the
    // row, except in flash/postlog and the run lock ram/installer.lock, and below
    // flash/var/pdb/<name>/ (there too with "same").
    Lines change{};
    std::uint64_t flash = 2048, ram = 512;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Lines words(const std::string& text) {
    std::istringstream in(text);
    Lines out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::string bytes_of(const std::string& text) {
    const std::size_t space = text.find(' ');
    const std::string first = text.substr(0, space), rest = text.substr(space + 1);
    if (first == "raw") return rest;
    const bool cut = first.starts_with("cut"), flip = first.starts_with("flip");
    std::string bytes = short_package(cut || flip ? rest : text);
    if (cut) bytes.resize(bytes.size() - std::stoul(first.substr(3)));
    if (flip) bytes[bytes.size() - 1 - std::stoul(first.substr(4))] ^= 0x5a;
    return bytes;
}

// tmpfs lists entries in the order they were linked in, or in its reverse, by kernel.
void order(const Router& r, const std::string& dir, const Lines& names) {
    const std::string hold = r.at(dir + "/../.hold/");
    auto listing = [&] {
        Lines out;
        for (const auto& e : fs::directory_iterator(r.at(dir))) out.push_back(e.path().filename());
        return out;
    };
    for (int pass = 0; pass < 2 && listing() != names; ++pass) {
        fs::create_directory(hold);
        for (const std::string& n : names) fs::rename(r.at(dir + "/" + n), hold + n);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string& n = names[pass == 0 ? i : names.size() - 1 - i];
            fs::rename(hold + n, r.at(dir + "/" + n));
        }
        fs::remove(hold);
    }
    ASSERT_EQ(listing(), names);
}

// Files as "mode content", links as "-> target"; directories are left out.
std::map<std::string, std::string> view(const Tree& tree) {
    std::map<std::string, std::string> out;
    for (const auto& [path, node] : tree)
        if (!node.starts_with("dir "))  // "file MODE content"
            out[path] = node[0] == '-' ? node : node.substr(5, 5) + summary(node.substr(10));
    return out;
}

class Scenario : public ::testing::TestWithParam<Row> {
protected:
    RunResult run(const Router& r, const std::string& argsAndEnv, const std::string& input) {
        Lines args, env = {"PATH=/usr/bin:/bin"};
        for (const std::string& w : words(here(r, argsAndEnv)))
            (has(w, "=") ? env : args).push_back(w);
        if (!args.empty() && args[0] == "pkgtool")
            return run_program(PKGTOOL_BIN, Lines(args.begin() + 1, args.end()), input, env);
        return r.run(args, input, Lines(env.begin() + 1, env.end()));
    }
    static std::string here(const Router& r, std::string text) {
        for (std::size_t at = 0; (at = text.find('@', at)) != std::string::npos;)
            text.replace(at, 1, r.at("")), at += r.at("").size();
        return text;
    }

    void prepare(const Router& r, const std::string& step) {
        SCOPED_TRACE(step);
        const std::size_t space = std::min(step.find(' '), step.size());
        const std::string verb = step.substr(0, space);
        const std::string rest = step.substr(std::min(space + 1, step.size()));
        const std::string path = rest.substr(0, rest.find_first_of(" ="));
        const std::string text = rest.substr(std::min(rest.size(), path.size() + 1));
        if (verb == "run" || verb == "stream" || verb == "pkgtool") {
            const std::size_t in = rest.find(" < ");
            const bool input = verb == "stream" || in != std::string::npos;
            const std::string args =
                verb == "stream" ? "-" : verb == "run" ? rest.substr(0, in) : step;
            RunResult s = run(r, args,
                              input ? bytes_of(rest.substr(verb == "stream" ? 0 : in + 3)) : "");
            ASSERT_EQ(s.status, 0) << s.out;
        } else if (verb == "upload") {
            r.put(path, uploads[path.substr(path.rfind('/') + 1)] = bytes_of(text));
        } else if (verb == "put") {
            r.put(path, text);
        } else if (verb == "tick") {  // file times of tmpfs move in clock ticks of a few ms
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } else if (verb == "link") {
            fs::create_symlink(text, r.at(path));
        } else if (verb == "mkdir") {
            fs::create_directories(r.at(path));
        } else if (verb == "rm") {
            ASSERT_TRUE(fs::remove(r.at(path)));
        } else if (verb == "schedule") {
            r.schedule(path, text);
        } else if (verb == "lock") {
            const int fd = ::open(r.at("ram/installer.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC,
                                  0600);
            ASSERT_EQ(::flock(fd, LOCK_EX), 0);
            release = std::thread([fd, ms = std::stoi(rest)] {
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                ::close(fd);
            });
        } else if (verb == "exec") {  // running once the kernel maps its file
            fs::create_directories(fs::path(r.at(path)).parent_path());
            fs::copy_file("/bin/sleep", r.at(path));
            if ((running = ::fork()) == 0)
                ::execl(r.at(path).c_str(), "p", "30", nullptr), ::_exit(9);
            const std::string exe = "/proc/" + std::to_string(running) + "/exe";
            for (int i = 0; i < 200 && fs::read_symlink(exe, ec) != r.at(path); ++i) ::usleep(5000);
        } else {
            ASSERT_EQ(verb, "order");
            order(r, path, words(text));
        }
    }

    void check_change(const Tree& beforeTree, const Tree& afterTree, const Lines& expected) {
        auto before = view(beforeTree), after = view(afterTree);
        std::map<std::string, std::string> diff;  // path -> "+=", "-" or "~=" and the new node
        for (const auto& [path, node] : before)
            if (!after.count(path)) diff[path] = "-";
            else if (after[path] != node) diff[path] = "~=" + after[path];
        for (const auto& [path, node] : after)
            if (!before.count(path)) diff[path] = "+=" + node;
        const bool same = std::count(expected.begin(), expected.end(), "same") > 0;
        std::set<std::string> named;
        for (const std::string& e : expected) {
            const std::size_t eq = e.find('=');
            const std::string path = e.substr(1, eq - 1);
            named.insert(path);
            if (e == "same") continue;
            if (path.ends_with("*")) {
                int n = 0;
                for (const auto& [p, what] : diff)
                    if (p.starts_with(path.substr(0, path.size() - 1)) && what[0] == e[0])
                        ++n, named.insert(p);
                EXPECT_GT(n, 0) << e;
            } else if (e[0] == '!') {
                EXPECT_FALSE(after.count(path)) << path << " is there";
            } else if (!diff.count(path) || diff[path][0] != e[0]) {
                ADD_FAILURE() << "no change " << e;
            } else if (eq != std::string::npos) {
                std::string want = e.substr(eq + 1), got = diff[path].substr(2);
                if (want.starts_with("@")) {
                    want = summary(want == "@-" ? input : uploads[want.substr(1)]);
                    got = got.substr(got.find(' ') + 1);
                }
                EXPECT_EQ(got, want) << path;
            }
        }
        for (const auto& [path, what] : diff) {
            const bool database = path.starts_with("flash/var/pdb/") && path[14] != '.';
            const bool kept = path == "flash/postlog" || path == "ram/installer.lock";
            if (!named.count(path) && !kept && (same || !database))
                ADD_FAILURE() << "unexpected change " << what[0] << path << " " << what.substr(1);
        }
    }

    void TearDown() override {
        if (release.joinable()) release.join();
        if (running > 0) ::kill(running, SIGKILL), ::waitpid(running, nullptr, 0);
    }

    std::map<std::string, std::string> uploads;  // by file name
    std::string input;
    std::thread release;
    pid_t running = 0;
    std::error_code ec;
};

TEST_P(Scenario, Run) {
    const Row& row = GetParam();
    ROUTER(r, row.flash, row.ram);
    for (const std::string& step : row.given)
        if (prepare(r, step); HasFatalFailure()) return;
    input = row.input.empty() ? "" : bytes_of(row.input);
    const Tree before = snapshot(r.at(""));
    std::string argsAndEnv;
    for (const std::string& a : row.args) argsAndEnv += a + " ";
    RunResult result = run(r, argsAndEnv, input);
    EXPECT_EQ(result.status, row.status) << result.out;
    std::size_t at = 0;
    for (std::string part : row.out) {
        part = here(r, part);
        if (part.starts_with("=")) EXPECT_EQ(result.out, part.substr(1));
        else if (part.starts_with("2>~")) EXPECT_TRUE(has(result.err, part.substr(3))) << result.err;
        else if (part.starts_with("!")) EXPECT_FALSE(has(result.out, part.substr(1))) << result.out;
        else if (part.starts_with("2>")) EXPECT_EQ(result.err, part.substr(2));
        else if ((at = result.out.find(part, at)) == std::string::npos)
            ADD_FAILURE() << "no \"" << part << "\" in order in\n" << result.out, at = 0;
    }
    if (row.installed) { EXPECT_EQ(r.installed(), row.installed); }
    check_change(before, snapshot(r.at("")), row.change);
}

const std::string kUpload = "upload flash/rw/pckg/";
// base, app (needs base) and tool, installed.
const Lines kThree = {"stream base 6.40; provides core; file bin/base 0755 b",
                      "stream app 6.40; depends base; file bin/app 0755 a",
                      "stream tool 6.40; file bin/tool 0755 t"};
// Candidates in every upload directory, the first one's the newest.
const Lines kDirs = {"upload rw/pckg/.download/a.npk a 6.41",
                     "upload rw/pckg/.download/A.NPK a 6.50",
                     "upload rw/pckg/.download/a.npk.old a 6.50",
                     "upload rw/pckg/.download/.a.npk a 6.50", "upload flash/var/pckg/a.dpk a 6.43",
                     "upload flash/var/pckg/broken.npk raw not a package"};
// A staged run: a file copied in from /ram (another file system), one renamed on /flash, a
// file to delete and a link to make.
const Lines kStaged = {"put ram/tmpA1b2C3=cross-device payload",
                       "put flash/tmpD4e5F6=same-device payload", "put flash/var/pdb/old/files=old",
                       "put ram/MANIFEST=M /flash/pkg/bin/tool /ram/tmpA1b2C3\n"
                       "M /flash/pkg/etc/conf /flash/tmpD4e5F6\nU /flash/var/pdb/old/files\n"
                       "L /flash/pkg/image /flash/bootimage\n"};
const Lines kCommitted = {"+flash/pkg/bin/tool=0644 cross-device payload", "-flash/tmpD4e5F6",
                          "+flash/pkg/etc/conf=0644 same-device payload",
                          "-flash/var/pdb/old/files", "+flash/pkg/image=-> /flash/bootimage"};
const Lines kSafe = {"upload rw/pckg/.download/system.npk system 6.40; flags boot; image text k",
                     "upload rw/pckg/.download/a.npk a 6.40; file bin/a 0755 a",
                     "run --safe bootimage=1"};
const std::string kX = "put flash/var/pdb/x/files=x";
const std::string kUnlinkX = "put ram/MANIFEST=U /flash/var/pdb/x/files\n";
const std::string kLoad = "could not load manifest /ram/MANIFEST: line ";
const std::string kHeader = "            Name          Version                Built" +
                            std::string(36, ' ') + "Note\n" + std::string(94, '-') + "\n";
// Installed a and b; a is kept as its image. b is to be disabled by the next good run.
const Lines kStreamed = {"stream a 6.40; image text one; file bin/a 0755 a",
                         "stream b 6.40; file bin/b 0755 b", "schedule b disable"};
const std::string kNext = "a 6.41; image text two; file bin/a 0755 a2";
const std::string kBoot = "system 6.40; flags boot; image text k";
// Bundles of m1 and m2, or of core and an optional extra.
const std::string kMembers = " | m1 6.40; file bin/m1 0755 m1 | m2 6.40; file bin/m2 0755 m2";
const std::string kSuite = "suite 6.40; bundle; trailer arch powerpc" + kMembers;
const std::string kSuiteImage = "suite 6.40; bundle; image text img" + kMembers;
const Lines kSuiteOff = {"stream base 6.40; file bin/base 0755 b", "schedule suite disable", "run",
                         "rm ram/pdb/suite/schedule", "run"};
const std::string kExtra = "bundle; optional extra | core 6.40; file bin/core 0755 c | extra 6.40; "
                           "file bin/extra 0755 e";
// Image packages whose files a database entry no longer lists, as earlier versions left them.
const Lines kImages = {"stream b 6.40",
                       "stream a 6.40; image text 1; file bin/a 0755 a; file bin/old 0755 o",
                       "stream " + kSuiteImage, "rm flash/var/pdb/a/files"};
const std::string kOversize = "{25 blocks}";  // past the bound of text chunks
const std::string kTrailer = "; trailer arch mips; trailer empty-depends";
// A disabled x or y provides svc; p needs q and svc, q needs p and x, r needs p.
Lines cycle() {
    Lines out;
    const std::map<std::string, std::string> deps = {
        {"p", "q 0 0\nsvc 0 0\n"}, {"q", "p 0 0\nx 0 0\n"}, {"r", "p 0 0\n"}};
    for (const std::string n : {"p", "q", "r", "y", "x", "system"}) {
        const std::string dir = "put flash/var/pdb/" + n + "/";
        out = out + Lines{dir + "version=103310848 0\n", dir + "files="};
        if (deps.count(n)) out.push_back(dir + "deps=" + deps.at(n));
        if (n == "x" || n == "y") out.push_back(dir + "provides=svc 0 0 0\n");
        if (n != "r" && n != "system") out.push_back(dir + "disabled=auto\n");
    }
    return out + Lines{"order flash/var/pdb p q r y x system", "schedule p uninstall"};
}

// The installer's cases: adding one is adding a row.
const Row kRows[] = {
    // Installation, upgrade and downgrade from the upload directories.
    {.name = "installs a new package",
     .given = {kUpload + "a.npk a 6.40; file bin/a 0755 one; file etc/a.conf 0644 conf"},
     .out = {"installed a-6.40"}, .installed = "a 6.40",
     .change = {"+flash/bin/a=0755 one", "+flash/etc/a.conf=0644 conf", "+flash/PCKGS_CHANGED",
                "+flash/postlog=0644 WARNING: could not open repo\ninstalled a-6.40\n"}},
    // A file without an image chunk stays in the upload directory and is omitted next time.
    {.name = "an installed build is omitted",
     .given = {kUpload + "a.npk a 6.40; file bin/a 0755 one", "run"}, .change = {"same"}},
    {.name = "reinstall installs the same build again",
     .given = {kUpload + "a.npk a 6.40; file bin/a 0755 one", "run"}, .args = {"--reinstall"},
     .out = {"\nResuming upgrade...\n", "installed a-6.40"}},
    {.name = "upgrade replaces files and keeps the log",
     .given = {"stream a 6.40; file bin/a 0755 one; file etc/a.conf 0644 conf",
               kUpload + "a.npk a 6.41; file bin/a 0755 two; file bin/new 0755 new"},
     .installed = "a 6.41",
     .change = {"~flash/bin/a=0755 two", "+flash/bin/new=0755 new", "-flash/etc/a.conf",
                "~flash/postlog=0644 WARNING: could not open repo\ninstalled a-6.40\n"
                "installed a-6.41\n"}},
    {.name = "downgrade is refused", .given = {"stream a 6.41", kUpload + "a.npk a 6.39"},
     .installed = "a 6.41", .change = {"same"}},
    {.name = "downgrade marker keeps its floor",
     .given = {"stream a 6.41", kUpload + "a.npk a 6.39", "put ram/DOWNGRADE=103310848\n"},
     .installed = "a 6.41", .change = {"same"}},
    {.name = "downgrade marker allows a downgrade",
     .given = {"stream a 6.41; file bin/a 0755 new", kUpload + "a.npk a 6.39; file bin/a 0755 old",
               "put ram/DOWNGRADE="}, .installed = "a 6.39", .change = {"~flash/bin/a=0755 old"}},
    {.name = "down option allows a downgrade", .given = {"stream a 6.39; file bin/a 0755 new",
               kUpload + "a.npk a 6.38; file bin/a 0755 older"}, .args = {"-down"},
     .installed = "a 6.38", .change = {"~flash/bin/a=0755 older"}},
    {.name = "the first upload directory with a candidate wins",
     .given = kDirs + Lines{kUpload + "a.npk a 6.42"}, .installed = "a 6.41",
     .change = {"+flash/PCKGS_CHANGED"}},
    {.name = "an ignored upload directory is passed over",
     .given = kDirs + Lines{kUpload + "a.npk a 6.42", "put rw/pckg/.download/IGNORE="},
     .installed = "a 6.42", .change = {"+flash/PCKGS_CHANGED"}},
    {.name = "a broken upload is named", .given = kDirs + Lines{"put rw/pckg/.download/IGNORE="},
     .out = {"ERROR: broken package broken.npk"}, .installed = "a 6.43",
     .change = {"+flash/PCKGS_CHANGED"}},
    // Bundles.
    {.name = "an optional bundle member goes in disabled",
     .given = {kUpload + "s.npk suite 6.40; " + kExtra},
     .installed = "core B 6.40, extra X B 6.40, suite 6.40",
     .change = {"+flash/bin/core=0755 c", "+flash/x/extra/bin/extra=0755 e",
                "+flash/PCKGS_CHANGED"}},
    {.name = "an enabled optional member stays enabled across an upgrade",
     .given = {"stream suite 6.40; " + kExtra, "schedule extra enable", "run",
               "rm ram/pdb/extra/schedule",
               kUpload + "s.npk suite 6.41; bundle; optional extra | core 6.41; file bin/core "
                         "0755 c2 | extra 6.41; file bin/extra 0755 e2"},
     .installed = "core B 6.41, extra B 6.41, suite 6.41",
     .change = {"~flash/bin/core=0755 c2", "-flash/x/extra/bin/extra", "+flash/bin/extra=0755 e2"}},
    {.name = "a member the new bundle lacks is uninstalled",
     .given = {"stream suite 6.40; bundle | core 6.40; file bin/core 0755 c | extra 6.40; "
               "file bin/extra 0755 e",
               kUpload + "s.npk suite 6.42; bundle | core 6.42; file bin/core 0755 c3"},
     .installed = "core B 6.42, suite 6.42",
     .change = {"~flash/bin/core=0755 c3", "-flash/bin/extra", "!flash/var/pdb/extra/files"}},
    // Staged runs.
    {.name = "a manifest that cannot be saved fails the safe run",
     .given = {kUpload + "a.npk a 6.40; file bin/a 0755 a", "mkdir ram/MANIFEST"},
     .args = {"--safe"}, .status = 1, .out = {"ERROR: could not save manifest"},
     .change = {"same"}},
    // The boot image is staged straight from its upload, which must survive the cancel.
    {.name = "cancel drops a safe run", .given = kSafe, .args = {"--cancel"},
     .change = {"-ram/MANIFEST", "-flash/tmp*", "-flash/.staging", "!flash/bin/a"}},
    {.name = "a safe run only stages", .given = {kSafe[0], kSafe[1]},
     .args = {"--safe", "bootimage=1"},
     .change = {"+ram/MANIFEST", "+flash/tmp*", "+flash/.staging"}},
    {.name = "a safe run cancels the one before", .given = kSafe, .args = {"--safe", "bootimage=1"},
     .out = {"cancelling earlier staged upgrade"},
     .change = {"~ram/MANIFEST", "-flash/tmp*", "+flash/tmp*"}},
    {.name = "a second run waits for the run lock", .given = {kUpload + "a.npk a 6.40", "lock 300"},
     .installed = "a 6.40", .change = {"+flash/PCKGS_CHANGED"}},
    {.name = "a second run refuses after a while", .given = {kUpload + "a.npk a 6.40", "lock 6500"},
     .status = 1, .out = {"=ERROR: another installer run is in progress\n"}, .change = {"same"}},
    {.name = "the listing takes no lock", .given = {"stream a 6.40", "lock 5300"},
     .args = {"--show"}, .installed = "a 6.40", .change = {"same"}},
    // Copied from /ram onto a running program; a move whose source never existed is named.
    {.name = "a commit replaces a running program",
     .given = {"exec flash/bin/prog", "put ram/tmpA1b2C3=new", "put flash/tmpD4e5F6=conf",
               "put ram/MANIFEST=M /flash/bin/prog /ram/tmpA1b2C3\nM /flash/etc/conf "
               "/flash/tmpD4e5F6\nM /flash/etc/lost /flash/tmpGone00\n"}, .args = {"--commit"},
     .status = 1, .out = {"2>rename /flash/etc/lost: No such file or directory\n"},
     .change = {"~flash/bin/prog=0644 new", "-flash/tmpD4e5F6", "+flash/etc/conf=0644 conf"}},
    {.name = "recovery deletes leftovers but not an older file named like one",
     .given = {kUpload + "a.npk a 6.40; file bin/tmpAb12Cd 0755 a", "run", "tick",
               "put flash/.staging=", "put flash/tmpD4e5F6=left"}, .args = {"--cancel"},
     .change = {"-flash/tmpD4e5F6", "-flash/.staging"}},
    {.name = "commit completes a safe run",
     .given = {kUpload + "a.npk a 6.40; file bin/a 0755 a", "run --safe"}, .args = {"--commit"},
     .installed = "a 6.40",
     .change = {"+flash/bin/a=0755 a", "-flash/tmp*", "-flash/.staging", "+flash/PCKGS_CHANGED"}},
    {.name = "commit copies across devices and keeps the manifest", .given = kStaged,
     .args = {"--commit"},
     .out = {"WARNING: no room on flash for old and new files: a power cut during this install "
             "can leave files missing\nfinishing install... ", "\b \n", "2>"}, .change = kCommitted,
     .flash = 256, .ram = 256},
    {.name = "a repeated commit converges", .given = kStaged + Lines{"run --commit"},
     .args = {"--commit"}, .out = {"2>"}, .change = {"same"}, .flash = 256, .ram = 256},
    {.name = "quiet and reinstall before commit keep their output", .given = kStaged,
     .args = {"-q", "--reinstall", "--safe", "--commit"},
     .out = {"\nResuming upgrade...\nfinishing install... "}, .change = kCommitted, .flash = 256,
     .ram = 256},
    {.name = "cancel deletes the manifest and the staged files", .given = kStaged,
     .args = {"--cancel"}, .out = {"="},
     .change = {"-ram/MANIFEST", "-ram/tmpA1b2C3", "-flash/tmpD4e5F6"}, .flash = 256, .ram = 256},
    {.name = "usage ends the run before any chroot", .args = {"-r", "/missing", "--month"},
     .out = {"=usage: installer [-q] [-r <root>] [-]\n", "2>"}, .change = {"same"}},
    {.name = "a missing root ends the run", .args = {"-r", "@missing", "--show"}, .status = 1,
     .out = {"=", "2>chroot: @missing: No such file or directory\n"}, .change = {"same"}},
    // A manifest that does not load, by its second line, an entry cut short or a directory,
    // changes nothing, not even by the good line before.
    {.name = "a bad manifest line fails the commit", .given = {kX, kUnlinkX + "M /flash/a\n"},
     .args = {"--commit"}, .status = 1, .out = {"2>" + kLoad + "2\n"}, .change = {"same"}},
    {.name = "a manifest that cannot be read fails the commit", .given = {"mkdir ram/MANIFEST"},
     .args = {"--commit"}, .status = 1, .out = {"2>" + kLoad + "1\n"}, .change = {"same"}},
    {.name = "a journal that does not load is removed unused",
     .given = {"put flash/var/pdb/.journal=M /flash/a"}, .status = 1,
     .out = {"ERROR: could not load journal /flash/var/pdb/.journal",
             "ERROR: router installation failed!!!"}, .change = {"-flash/var/pdb/.journal"}},
    // Failures change nothing.
    {.name = "nothing to install fails", .given = {"put flash/var/pdb/.keep="}, .status = 1,
     .out = {"ERROR: router installation failed!!!"}, .change = {"same"}},
    {.name = "a package for another architecture fails the run and the schedule waits",
     .given = {"stream a 6.40; file bin/a 0755 a", "schedule a disable",
               kUpload + "b.npk b 6.40; arch mips; file bin/b 0755 b"}, .status = 1,
     .out = {"ERROR: can not install b-6.40"}, .change = {"same"}},
    {.name = "too big for flash", .given = {"put flash/var/pdb/.keep=",
               "upload rw/pckg/.download/big.npk big 6.40; file big 0644 {38 blocks}"},
     .status = 28, .out = {"ERROR: not enough space for upgrade"}, .change = {"same"}, .flash = 40},
    {.name = "too big for either disk", .given = {"put flash/var/pdb/.keep=",
               "upload rw/pckg/.download/big.npk big 6.40; file big 0644 {12 blocks}"}, .status = 1,
     .out = {"ERROR: installation of big-6.40 failed: disk is too small"}, .change = {"same"},
     .flash = 8, .ram = 8},
    {.name = "cleanup drops packages made for an old system",
     .given = {"stream system 6.40", "stream new 6.40; depends system 3.22; file bin/new 0755 n",
               "stream old 6.40; depends system 3.21; file bin/old 0755 o", "stream zephlin 6.40",
               "stream disk-drivers 6.40"}, .args = {"--cleanup"},
     .installed = "disk-drivers 6.40, new 6.40, system 6.40, zephlin 6.40",
     .change = {"-flash/bin/old"}},
    // Images.
    {.name = "a boot package becomes the boot image",
     .given = {kUpload + "system.npk " + kBoot + "; file bin/sys 0755 s"}, .args = {"bootimage=1"},
     .change = {"+flash/bootimage=@system.npk", "-flash/rw/pckg/system.npk", "+flash/PCKGS_CHANGED",
                "+flash/var/pdb/system/image=-> /flash/bootimage", "+flash/UPGRADED"}},
    // Removing the old boot image without a replacement would leave a router that cannot boot.
    {.name = "a boot package without an image still becomes the boot image",
     .given = {kUpload + "system.npk " + kBoot, "run bootimage=1",
               kUpload + "system.npk system 6.41; flags boot; file bin/sys 0755 s2"},
     .args = {"bootimage=1"}, .installed = "system 6.41",
     .change = {"~flash/bootimage=@system.npk", "-flash/rw/pckg/system.npk",
                "-flash/var/pdb/system/image"}},
    {.name = "a package with an image is kept as its database image",
     .given = {kUpload + "a.npk a 6.40; note kept; image text img; file bin/a 0755 a"},
     .change = {"+flash/var/pdb/a/image=@a.npk", "-flash/rw/pckg/a.npk", "+flash/bin/a=0755 a",
                "+flash/PCKGS_CHANGED"}},
    {.name = "the installed image build uploaded again changes nothing",
     .given = {kUpload + "a.npk a 6.40; image text img", "run",
               kUpload + "a.npk a 6.40; image text img"}, .change = {"same"}},
    {.name = "a stale older image does not replace the installed one",
     .given = {kUpload + "a.npk a 6.40; image text img", "run",
               kUpload + "a.npk a 6.39; image text old"}, .installed = "a 6.40",
     .change = {"same"}},
    {.name = "a conflicting newcomer goes in disabled",
     .given = {"stream a 6.40; conflicts b", kUpload + "b.npk b 6.40; file bin/b 0755 b"},
     .installed = "a 6.40, b X 6.40", .change = {"+flash/x/b/bin/b=0755 b"}},
    {.name = "the alternate magic only unpacks files", .given = {"stream a 6.40; file bin/a 0755 a",
               kUpload + "p.npk a 6.41; magic alternate; file bin/p 0755 p"},
     .out = {"installed a-6.41"}, .installed = "a 6.40", .change = {"+flash/bin/p=0755 p"}},
    // Schedule files.
    {.name = "uninstall of a needed package is refused",
     .given = kThree + Lines{"schedule base uninstall"},
     .out = {"WARNING: can not uninstall base-6.40: app depends on it"},
     .installed = "app 6.40, base 6.40, tool 6.40", .change = {"same"}},
    {.name = "disable of a needed package is refused",
     .given = kThree + Lines{"schedule base disable"},
     .out = {"WARNING: can not disable base-6.40: app depends on it"},
     .installed = "app 6.40, base 6.40, tool 6.40", .change = {"same"}},
    {.name = "disable", .given = kThree + Lines{"schedule app disable"},
     .out = {"disabled app-6.40"}, .installed = "app X 6.40, base 6.40, tool 6.40",
     .change = {"+flash/var/pdb/app/disabled=0600 user\n"}},
    {.name = "enabling a package enables what it needs",
     .given = kThree + Lines{"schedule app disable", "run", "rm ram/pdb/app/schedule",
                             "schedule base disable", "run", "rm ram/pdb/base/schedule",
                             "schedule app enable"}, .installed = "app 6.40, base 6.40, tool 6.40",
     .change = {"-flash/var/pdb/base/disabled", "-flash/var/pdb/app/disabled",
                "+flash/var/pdb/app/enabled=0600 user\n"}},
    {.name = "a disabled package goes with what it needs",
     .given = kThree + Lines{"schedule app disable", "run", "rm ram/pdb/app/schedule",
                             "schedule base uninstall"}, .installed = "tool 6.40",
     .change = {"-flash/bin/base", "-flash/bin/app", "!flash/var/pdb/app/files"}},
    {.name = "an upgrade enables again what was enabled, once",
     .given = kThree + Lines{kUpload + "base.npk base 6.41; provides core; file bin/base 0755 b2"},
     .out = {"!enabled base"}, .installed = "app 6.40, base 6.41, tool 6.40",
     .change = {"~flash/bin/base=0755 b2"}},
    {.name = "uninstalling everything is refused",
     .given = kThree + Lines{"schedule base uninstall", "schedule app uninstall",
                             "schedule tool uninstall"},
     .out = {"ERROR: can not uninstall or disable all packages"}, .change = {"same"}},
    // Stream mode.
    {.name = "the stream copy becomes the image", .args = {"-"},
     .input = "a 6.40; image text img; file bin/a 0755 a",
     .change = {"+flash/var/pdb/a/image=@-", "+flash/bin/a=0755 a", "+flash/PCKGS_CHANGED"}},
    {.name = "no image is kept without an image chunk", .args = {"-"},
     .input = "b 6.40; file bin/b 0755 b",
     .change = {"+flash/bin/b=0755 b", "+flash/PCKGS_CHANGED", "!flash/var/pdb/b/image"}},
    {.name = "the stream copy of a boot package becomes the boot image",
     .args = {"-", "bootimage=1"}, .input = kBoot,
     .change = {"+flash/bootimage=@-", "+flash/var/pdb/system/image=-> /flash/bootimage",
                "+flash/PCKGS_CHANGED", "+flash/UPGRADED"}},
    // The header part is enough to omit the same build: the copy is cut short and must go.
    {.name = "the same boot package streamed again changes nothing",
     .given = {"run - bootimage=1 < " + kBoot}, .args = {"-", "bootimage=1"}, .input = kBoot,
     .change = {"same"}},
    {.name = "the same boot package reinstalled changes nothing",
     .given = {"run - bootimage=1 < " + kBoot}, .args = {"--reinstall", "-", "bootimage=1"},
     .input = kBoot, .change = {"same"}},
    {.name = "a streamed boot package without an image becomes the boot image",
     .given = {"run - bootimage=1 < " + kBoot}, .args = {"-", "bootimage=1"},
     .input = "system 6.41; flags boot; file bin/sys 0755 s",
     .change = {"~flash/bootimage=@-", "-flash/var/pdb/system/image"}},
    {.name = "a cut stream changes nothing", .given = kStreamed, .args = {"-"},
     .input = "cut40 " + kNext, .status = 1, .installed = "a 6.40, b 6.40", .change = {"same"}},
    {.name = "a stream copy that cannot be made cancels everything",
     .given = kStreamed + Lines{"mkdir flash/var/pdb/.stream-image"}, .args = {"-"},
     .input = "c 6.40; file bin/c 0755 c", .status = 255, .out = {"ERROR: could not open image\n"},
     .change = {"same"}},
    {.name = "a good stream carries out the waiting schedule", .given = kStreamed, .args = {"-"},
     .input = kNext, .installed = "a 6.41, b X 6.40",
     .change = {"~flash/var/pdb/a/image=@-", "~flash/bin/a=0755 a2", "+flash/var/pdb/b/disabled"}},
    {.name = "a stream copy that does not fit fails", .given = {"stream a 6.40; file bin/a 0755 a"},
     .args = {"-"}, .input = "a 6.41; image size 163840; file bin/a 0755 a2", .status = 1,
     .out = {"ERROR: could not write image"}, .change = {"same"}, .flash = 24},
    // The listing.
    {.name = "show lists packages from files and images",
     .given = {"put flash/var/pdb/ppp/version=100689409 0\n",
               "put flash/var/pdb/ppp/files=bin/pppd\n",
               "put flash/var/pdb/ppp/disabled=user\n", "put flash/var/pdb/stray-temp-file=",
               "upload flash/var/pdb/tarnvel/image tarnvel 6.40.1; build-time 1500000000; bundle"
               " | wireless 6.40.1; build-time 1500000000; note radio",
               "order flash/var/pdb tarnvel ppp stray-temp-file"}, .args = {"--show"}, .out = {"2>",
             kHeader + "        wireless  B        6.40.1 Jul/14/2017 02:40:00" +
                 std::string(36, ' ') + "radio\n",
             "         tarnvel           6.40.1 Jul/14/2017 02:40:00" + std::string(41, ' ') + "\n",
             "             ppp X          6.0.1 Jan/01/1970 00:00:00" + std::string(41, ' ') +
                 "\n"}, .change = {"same", "!flash/postlog"}},
    {.name = "show of an empty database", .given = {"put flash/var/pdb/.keep="},
     .args = {"--show", "-"}, .out = {"=" + kHeader}, .change = {"same"}},
    {.name = "show without a database warns", .args = {"--show"},
     .out = {"=WARNING: could not open repo\n" + kHeader}, .change = {"same"}},
    // Signature levels.
    {.name = "the secure marker refuses a legacy signature", .given = {"put ram/SECURE="},
     .args = {"-"}, .input = "p 6.40; signature legacy", .status = 1,
     .out = {"installation of p-6.40 failed: broken package"}, .change = {"same"}},
    {.name = "the secure marker refuses a legacy branding package", .given = {"put ram/SECURE="},
     .args = {"-"}, .input = "branding 6.40; signature legacy", .status = 1, .change = {"same"}},
    {.name = "the secure marker takes EdDSA", .given = {"put ram/SECURE="}, .args = {"-"},
     .input = "p 6.40; file bin/p 0755 x",
     .change = {"+flash/bin/p=0755 x", "+flash/PCKGS_CHANGED"}},
    // The database across runs.
    {.name = "disabling a bundle disables its members",
     .given = {"stream base 6.40", "stream " + kSuite, "schedule suite disable"},
     .out = {"disabled m1-6.40"}, .installed = "base 6.40, m1 X B 6.40, m2 X B 6.40"},
    {.name = "disabled bundle members stay so", .given = Lines{"stream " + kSuite} + kSuiteOff,
     .installed = "base 6.40, m1 X B 6.40, m2 X B 6.40", .change = {"same"}},
    {.name = "disabled members of an image bundle stay so",
     .given = Lines{"stream " + kSuiteImage} + kSuiteOff,
     .installed = "base 6.40, m1 X B 6.40, m2 X B 6.40", .change = {"same"}},
    {.name = "an image package's upgrade removes the files it dropped", .given = kImages,
     .args = {"-"}, .input = "a 6.41; image text 2; file bin/a 0755 a2",
     .change = {"-flash/bin/old", "~flash/bin/a=0755 a2"}},
    {.name = "image packages and image bundle members take their files along",
     .given = kImages + Lines{"schedule a uninstall", "schedule suite uninstall"},
     .installed = "b 6.40",
     .change = {"-flash/bin/a", "-flash/bin/old", "-flash/bin/m1", "-flash/bin/m2"}},
    {.name = "a bundle member installed alone leaves its bundle",
     .given = {"stream suite 6.40; bundle | core 6.40"}, .args = {"-"}, .input = "core 6.41",
     .installed = "core 6.41", .change = {"-flash/var/pdb/core/bundle"}},
    {.name = "a package without metadata keeps its version",
     .given = {"stream p 6.40.1; file bin/p 0755 old",
               "stream p 6.41; flags no-metadata; file bin/p 0755 new",
               "stream q 6.40; flags no-metadata", "schedule q disable", "run"},
     .installed = "p 6.41, q X 6.40", .change = {"same"}},
    {.name = "a version, with or without plus signs, is read as a stream number",
     .given = {"stream base 6.40", "put flash/var/pdb/p/version=103310849 5;x\n",
               "put flash/var/pdb/p/files=", "put flash/var/pdb/q/version=+103310849 +5\n",
               "put flash/var/pdb/q/files="}, .installed = "base 6.40, p 6.40.1, q 6.40.1"},
    // Planning.
    {.name = "what is needed installs before what needs it",
     .given = {kUpload + "system.npk system 6.40",
               kUpload + "greet2.npk greet2 6.40; depends greeter",
               kUpload + "hello.npk hello 6.40; provides greeter; depends system",
               "order flash/rw/pckg system.npk greet2.npk hello.npk"},
     .installed = "greet2 6.40, hello 6.40, system 6.40", .change = {"+flash/PCKGS_CHANGED"}},
    {.name = "reinstall keeps a build whose requirement no longer holds",
     .given = {kUpload + "base.npk base 6.40",
               kUpload + "app.npk app 6.40; depends base; file bin/app 0755 a",
               kUpload + "tool.npk tool 6.40", "run", "schedule app disable",
               "schedule base disable"}, .args = {"--reinstall"},
     .out = {"installed (disabled) app-6.40\n"}, .installed = "app X 6.40, base X 6.40, tool 6.40"},
    {.name = "requirements of a package reached again through a cycle are kept", .given = cycle(),
     .out = {"WARNING: can not uninstall p-6.40: r depends on it\n", "enabled x-6.40\n",
             "enabled y-6.40\n", "enabled p-6.40\n", "enabled q-6.40\n"},
     .installed = "p 6.40, q 6.40, r 6.40, system 6.40, x 6.40, y 6.40",
     .change = {"+flash/PCKGS_CHANGED"}},
    // Reading package files.
    {.name = "chunks after the signature are no header fields",
     .given = {kUpload + "t.npk t 6.40; image text img; file bin/t 0755 t" + kTrailer,
               kUpload + "u.npk u 6.40; file bin/u 0755 u" + kTrailer},
     .out = {"installed t-6.40", "installed u-6.40"}, .installed = "t 6.40, u 6.40",
     .change = {"+flash/PCKGS_CHANGED", "+flash/bin/t=0755 t", "+flash/bin/u=0755 u",
                "-flash/rw/pckg/t.npk"}},
    {.name = "a package kept as its image loads from it",
     .given = {kUpload + "t.npk t 6.40; image text img" + kTrailer, "run"}, .installed = "t 6.40",
     .change = {"same"}},
    {.name = "an oversize text chunk breaks an upload",
     .given = {kUpload + "big.npk big 6.40; arch " + kOversize + "; file bin/big 0755 b"},
     .status = 1, .out = {"ERROR: broken package big.npk"}, .change = {"same"}},
    {.name = "an oversize text chunk of a bundle member breaks an upload",
     .given = {kUpload + "f.npk f 6.40; bundle | m 6.40; note " + kOversize}, .status = 1,
     .out = {"ERROR: broken package f.npk"}, .change = {"same"}},
    {.name = "an oversize note breaks an installation", .args = {"-"},
     .input = "n 6.40; note " + kOversize + "; image text i", .status = 1,
     .out = {"installation of n-6.40 failed: broken package"}, .installed = "", .change = {"same"}},
    {.name = "a name that cannot be a database directory breaks the package", .args = {"-"},
     .input = ".p 6.40; file bin/p 0755 p", .status = 1,
     .out = {"installation of .p-6.40 failed: broken package"}, .change = {"same"}},
    {.name = "a file entry's mode is applied even without permission bits", .args = {"-"},
     .input = "m 6.40; file bin/none 0 n; file bin/some 0640 s",
     .change = {"+flash/bin/none=0000 n", "+flash/bin/some=0640 s", "+flash/PCKGS_CHANGED"}},
};

// Whether a legacy signature alone is enough, by version: "+" it is, "-" EdDSA is needed.
std::vector<Row> signature_rows() {
    std::vector<Row> out;
    const Lines w = words("p 6.46.8+ p 6.46.9- p 6.46.255- p 6.47alpha+ p 6.48+ p 6.48.1- p 6.49- "
                          "p 7.0beta1+ p 7.1beta3+ p 7.1beta4- p 7.1- branding 7.5+");
    for (std::size_t i = 0; i + 1 < w.size(); i += 2) {
        const std::string version = w[i + 1].substr(0, w[i + 1].size() - 1);
        const bool ok = w[i + 1].back() == '+';
        out.push_back({.name = "legacy " + w[i] + " " + version, .args = {"-"},
                       .input = w[i] + " " + version + "; signature legacy; file bin/p 0755 x",
                       .status = ok ? 0 : 1, .change = {"same"}});
        if (ok) out.back().change = {"+flash/bin/p", "+flash/PCKGS_CHANGED"};
        if (ok && w[i] == "branding") out.back().change.push_back("+flash/UPGRADED*");
    }
    // A package refused for its signature, streamed or uploaded over an installed older version.
    const Lines given = {kUpload + "a.npk a 6.40; image text v1; file bin/a 0755 one", "run"};
    for (const std::string& bad : Lines{"a 6.49; signature none; image text v2; file bin/a 0755 2",
                                        "a 6.49; signature legacy; image text v2"}) {
        out.push_back({.name = "streamed " + bad, .given = given, .args = {"-"}, .input = bad,
                       .status = 1, .installed = "a 6.40", .change = {"same"}});
        out.push_back({.name = "uploaded " + bad, .given = given + Lines{kUpload + "a.npk " + bad},
                       .status = 1, .installed = "a 6.40", .change = {"same"}});
    }
    return out;
}

// pkgtool builds, inspects, verifies and makes keys.
const Lines kRouting = {
    "put tree/bin/hello=#!/bin/sh\necho hi\n", "link tree/bin/hi hello", "mkdir tree/var/empty",
    "put r.txt=name routing\nversion 6.41beta3\nbuild-time 1700000000\nflags boot\narch powerpc\n"
    "note dynamic routing\ndepends system 6.40 6.41\nprovides ospf 0 0 5\nconflicts oldroute\n"
    "files tree\nvariant bin/hello 3\nsha256\n"};
const std::string kBuild = "pkgtool build @p.txt -o @p.npk", kVerify = "pkgtool verify @p.npk";
const Lines kKeyed = {"put p.txt=name p\nversion 1.0\nsha256\n", "pkgtool keygen @keys",
                      kBuild + " --keys @keys/vendor-private.txt"};

std::vector<Row> pkgtool_rows() {
    std::vector<Row> out = {
        {.name = "inspect shows the whole package",
         .given = kRouting + Lines{"pkgtool build @r.txt -o @r.npk"},
         .args = {"pkgtool inspect @r.npk"}, .out = {"package \"routing\" 6.41beta3\n",
                 "  build time: 1700000000 (2023-11-14 22:13:20 UTC)\n", "  flags: 0x1 boot\n",
                 "  arch: \"powerpc\"\n", "  note: \"dynamic routing\"\n",
                 "  depends: system 6.40..6.41\n", "  provides: ospf any..any priority 5\n",
                 "  conflicts: oldroute any..any\n", "type 25  sha256 marker     length 0\n",
                 "file  100644 3 ", " 18  \"bin/hello\"\n",
                 "type 9   signature         length 132\n",
                 "  \"routing-6.41beta3\": EdDSA verifies (level 2)\n", "!dir   ", "!link  "}},
        {.name = "bundle members are signed each and listed",
         .given = {"put s.txt=name system\nversion 6.40.1\nflags boot\n",
                   "put w.txt=name wireless\nversion 6.40.1\nsignature legacy\n",
                   "put b.txt=name tarnvel\nversion 6.40.1\nbundle\nmember s.txt\nmember w.txt\n"
                   "optional wireless\n", "pkgtool build @b.txt -o @b.npk"},
         .args = {"pkgtool inspect @b.npk"},
         .out = {"bundle \"tarnvel\" 6.40.1\n", "  member \"system\" 6.40.1\n",
                 "  member \"wireless\" 6.40.1\n", "bundle header     length 36  UNSIGNED\n",
                 "type 20  optional members  length 34  UNSIGNED\n      wireless any..any\n",
                 "package header    length 36\n", "  \"system-6.40.1\": EdDSA verifies (level 2)\n"
                 "  \"wireless-6.40.1\": legacy verifies (level 1)\n"}},
        {.name = "verify takes other public keys", .given = kKeyed,
         .args = {kVerify + " --keys @keys/public.txt"},
         .out = {"=verified: level 2, EdDSA over SHA-256\n"}},
        {.name = "a refused build leaves no output", .given = {"put p.txt=name b\nversion 6.4o\n"},
         .args = {kBuild}, .status = 1, .out = {"2>pkgtool: @p.txt: line 2: bad version 6.4o\n"}},
        {.name = "inspect reports a truncated package",
         .given = {"upload p.npk cut80 p 1.0; file f 0644 {2 blocks}"},
         .args = {"pkgtool inspect @p.npk"}, .status = 1,
         .out = {"DIFFERS from file size", "the installer's directory scan refuses this file",
                 "the data ends at byte"}},
        {.name = "verify a damaged signature",
         .given = {"upload p.npk flip138 p 7.1; file f 0644 hi"}, .args = {kVerify}, .status = 1,
         .out = {"=NOT verified: the signature of p-7.1 does not verify\n"}},
        {.name = "verify a cut package", .given = {"upload p.npk cut1 p 7.1; file f 0644 hello"},
         .args = {kVerify}, .status = 1,
         .out = {"=NOT verified: the file is cut short or holds damaged data\n"}},
    };
    for (const std::string args : {"build x.txt", "verify a --keys"})
        out.push_back({.name = "mistake " + args, .args = {"pkgtool " + args}, .status = 2,
                       .out = {"=", "2>~usage: pkgtool build"}});
    for (const auto& [text, line] : std::vector<std::pair<std::string, std::string>>{
             {"sha256", "verified: level 2, EdDSA over SHA-256\n"},
             {"signature legacy", "verified: level 1, legacy scheme over SHA-1\n"},
             {"signature none", "NOT verified: p-7.1 has no signature\n"},
             {"bundle\nmember m.txt", "NOT verified: m-1.0 has no signature\n"}})
        out.push_back({.name = "verify " + text,
                       .given = {"put m.txt=name m\nversion 1.0\nsignature none\n",
                                 "put p.txt=name p\nversion 7.1\n" + text + "\n", kBuild},
                       .args = {kVerify}, .status = line[0] == 'v' ? 0 : 1, .out = {"=" + line}});
    // What the installer would refuse, named by its line.
    for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
             {"name .hidden\n", "line 1: the installer refuses the package name .hidden"},
             {"name p\ndepends sys\x01tem\n", "line 2: the installer refuses the relation"},
             {"name p\nfile a/../b 644\n", "file name a/../b: a \"..\" part"},
             {"name p\nfile a\x7f 644\n", "control characters"}})
        out.push_back({.name = "refused " + text, .given = {"put p.txt=" + text + "version 1.0\n"},
                       .args = {kBuild}, .status = 1, .out = {"2>~" + error}});
    return out;
}

std::string test_name(const ::testing::TestParamInfo<Row>& info) {
    std::string out;
    for (const unsigned char c : info.param.name) out += std::isalnum(c) ? char(c) : '_';
    return out;
}

INSTANTIATE_TEST_SUITE_P(Installer, Scenario, ::testing::ValuesIn(kRows), test_name);
INSTANTIATE_TEST_SUITE_P(Signature, Scenario, ::testing::ValuesIn(signature_rows()), test_name);
INSTANTIATE_TEST_SUITE_P(Pkgtool, Scenario, ::testing::ValuesIn(pkgtool_rows()), test_name);

}  // namespace
