#include "cli/installer.h"

#include <gtest/gtest.h>

TEST(InstallerTest, ResetGivesAFreshInstanceAndLookupFindsTheFirstRecord) {
    Installer& a = Installer::reset();
    a.packages.push_back(std::make_unique<InstalledPackage>("x"));
    a.packages.push_back(std::make_unique<InstalledPackage>("y"));
    a.packages.push_back(std::make_unique<InstalledPackage>("x"));
    EXPECT_EQ(a.index_of_package("x"), 0u);
    EXPECT_EQ(a.index_of_package("y"), 1u);
    EXPECT_FALSE(a.index_of_package("z"));
    Installer& b = Installer::reset();
    EXPECT_TRUE(b.packages.empty());
    EXPECT_EQ(&b, &Installer::instance());
}
