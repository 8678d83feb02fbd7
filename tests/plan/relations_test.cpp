// Version order and text, and the relation tests between package records, by table.

#include "plan/relations.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr Version ver(unsigned major, unsigned minor, char kind, unsigned revision) {
    return Version(major) << 24 | Version(minor) << 16 | Version(std::uint8_t(kind)) << 8 |
           Version(revision);
}

std::unique_ptr<Package> pkg(const std::string& name, Version version, std::uint32_t build = 0) {
    auto p = std::make_unique<Package>(name);
    p->version = version;
    p->buildTime = build;
    return p;
}

Dependency dep(const std::string& name, Version min = 0, Version max = 0, std::int32_t prio = 0) {
    return Dependency{name, min, max, prio};
}

TEST(RelationsTest, VersionTextShowsTheKindAndOmitsZeroRevisions) {
    struct Case { Version v; const char* text; };
    const Case cases[] = {
        {ver(6, 40, 'f', 0), "6.40"},
        {ver(6, 40, 'f', 1), "6.40.1"},
        {ver(3, 20, 'f', 2), "3.20.2"},
        {ver(6, 41, 'b', 0), "6.41beta"},
        {ver(6, 41, 'b', 3), "6.41beta3"},
        {ver(6, 41, 'c', 2), "6.41rc2"},
        {ver(6, 41, 'c', 0), "6.41rc"},
        {ver(6, 40, 'a', 2), "6.40alpha2"},
        {ver(6, 40, 'x', 5), "6.405"},
        {ver(6, 40, 'x', 0), "6.40"},
        {ver(255, 255, 'a', 255), "255.255alpha255"},
        {0, "0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(version_text(c.v), c.text);
    }
}

TEST(RelationsTest, VersionTextsCanBeHeldTogether) {
    // Two results side by side: a shared buffer would make both read the second.
    const std::string a = version_text(ver(6, 40, 'f', 1));
    const std::string b = version_text(ver(7, 1, 'b', 2));
    EXPECT_EQ(a + " " + b, "6.40.1 7.1beta2");
}

TEST(RelationsTest, VersionsOrderAsPlainUnsignedIntegers) {
    const Version ascending[] = {ver(6, 40, 'a', 2), ver(6, 40, 'b', 1), ver(6, 40, 'c', 1),
                                 ver(6, 40, 'f', 0), ver(6, 40, 'f', 1), ver(6, 41, 'b', 1),
                                 ver(200, 0, 'f', 0)};
    for (std::size_t i = 1; i < std::size(ascending); ++i) {
        SCOPED_TRACE(version_text(ascending[i]));
        auto older = pkg("p", ascending[i - 1]);
        auto newer = pkg("p", ascending[i]);
        EXPECT_EQ(compare_packages(*newer, *older), 1);
        EXPECT_EQ(compare_packages(*older, *newer), -1);
        // 200.x has the top bit set: a signed comparison would call it older.
        EXPECT_TRUE(satisfies(*newer, dep("p", ascending[i])));
        EXPECT_FALSE(satisfies(*older, dep("p", ascending[i])));
    }
}

TEST(RelationsTest, LabelsNameThePackageAndTheLowerBoundOnly) {
    auto p = pkg("system", ver(6, 40, 'f', 1));
    EXPECT_EQ(package_label(*p), "system-6.40.1");
    EXPECT_EQ(dependency_label(dep("wireless")), "wireless");
    EXPECT_EQ(dependency_label(dep("wireless", 0, ver(7, 0, 'f', 0))), "wireless");
    EXPECT_EQ(dependency_label(dep("wireless", ver(6, 41, 'c', 2), ver(7, 0, 'f', 0))),
              "wireless-6.41rc2");
    EXPECT_EQ(exact_dependency(*p), dep("system", p->version, p->version, 0));
}

TEST(RelationsTest, DisplayNameIsTheBundleWhenThereIsOne) {
    InstalledPackage member("dhcp");
    member.version = ver(6, 40, 'f', 1);
    EXPECT_EQ(display_name(member), "dhcp-6.40.1");
    member.bundle = dep("routeros", ver(6, 40, 'f', 0), ver(6, 40, 'f', 0));
    EXPECT_EQ(display_name(member), "routeros-6.40");
}

TEST(RelationsTest, SatisfiesNeedsTheNameAndBothInclusiveBounds) {
    const Version v = ver(6, 40, 'f', 0);
    struct Case { const char* what; Dependency d; bool met; };
    const Case cases[] = {
        {"no bounds", dep("p"), true},
        {"other name", dep("q"), false},
        {"name prefix", dep("pp"), false},
        {"min equal", dep("p", v), true},
        {"min above", dep("p", v + 1), false},
        {"max equal", dep("p", 0, v), true},
        {"max below", dep("p", 0, v - 1), false},
        {"exact", dep("p", v, v), true},
        {"exact other", dep("p", v + 1, v + 1), false},
    };
    auto p = pkg("p", v);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(satisfies(*p, c.d), c.met);
    }
}

TEST(RelationsTest, RangesOverlapUnlessBoundsSeparateThem) {
    const Version v5 = ver(5, 0, 'f', 0), v6 = ver(6, 0, 'f', 0), v7 = ver(7, 0, 'f', 0);
    struct Case { const char* what; Dependency e; Dependency d; bool overlap; };
    const Case cases[] = {
        {"unbounded provides", dep("p"), dep("p", v6, v7), true},
        {"other name", dep("p"), dep("q"), false},
        {"e above d", dep("p", v7), dep("p", 0, v6), false},
        {"e below d", dep("p", 0, v5), dep("p", v6), false},
        {"touching ends", dep("p", v6, v7), dep("p", v5, v6), true},
        {"zero max never excludes", dep("p", v7, 0), dep("p", v5, 0), true},
        {"zero min never excludes", dep("p", 0, v5), dep("p", 0, v7), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ranges_overlap(c.e, c.d), c.overlap);
    }
}

TEST(RelationsTest, DependsOnThroughProvidesAndBundleMembers) {
    auto app = pkg("app", 1);
    app->depends.push_back(dep("lib", 2));
    auto lib = pkg("lib", 3);
    EXPECT_TRUE(depends_on(*app, *lib));
    EXPECT_FALSE(depends_on(*lib, *app));

    auto alt = pkg("altlib", 9);
    alt->provides.push_back(dep("lib"));
    EXPECT_TRUE(depends_on(*app, *alt));

    auto bundle = pkg("bundle", 1);
    bundle->members.push_back(pkg("lib", 3));
    EXPECT_TRUE(depends_on(*app, *bundle));  // through b's member
    auto appBundle = pkg("apps", 1);
    appBundle->members.push_back(std::move(app));
    EXPECT_TRUE(depends_on(*appBundle, *lib));  // through a's member
    EXPECT_FALSE(depends_on(*appBundle, *pkg("other", 1)));
}

TEST(RelationsTest, ConflictsWithDependsOnTheArgumentOrder) {
    // b takes over a's name with priority 0: not a conflict from a's side, one from b's.
    auto a = pkg("ntp", 1);
    auto b = pkg("chrony", 1);
    b->provides.push_back(dep("ntp", 0, 0, 0));
    EXPECT_FALSE(conflicts_with(*a, *b));
    EXPECT_TRUE(conflicts_with(*b, *a));

    // A negative priority makes it a conflict from a's side too.
    b->provides[0].priority = -1;
    EXPECT_TRUE(conflicts_with(*a, *b));
    EXPECT_FALSE(conflicts_with(*b, *a));
}

TEST(RelationsTest, ConflictsWithByListsPrioritiesAndMembers) {
    auto a = pkg("a", 5);
    auto b = pkg("b", 5);
    EXPECT_FALSE(conflicts_with(*a, *b));

    a->conflicts.push_back(dep("b", 6));
    EXPECT_FALSE(conflicts_with(*a, *b));  // b-5 is outside the conflict range
    a->conflicts[0].min = 5;
    EXPECT_TRUE(conflicts_with(*a, *b));
    a->conflicts.clear();

    // Both provide one name: the strictly higher priority in a wins and conflicts.
    a->provides.push_back(dep("svc", 0, 0, 2));
    b->provides.push_back(dep("svc", 0, 0, 1));
    EXPECT_TRUE(conflicts_with(*a, *b));
    EXPECT_FALSE(conflicts_with(*b, *a));
    b->provides[0].priority = 2;
    EXPECT_FALSE(conflicts_with(*a, *b));
    a->provides.clear();
    b->provides.clear();

    // A conflict entry met by what b provides.
    a->conflicts.push_back(dep("svc"));
    b->provides.push_back(dep("svc", 0, 0, 0));
    EXPECT_TRUE(conflicts_with(*a, *b));
    a->conflicts.clear();
    b->provides.clear();

    // b is a bundle carrying a package of a's name; a's member conflicts for a.
    b->members.push_back(pkg("a", 4));
    EXPECT_TRUE(conflicts_with(*a, *b));
    auto bundle = pkg("bundle", 1);
    auto member = pkg("m", 1);
    member->conflicts.push_back(dep("c"));
    bundle->members.push_back(std::move(member));
    EXPECT_TRUE(conflicts_with(*bundle, *pkg("c", 1)));
}

TEST(RelationsTest, PlaceholderConflictsWithNothing) {
    auto placeholder = pkg("ntp", 0xFFFFFFFFu, 0xFFFFFFFFu);
    placeholder->conflicts.push_back(dep("chrony"));
    placeholder->provides.push_back(dep("chrony", 0, 0, 5));
    auto other = pkg("chrony", 1);
    other->conflicts.push_back(dep("ntp"));
    EXPECT_FALSE(conflicts_with(*placeholder, *other));
    EXPECT_FALSE(conflicts_with(*other, *placeholder));
}

TEST(RelationsTest, HasNameOrMemberLooksOneLevelDeep) {
    auto bundle = pkg("bundle", 1);
    auto inner = pkg("inner", 1);
    inner->members.push_back(pkg("deep", 1));
    bundle->members.push_back(std::move(inner));
    EXPECT_TRUE(has_name_or_member(*bundle, "bundle"));
    EXPECT_TRUE(has_name_or_member(*bundle, "inner"));
    EXPECT_FALSE(has_name_or_member(*bundle, "deep"));
    EXPECT_FALSE(has_name_or_member(*bundle, "bundl"));
}

TEST(RelationsTest, CompareUsesBuildTimeWhenVersionsAreEqual) {
    auto old = pkg("p", 7, 100);
    auto rebuilt = pkg("p", 7, 200);
    EXPECT_EQ(compare_packages(*rebuilt, *old), 1);
    EXPECT_EQ(compare_packages(*old, *rebuilt), -1);
    EXPECT_EQ(compare_packages(*old, *pkg("p", 7, 100)), 0);
    EXPECT_EQ(compare_packages(*rebuilt, *old, true), -1);
    EXPECT_EQ(compare_packages(*old, *pkg("q", 9)), 0);
}

TEST(RelationsTest, CompareJudgesABundleByItsMemberFromTheFirstArgumentsSide) {
    auto bundle = pkg("routeros", 50);
    bundle->members.push_back(pkg("system", 10));
    bundle->members.push_back(pkg("system", 30));  // only the first member of a name counts
    auto newer = pkg("system", 20);
    auto older = pkg("system", 5);
    struct Case { const char* what; const Package& a; const Package& b; int result; };
    const Case cases[] = {
        {"bundle vs newer", *bundle, *newer, -1},
        {"newer vs bundle", *newer, *bundle, 1},
        {"bundle vs older", *bundle, *older, 1},
        {"older vs bundle", *older, *bundle, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(compare_packages(c.a, c.b), c.result);
        EXPECT_EQ(compare_packages(c.a, c.b, true), -c.result);
    }
}

}  // namespace
