// pkgtool as a person runs it, as data: each row writes files into a scratch directory, runs
// commands there and says what the last one must print and leave.

#include "e2e/router.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace {

struct Tool {
    std::string name{};
    // "path=content", "path->target" (a link) or "path/" (a directory); "@" is the directory.
    std::vector<std::string> files{};
    // pkgtool's arguments, each command but the last must succeed; "cut N from to" copies a
    // file without its last N bytes, "flip N file" alters the byte N before its last one.
    std::vector<std::string> run{};
    std::string env{};
    int status = 0;
    std::vector<std::string> out{};  // parts of the output; "!..." absent, "=..." all of it
    std::vector<std::string> err{};
    std::vector<std::string> after{};  // "!path" absent, "path~part" a file holding part
};

void PrintTo(const Tool& row, std::ostream* out) { *out << row.name; }

std::string at_dir(std::string text, const std::string& dir) {
    for (std::size_t at = 0; (at = text.find('@', at)) != std::string::npos; at += dir.size())
        text.replace(at, 1, dir + "/");
    return text;
}

void expect_parts(const std::string& text, const std::vector<std::string>& parts) {
    for (const std::string& p : parts) {
        if (p.starts_with("=")) EXPECT_EQ(text, p.substr(1));
        else if (p.starts_with("!")) EXPECT_FALSE(has(text, p.substr(1))) << text;
        else EXPECT_TRUE(has(text, p)) << p << " in\n" << text;
    }
}

class Pkgtool : public ::testing::TestWithParam<Tool> {};

TEST_P(Pkgtool, Run) {
    const Tool& row = GetParam();
    TempDir dir;
    auto path = [&](const std::string& name) { return dir / name; };
    for (const std::string& f : row.files) {
        const std::size_t link = f.find("->"), eq = f.find('=');
        if (f.ends_with("/")) std::filesystem::create_directories(path(f));
        else if (link < eq) std::filesystem::create_symlink(f.substr(link + 2), path(f.substr(0, link)));
        else ASSERT_TRUE(write_file(path(f.substr(0, eq)), at_dir(f.substr(eq + 1), dir.path())));
    }
    RunResult last;
    for (std::size_t i = 0; i < row.run.size(); ++i) {
        std::istringstream in(at_dir(row.run[i], dir.path()));
        std::vector<std::string> args;
        for (std::string w; in >> w;) args.push_back(w);
        if (!args.empty() && (args[0] == "cut" || args[0] == "flip")) {
            std::string bytes = read_file(path(args[2]));
            const std::size_t n = std::stoul(args[1]);
            if (args[0] == "flip") bytes[bytes.size() - 1 - n] ^= 1;
            else bytes.resize(bytes.size() - n);
            ASSERT_TRUE(write_file(path(args.back()), bytes));
            continue;
        }
        last = run_program(PKGTOOL_BIN, args, {}, {row.env.empty() ? "PATH=/usr/bin:/bin" : row.env});
        if (i + 1 == row.run.size()) break;
        ASSERT_EQ(last.status, 0) << row.run[i] << "\n" << last.err;
    }
    EXPECT_EQ(last.status, row.status) << last.out << last.err;
    std::vector<std::string> out, err;
    for (const std::string& p : row.out) out.push_back(at_dir(p, dir.path()));
    for (const std::string& p : row.err) err.push_back(at_dir(p, dir.path()));
    expect_parts(last.out, out);
    expect_parts(last.err, err);
    for (const std::string& a : row.after) {
        const std::size_t tilde = a.find('~');
        if (a.starts_with("!")) EXPECT_FALSE(path_exists(path(a.substr(1)))) << a;
        else EXPECT_TRUE(has(read_file(path(a.substr(0, tilde))), a.substr(tilde + 1))) << a;
    }
}

const std::vector<std::string> kRouting = {
    "tree/bin/hello=#!/bin/sh\necho hi\n", "tree/bin/hi->hello", "tree/var/empty/",
    "routing.txt=name routing\nversion 6.41beta3\nbuild-time 1700000000\nflags boot\narch powerpc\n"
    "note dynamic routing\ndepends system 6.40 6.41\nprovides ospf 0 0 5\nconflicts oldroute\n"
    "files tree\nvariant bin/hello 3\nsha256\n"};
const std::vector<std::string> kBundle = {
    "system.txt=name system\nversion 6.40.1\nflags boot\n",
    "wifi.txt=name wireless\nversion 6.40.1\nsignature legacy\n",
    "b.txt=name tarnvel\nversion 6.40.1\nbundle\nmember system.txt\nmember wifi.txt\n"
    "optional wireless\n"};
const std::string kBuild = "build @p.txt -o @p.npk";
const std::string kKeyed = kBuild + " --keys @keys/vendor-private.txt";

std::vector<Tool> rows() {
    std::vector<Tool> out = {
        {.name = "links and empty directories are left out with a warning", .files = kRouting,
         .run = {"build @routing.txt -o @routing.npk"},
         .err = {"=pkgtool: warning: @tree/bin/hi: symbolic link left out (the installer installs "
                 "regular files only)\npkgtool: warning: @tree/var/empty: directory without files "
                 "left out (the installer installs regular files only)\n"}},
        {.name = "inspect shows the whole package", .files = kRouting,
         .run = {"build @routing.txt -o @routing.npk", "inspect @routing.npk"},
         .out = {"package \"routing\" 6.41beta3\n", "  build time: 1700000000 (2023-11-14 22:13:20 UTC)\n",
                 "  flags: 0x1 boot\n", "  arch: \"powerpc\"\n", "  note: \"dynamic routing\"\n",
                 "  depends: system 6.40..6.41\n", "  provides: ospf any..any priority 5\n",
                 "  conflicts: oldroute any..any\n", "type 25  sha256 marker     length 0\n",
                 "file  100644 3 ", " 18  \"bin/hello\"\n", "type 9   signature         length 132\n",
                 "  \"routing-6.41beta3\": EdDSA verifies (level 2)\n", "!dir   ", "!link  "}},
        {.name = "bundle members are signed each and listed", .files = kBundle,
         .run = {"build @b.txt -o @b.npk", "inspect @b.npk"},
         .out = {"bundle \"tarnvel\" 6.40.1\n", "  member \"system\" 6.40.1\n",
                 "bundle header     length 36  UNSIGNED\n", "package header    length 36\n",
                 "  member \"wireless\" 6.40.1\n",
                 "type 20  optional members  length 34  UNSIGNED\n      wireless any..any\n",
                 "  \"system-6.40.1\": EdDSA verifies (level 2)\n"
                 "  \"wireless-6.40.1\": legacy verifies (level 1)\n"}},
        {.name = "keygen makes no missing parents", .run = {"keygen @none/keys"}, .status = 1,
         .after = {"!none"}},
        {.name = "keygen writes a key pair", .run = {"keygen @keys"},
         .after = {"keys/public.txt~eddsa-public: ", "keys/vendor-private.txt~eddsa-seed: "}},
        {.name = "keygen keeps an existing key set", .run = {"keygen @keys", "keygen @keys"},
         .status = 1, .after = {"keys/vendor-private.txt~eddsa-seed: "}},
        {.name = "new keys do not verify with the built-in keys",
         .files = {"p.txt=name p\nversion 1.0\nsha256\n"},
         .run = {"keygen @keys", kKeyed, "inspect @p.npk"},
         .out = {"\"p-1.0\": nothing verifies (level 0)\n"}},
        {.name = "verify takes other public keys", .files = {"p.txt=name p\nversion 1.0\nsha256\n"},
         .run = {"keygen @keys", kKeyed, "verify @p.npk --keys @keys/public.txt"},
         .out = {"=verified: level 2, EdDSA over SHA-256\n"}},
        {.name = "a refused build leaves no output", .files = {"p.txt=name bad\nversion 6.4o\n"},
         .run = {kBuild}, .status = 1, .err = {"=pkgtool: @p.txt: line 2: bad version 6.4o\n"},
         .after = {"!p.npk", "!p.npk.tmp"}},
        {.name = "signing needs keys", .files = {"p.txt=name p\nversion 1.0\n"},
         .run = {kBuild + " --keys @none/dev-private.txt"}, .status = 1, .after = {"!p.npk"}},
        {.name = "an unsigned package needs no keys",
         .files = {"p.txt=name p\nversion 1.0\nsignature none\n"},
         .run = {kBuild + " --keys @none/dev-private.txt"}},
        {.name = "inspect refuses what is no package", .files = {"junk.npk=not a package at all"},
         .run = {"inspect @junk.npk"}, .status = 1, .err = {"is not a package file"}},
        {.name = "inspect reports a truncated package",
         .files = {"tree/f=" + std::string(5000, 'x'), "p.txt=name p\nversion 1.0\nfiles tree\n"},
         .run = {kBuild, "cut 80 p.npk cut.npk", "inspect @cut.npk"}, .status = 1,
         .out = {"DIFFERS from file size", "the installer's directory scan refuses this file",
                 "the data ends at byte"}},
        {.name = "help", .run = {"--help"}, .out = {"usage: pkgtool build"}, .err = {"="}},
        {.name = "short help", .run = {"-h"}, .out = {"usage: pkgtool build"}, .err = {"="}},
        {.name = "version", .run = {"--version"}, .out = {"pkgtool 1."}},
        {.name = "the build time is the clock's", .files = {"p.txt=name p\nversion 1.0\n"},
         .run = {kBuild, "inspect @p.npk"}, .out = {"!build time: 0 ", "!build time: 1 "}},
        {.name = "the build time is SOURCE_DATE_EPOCH", .files = {"p.txt=name p\nversion 1.0\n"},
         .run = {kBuild, "inspect @p.npk"}, .env = "SOURCE_DATE_EPOCH=1600000000",
         .out = {"build time: 1600000000 ("}},
        {.name = "verify a damaged signature",
         .files = {"p.txt=name p\nversion 7.1\nfile f 644 hello\n"},
         .run = {kBuild, "flip 138 p.npk", "verify @p.npk"}, .status = 1,
         .out = {"=NOT verified: the signature of p-7.1 does not verify\n"}},
        {.name = "verify a cut package", .files = {"p.txt=name p\nversion 7.1\nfile f 644 hello\n"},
         .run = {kBuild, "cut 1 p.npk cut.npk", "verify @cut.npk"}, .status = 1,
         .out = {"=NOT verified: the file is cut short or holds damaged data\n"}},
    };
    for (const char* args : {"", "build x.txt", "frobnicate", "inspect", "verify a b",
                             "verify a --keys", "--help build"})
        out.push_back({.name = std::string("mistake ") + args, .run = {args}, .status = 2,
                       .out = {"="}, .err = {"usage: pkgtool build"}});
    for (const auto& [line, verdict] : std::vector<std::pair<std::string, std::string>>{
             {"signature legacy+eddsa", "EdDSA verifies (level 2)"},
             {"signature legacy", "legacy verifies (level 1)"},
             {"signature none", "no signature chunk"}})
        out.push_back({.name = line, .files = {"p.txt=name p\nversion 7.1rc2\n" + line + "\n"},
                       .run = {kBuild, "inspect @p.npk"}, .out = {"\"p-7.1rc2\": " + verdict + "\n"}});
    for (const auto& [text, line] : std::vector<std::pair<std::string, std::string>>{
             {"sha256", "verified: level 2, EdDSA over SHA-256\n"},
             {"signature legacy", "verified: level 1, legacy scheme over SHA-1\n"},
             {"signature none", "NOT verified: p-7.1 has no signature\n"},
             {"bundle\nmember m.txt", "NOT verified: m-1.0 has no signature\n"}})
        out.push_back({.name = "verify " + text,
                       .files = {"m.txt=name m\nversion 1.0\nsignature none\n",
                                 "p.txt=name p\nversion 7.1\n" + text + "\n"},
                       .run = {kBuild, "verify @p.npk"}, .status = line[0] == 'v' ? 0 : 1,
                       .out = {"=" + line}});
    // What the installer would refuse, named by its line.
    for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
             {"name .hidden\n", "line 1: the installer refuses the package name .hidden"},
             {"name a/b\n", "line 1: the installer refuses the package name a/b"},
             {"name p\ndepends sys\x01tem\n", "line 2: the installer refuses the relation"},
             {"name p\nfile a/../b 644\n", "file name a/../b: a \"..\" part"},
             {"name p\nfile // 644\n", "line 2: the installer refuses the file name //"},
             {"name p\nfile etc/ 644\n", "file name etc/: ends with \"/\""},
             {"name p\nfile a\x7f 644\n", "control characters"}})
        out.push_back({.name = "refused " + text, .files = {"p.txt=" + text + "version 1.0\n"},
                       .run = {kBuild}, .status = 1, .err = {error}, .after = {"!p.npk"}});
    return out;
}

std::string test_name(const ::testing::TestParamInfo<Tool>& info) {
    std::string out = std::to_string(info.index) + "_";
    for (const char c : info.param.name) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return out;
}

INSTANTIATE_TEST_SUITE_P(Pkgtool, Pkgtool, ::testing::ValuesIn(rows()), test_name);

}  // namespace
