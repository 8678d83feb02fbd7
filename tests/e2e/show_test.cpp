// "installer -r <root> --show": the listing of a scratch database, byte for byte.

#include "package/signed_packages.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

const std::string kHeader = "            Name          Version                Built"
                            "                                    Note\n" +
                            std::string(94, '-') + "\n";

class ShowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root rights for -r (chroot)";
    }
    RunResult show(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"-r", root.path(), "--show"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_program(INSTALLER_BIN, args);
    }
    TempDir root;
};

TEST_F(ShowTest, ListsPackagesFromFilesAndImagesAndChangesNothing) {
    write_file(root / "flash/var/pdb/ppp/version", "100689409 0\n");  // 6.0.1, epoch
    write_file(root / "flash/var/pdb/ppp/files", "bin/pppd\n");
    write_file(root / "flash/var/pdb/ppp/disabled", "user\n");
    PackageDescription member = describe_package({"wireless", 0x0628'6601, 1500000000, 0});
    member.hasNote = true, member.note = "radio";
    write_file(root / "flash/var/pdb/tarnvel/image",
               package_file(describe_bundle({"tarnvel", 0x0628'6601, 1500000000, 0}, {member}),
                            fixed_signature(std::string(132, '\0'))));
    write_file(root / "flash/var/pdb/stray-temp-file", "");

    RunResult r = show();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string ppp = "             ppp X          6.0.1 Jan/01/1970 00:00:00" +
                            std::string(41, ' ') + "\n";
    const std::string wireless = "        wireless  B        6.40.1 Jul/14/2017 02:40:00" +
                                 std::string(36, ' ') + "radio\n";
    const std::string tarnvel = "         tarnvel           6.40.1 Jul/14/2017 02:40:00" +
                                std::string(41, ' ') + "\n";
    // Directory order decides where the entry from small files stands.
    EXPECT_TRUE(r.out == kHeader + ppp + wireless + tarnvel ||
                r.out == kHeader + wireless + tarnvel + ppp)
        << r.out;
    EXPECT_FALSE(path_exists(root / "flash/postlog"));
}

TEST_F(ShowTest, EmptyDatabasePrintsHeaderOnlyEvenBeforeAStreamOptionAndMissingOneWarns) {
    write_file(root / "flash/var/pdb/.keep", "");
    for (const std::vector<std::string>& extra : {std::vector<std::string>{},
                                                  std::vector<std::string>{"-"}}) {
        SCOPED_TRACE(extra.size());
        RunResult r = show(extra);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, kHeader);
    }
    TempDir bare;
    RunResult missing = run_program(INSTALLER_BIN, {"-r", bare.path(), "--show"});
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.out, "WARNING: could not open repo\n" + kHeader);
}

}  // namespace
