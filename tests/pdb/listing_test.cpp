// The "--show" listing, byte for byte.

#include "pdb/listing.h"

#include "cli/installer.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

constexpr Version kV6_40_1 = 0x0628'6601;  // 6.40.1
const std::string kHeader =
    "            Name          Version                Built"
    "                                    Note\n" +
    std::string(94, '-') + "\n";

class ListingTest : public ::testing::Test {
protected:
    InstalledPackage& add(const std::string& name) {
        installer.packages.push_back(std::make_unique<InstalledPackage>(name));
        return *installer.packages.back();
    }
    std::string listing() {
        std::ostringstream out;
        print_listing(installer, out);
        return out.str();
    }
    Installer& installer = Installer::reset();
};

TEST_F(ListingTest, EmptyDatabasePrintsHeaderAndRuleOnly) { EXPECT_EQ(listing(), kHeader); }

TEST_F(ListingTest, ColumnsAreFilledBeforeTheText) {
    InstalledPackage& p = add("system");
    p.version = kV6_40_1;
    p.buildTime = 1500000000;  // Jul/14/2017 02:40:00 UTC
    p.note = "routing";
    EXPECT_EQ(listing(), kHeader +
                             "          system           6.40.1 Jul/14/2017 02:40:00"
                             "                                  routing\n");
}

TEST_F(ListingTest, DisabledBundleMemberShowsXThenB) {
    InstalledPackage& p = add("wireless");
    p.version = kV6_40_1;
    p.disabled = true;
    p.bundle = Dependency{"routeros", kV6_40_1, kV6_40_1, 0};
    InstalledPackage& q = add("ppp");
    q.version = kV6_40_1;
    const std::string out = listing();
    EXPECT_NE(out.find("        wireless XB        6.40.1 "), std::string::npos) << out;
    EXPECT_NE(out.find("             ppp           6.40.1 "), std::string::npos) << out;
}

TEST_F(ListingTest, BuildTimeZeroIsTheFirstSecondOfTheEpoch) {
    add("a");
    EXPECT_NE(listing().find(" Jan/01/1970 00:00:00 "), std::string::npos);
}

TEST_F(ListingTest, LongTextIsWrittenWholeAndShiftsTheLine) {
    add("a-very-long-package-name");
    const std::string out = listing();
    EXPECT_EQ(out.substr(kHeader.size(), 28), "a-very-long-package-name    ");
}

TEST_F(ListingTest, RecordsWithoutNameAreNotListed) {
    add("");
    add("b");
    const std::string out = listing();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3);
    EXPECT_NE(out.find("               b "), std::string::npos);
}

}  // namespace
