// pkgtool end to end: descriptions built into files that the installer's own reader accepts,
// inspect output as a person reads it, key generation, and refusals that must not leave files.
#include "e2e/router.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace {

class PkgtoolTest : public ::testing::Test {
protected:
    RunResult pkgtool(const std::vector<std::string>& args,
                      const std::string& env = "PATH=/usr/bin:/bin") {
        return run_program(PKGTOOL_BIN, args, {}, {env});
    }
    // Builds `text` (written to `name`.txt) into `name`.npk with the default keys.
    RunResult build(const std::string& name, const std::string& text,
                    std::vector<std::string> extra = {}) {
        EXPECT_TRUE(write_file(dir / (name + ".txt"), text));
        std::vector<std::string> args = {"build", dir / (name + ".txt"), "-o",
                                         dir / (name + ".npk")};
        args.insert(args.end(), extra.begin(), extra.end());
        return pkgtool(args);
    }
    TempDir dir;
};

TEST_F(PkgtoolTest, BuildsAPackageThatInspectShowsWhole) {
    ASSERT_TRUE(write_file(dir / "tree/bin/hello", "#!/bin/sh\necho hi\n"));
    ASSERT_EQ(::symlink("hello", (dir / "tree/bin/hi").c_str()), 0);
    std::filesystem::create_directories(dir / "tree/var/empty");
    RunResult b = build("routing",
                        "name routing\nversion 6.41beta3\nbuild-time 1700000000\nflags boot\n"
                        "arch powerpc\nnote dynamic routing\ndepends system 6.40 6.41\n"
                        "provides ospf 0 0 5\nconflicts oldroute\nfiles tree\nvariant bin/hello 3\n"
                        "sha256\n");
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(b.err, "pkgtool: warning: " + dir / "tree/bin/hi" +
                         ": symbolic link left out (the installer installs regular files only)\n"
                         "pkgtool: warning: " + dir / "tree/var/empty" +
                         ": directory without files left out (the installer installs regular "
                         "files only)\n");
    RunResult r = pkgtool({"inspect", dir / "routing.npk"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (const char* line :
         {"package \"routing\" 6.41beta3\n",
          "  build time: 1700000000 (2023-11-14 22:13:20 UTC)\n", "  flags: 0x1 boot\n",
          "  arch: \"powerpc\"\n", "  note: \"dynamic routing\"\n",
          "  depends: system 6.40..6.41\n", "  provides: ospf any..any priority 5\n",
          "  conflicts: oldroute any..any\n", "type 25  sha256 marker     length 0\n",
          "file  100644 3 ",  // the variant of bin/hello
          " 18  \"bin/hello\"\n", "type 9   signature         length 132\n",
          // The development keys match the public keys built into the installer.
          "  \"routing-6.41beta3\": EdDSA verifies (level 2)\n"})
        EXPECT_TRUE(has(r.out, line)) << line << " in\n" << r.out;
    EXPECT_FALSE(has(r.out, "dir   ") || has(r.out, "link  ")) << r.out;
}

TEST_F(PkgtoolTest, SignatureKindsVerifyAtTheirLevels) {
    const struct {
        const char* line;
        const char* verdict;
    } cases[] = {{"signature legacy+eddsa", "EdDSA verifies (level 2)"},
                 {"signature legacy", "legacy verifies (level 1)"},
                 {"signature none", "no signature chunk"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(build("p", std::string("name p\nversion 7.1rc2\n") + c.line + "\n").status, 0);
        RunResult r = pkgtool({"inspect", dir / "p.npk"});
        EXPECT_TRUE(has(r.out, std::string("\"p-7.1rc2\": ") + c.verdict + "\n")) << r.out;
    }
}

TEST_F(PkgtoolTest, BundleMembersAreSignedEachAndListed) {
    ASSERT_TRUE(write_file(dir / "system.txt", "name system\nversion 6.40.1\nflags boot\n"));
    ASSERT_TRUE(write_file(dir / "wifi.txt", "name wireless\nversion 6.40.1\nsignature legacy\n"));
    RunResult b = build("bundle", "name tarnvel\nversion 6.40.1\nbundle\nmember system.txt\n"
                                  "member wifi.txt\noptional wireless\n");
    ASSERT_EQ(b.status, 0) << b.err;
    RunResult r = pkgtool({"inspect", dir / "bundle.npk"});
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* part :
         {"bundle \"tarnvel\" 6.40.1\n", "  member \"system\" 6.40.1\n",
          "bundle header     length 36  UNSIGNED\n", "package header    length 36\n",
          "  member \"wireless\" 6.40.1\n",
          "type 20  optional members  length 34  UNSIGNED\n      wireless any..any\n",
          "  \"system-6.40.1\": EdDSA verifies (level 2)\n"
          "  \"wireless-6.40.1\": legacy verifies (level 1)\n"})
        EXPECT_TRUE(has(r.out, part)) << part << " in\n" << r.out;
}

TEST_F(PkgtoolTest, KeygenKeysSignButDoNotVerifyWithTheBuiltInKeys) {
    EXPECT_EQ(pkgtool({"keygen", dir / "none/keys"}).status, 1);  // no missing parents made
    EXPECT_FALSE(path_exists(dir / "none"));
    RunResult k = pkgtool({"keygen", dir / "keys"});
    ASSERT_EQ(k.status, 0) << k.err;
    EXPECT_TRUE(has(read_file(dir / "keys/public.txt"), "eddsa-public: "));
    const std::string secret = dir / "keys/vendor-private.txt";
    EXPECT_TRUE(has(read_file(secret), "eddsa-seed: "));
    ASSERT_EQ(build("p", "name p\nversion 1.0\nsha256\n", {"--keys", secret}).status, 0);
    RunResult r = pkgtool({"inspect", dir / "p.npk"});
    EXPECT_TRUE(has(r.out, "\"p-1.0\": nothing verifies (level 0)\n")) << r.out;
    r = pkgtool({"verify", dir / "p.npk", "--keys", dir / "keys/public.txt"});
    EXPECT_EQ(r.out, "verified: level 2, EdDSA over SHA-256\n");
    EXPECT_EQ(r.status, 0);

    // A second keygen into the same place must not destroy the first key set.
    const std::string before = read_file(secret);
    EXPECT_EQ(pkgtool({"keygen", dir / "keys"}).status, 1);
    EXPECT_EQ(read_file(secret), before);
}

TEST_F(PkgtoolTest, RefusedBuildsLeaveNoOutputButUnsignedPackagesNeedNoKeys) {
    RunResult b = build("bad", "name bad\nversion 6.4o\n");
    EXPECT_EQ(b.status, 1);
    EXPECT_EQ(b.err, "pkgtool: " + dir / "bad.txt" + ": line 2: bad version 6.4o\n");
    EXPECT_FALSE(path_exists(dir / "bad.npk"));
    EXPECT_FALSE(path_exists(dir / "bad.npk.tmp"));

    const std::vector<std::string> noKeys = {"--keys", dir / "none/dev-private.txt"};
    EXPECT_EQ(build("p", "name p\nversion 1.0\n", noKeys).status, 1);
    EXPECT_FALSE(path_exists(dir / "p.npk"));
    EXPECT_EQ(build("p", "name p\nversion 1.0\nsignature none\n", noKeys).status, 0);
}

TEST_F(PkgtoolTest, InspectRefusesWhatIsNoPackageAndReportsATruncatedOne) {
    ASSERT_TRUE(write_file(dir / "junk.npk", "not a package at all"));
    RunResult junk = pkgtool({"inspect", dir / "junk.npk"});
    EXPECT_EQ(junk.status, 1);
    EXPECT_TRUE(has(junk.err, "is not a package file")) << junk.err;

    ASSERT_TRUE(write_file(dir / "tree/f", std::string(5000, 'x')));
    ASSERT_EQ(build("p", "name p\nversion 1.0\nfiles tree\n").status, 0);
    std::string bytes = read_file(dir / "p.npk");
    ASSERT_TRUE(write_file(dir / "cut.npk", bytes.substr(0, bytes.size() - 80)));
    RunResult r = pkgtool({"inspect", dir / "cut.npk"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, "DIFFERS from file size")) << r.out;
    EXPECT_TRUE(has(r.out, "the installer's directory scan refuses this file")) << r.out;
    EXPECT_TRUE(has(r.out, "the data ends at byte")) << r.out;
}

TEST_F(PkgtoolTest, HelpGoesToStandardOutputAndMistakesExitWithTwo) {
    for (const char* help : {"--help", "-h"}) {
        RunResult r = pkgtool({help});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(has(r.out, "usage: pkgtool build") && r.err.empty()) << r.out << r.err;
    }
    EXPECT_TRUE(has(pkgtool({"--version"}).out, "pkgtool 1.")) << pkgtool({"--version"}).out;
    const std::vector<std::vector<std::string>> mistakes = {
        {}, {"build", "x.txt"}, {"frobnicate"}, {"inspect"}, {"verify", "a", "b"},
        {"verify", "a", "--keys"}, {"--help", "build"}};
    for (const auto& args : mistakes) {
        RunResult r = pkgtool(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(has(r.err, "usage: pkgtool build") && r.out.empty()) << r.err;
    }
}

TEST_F(PkgtoolTest, RefusesWhatTheInstallerWouldRefuseNamingTheLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"name .hidden\nversion 1.0\n", "line 1: the installer refuses the package name .hidden"},
        {"name a/b\nversion 1.0\n", "line 1: the installer refuses the package name a/b"},
        {"name p\nversion 1.0\ndepends sys\x01tem\n", "line 3: the installer refuses the relation"},
        {"name p\nversion 1.0\nfile a/../b 644\n", "file name a/../b: a \"..\" part"},
        {"name p\nversion 1.0\nfile // 644\n", "line 3: the installer refuses the file name //"},
        {"name p\nversion 1.0\nfile etc/ 644\n", "file name etc/: ends with \"/\""},
        {"name p\nversion 1.0\nfile a\x7f 644\n", "control characters"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RunResult b = build("p", c.text);
        EXPECT_EQ(b.status, 1);
        EXPECT_TRUE(has(b.err, c.error)) << b.err;
        EXPECT_FALSE(path_exists(dir / "p.npk"));
    }
}

TEST_F(PkgtoolTest, BuildTimeComesFromSourceDateEpochOrTheClock) {
    ASSERT_EQ(build("p", "name p\nversion 1.0\n").status, 0);
    const std::string shown = pkgtool({"inspect", dir / "p.npk"}).out;
    EXPECT_FALSE(has(shown, "build time: 0 ") || has(shown, "build time: 1 ")) << shown;
    RunResult b =
        pkgtool({"build", dir / "p.txt", "-o", dir / "p.npk"}, "SOURCE_DATE_EPOCH=1600000000");
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_TRUE(has(pkgtool({"inspect", dir / "p.npk"}).out, "build time: 1600000000 ("));
}

TEST_F(PkgtoolTest, VerifySaysWhetherEveryPackageInTheFileVerifies) {
    ASSERT_TRUE(write_file(dir / "m.txt", "name m\nversion 1.0\nsignature none\n"));
    const struct {
        const char* text;
        const char* line;
    } cases[] = {
        {"name p\nversion 7.1\nsha256\n", "verified: level 2, EdDSA over SHA-256\n"},
        {"name p\nversion 7.1\nsignature legacy\n",
         "verified: level 1, legacy scheme over SHA-1\n"},
        {"name p\nversion 7.1\nsignature none\n", "NOT verified: p-7.1 has no signature\n"},
        {"name b\nversion 7.1\nbundle\nmember m.txt\n", "NOT verified: m-1.0 has no signature\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(build("p", c.text).status, 0);
        RunResult r = pkgtool({"verify", dir / "p.npk"});
        EXPECT_EQ(r.out, c.line);
        EXPECT_EQ(r.status, c.line[0] == 'v' ? 0 : 1);
    }
    ASSERT_EQ(build("p", "name p\nversion 7.1\nfile f 644 hello\n").status, 0);
    std::string bytes = read_file(dir / "p.npk");
    ASSERT_TRUE(write_file(dir / "cut.npk", bytes.substr(0, bytes.size() - 1)));
    bytes[bytes.size() - 139] ^= 1;  // the last byte of the files chunk
    ASSERT_TRUE(write_file(dir / "p.npk", bytes));
    const std::pair<const char*, const char*> damaged[] = {
        {"p.npk", "NOT verified: the signature of p-7.1 does not verify\n"},
        {"cut.npk", "NOT verified: the file is cut short or holds damaged data\n"}};
    for (const auto& [file, line] : damaged) {
        RunResult r = pkgtool({"verify", dir / file});
        EXPECT_EQ(r.out, line);
        EXPECT_EQ(r.status, 1);
    }
}

}  // namespace
