// The "--show" listing, byte for byte.

#include "pdb/listing.h"

#include "core/installer.h"

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
    InstalledPackage& add(const std::string& name, Version version = 0) {
        installer.packages.push_back(std::make_unique<InstalledPackage>(name));
        installer.packages.back()->version = version;
        return *installer.packages.back();
    }
    std::string listing() {
        std::ostringstream out;
        print_listing(installer, out);
        return out.str();
    }
    Installer& installer = Installer::reset();
};

TEST_F(ListingTest, ColumnsAreFilledBeforeTheTextAndMarksFollowTheName) {
    EXPECT_EQ(listing(), kHeader);  // an empty database: header and rule only
    InstalledPackage& p = add("system", kV6_40_1);
    p.buildTime = 1500000000;  // Jul/14/2017 02:40:00 UTC
    p.note = "routing";
    InstalledPackage& q = add("wireless", kV6_40_1);
    q.disabled = true;
    q.bundle = Dependency{"tarnvel", kV6_40_1, kV6_40_1, 0};
    add("");  // a blocker is not listed
    add("a-very-long-package-name");  // written whole, shifting the line
    EXPECT_EQ(listing(), kHeader +
                             "          system           6.40.1 Jul/14/2017 02:40:00"
                             "                                  routing\n"
                             "        wireless XB        6.40.1 Jan/01/1970 00:00:00"
                             "                                         \n"
                             "a-very-long-package-name              0.0 Jan/01/1970 00:00:00"
                             "                                         \n");
}

}  // namespace
