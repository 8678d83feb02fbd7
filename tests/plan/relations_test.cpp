// Version order and text, and the relation tests between package records, by table.

#include "plan/relations.h"

#include "support/scenario.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<Package> pkg(const std::string& name, Version version, std::uint32_t build = 0) {
    auto p = std::make_unique<Package>(name);
    p->version = version;
    p->buildTime = build;
    return p;
}

Dependency dep(const std::string& name, Version min = 0, Version max = 0, std::int32_t prio = 0) {
    return Dependency{name, min, max, prio};
}

TEST(RelationsTest, VersionTextAndLabels) {
    // Common stages show in every run's messages; these are the edges.
    EXPECT_EQ(version_text(ver(6, 40, 'x', 5)), "6.405");
    EXPECT_EQ(version_text(ver(255, 255, 'a', 255)), "255.255alpha255");
    // Two results side by side: a shared buffer would make both read the second.
    EXPECT_EQ(version_text(ver(6, 40, 'f', 1)) + " " + version_text(ver(7, 1, 'b', 2)),
              "6.40.1 7.1beta2");
    auto p = pkg("system", ver(6, 40, 'f', 1));
    EXPECT_EQ(package_label(*p), "system-6.40.1");
    EXPECT_EQ(exact_dependency(*p), dep("system", p->version, p->version));
    EXPECT_EQ(dependency_label(dep("wifi", 0, ver(7, 0))), "wifi");
    EXPECT_EQ(dependency_label(dep("wifi", ver(6, 41, 'c', 2), ver(7, 0))), "wifi-6.41rc2");
    InstalledPackage member("dhcp");
    member.version = ver(6, 40, 'f', 1);
    EXPECT_EQ(display_name(member), "dhcp-6.40.1");
    member.bundle = dep("tarnvel", ver(6, 40), ver(6, 40));
    EXPECT_EQ(display_name(member), "tarnvel-6.40");
}

TEST(RelationsTest, VersionsOrderAsUnsignedAndSatisfyInclusiveBounds) {
    const Version order[] = {ver(6, 40, 'a', 2), ver(6, 40, 'b', 1), ver(6, 40, 'c', 1),
                             ver(6, 40),         ver(6, 40, 'f', 1), ver(200, 0)};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        SCOPED_TRACE(version_text(order[i]));
        auto older = pkg("p", order[i - 1]), newer = pkg("p", order[i]);
        EXPECT_EQ(compare_packages(*newer, *older), 1);
        EXPECT_EQ(compare_packages(*older, *newer), -1);
        EXPECT_TRUE(satisfies(*newer, dep("p", order[i])));  // 200.x has the top bit set
        EXPECT_FALSE(satisfies(*older, dep("p", order[i])));
    }
    const Version v = ver(6, 40);
    const std::pair<Dependency, bool> cases[] = {
        {dep("p"), true},         {dep("q"), false},           {dep("pp"), false},
        {dep("p", v), true},      {dep("p", v + 1), false},    {dep("p", 0, v), true},
        {dep("p", 0, v - 1), false}, {dep("p", v, v), true},   {dep("p", v + 1, v + 1), false},
    };
    for (const auto& [d, met] : cases) {
        SCOPED_TRACE(::testing::Message() << d.name << " " << d.min << " " << d.max);
        EXPECT_EQ(satisfies(*pkg("p", v), d), met);
    }
}

TEST(RelationsTest, RangesOverlapUnlessBoundsSeparateThem) {
    const Version v5 = ver(5, 0), v6 = ver(6, 0), v7 = ver(7, 0);
    const std::tuple<Dependency, Dependency, bool> cases[] = {
        {dep("p"), dep("p", v6, v7), true},         {dep("p"), dep("q"), false},
        {dep("p", v7), dep("p", 0, v6), false},     {dep("p", 0, v5), dep("p", v6), false},
        {dep("p", v6, v7), dep("p", v5, v6), true},  // touching ends
        {dep("p", v7), dep("p", v5), true},         {dep("p", 0, v5), dep("p", 0, v7), true},
    };
    for (const auto& [e, d, overlap] : cases) {
        SCOPED_TRACE(::testing::Message() << e.min << "-" << e.max << " " << d.min << "-" << d.max);
        EXPECT_EQ(ranges_overlap(e, d), overlap);
    }
}

TEST(RelationsTest, DependsOnAndNamesThroughProvidesAndBundleMembers) {
    auto app = pkg("app", 1), lib = pkg("lib", 3), alt = pkg("altlib", 9);
    app->depends.push_back(dep("lib", 2));
    alt->provides.push_back(dep("lib"));
    auto bundle = pkg("bundle", 1), apps = pkg("apps", 1);
    bundle->members.push_back(pkg("lib", 3));
    EXPECT_TRUE(depends_on(*app, *lib));
    EXPECT_FALSE(depends_on(*lib, *app));
    EXPECT_TRUE(depends_on(*app, *alt));
    EXPECT_TRUE(depends_on(*app, *bundle));
    apps->members.push_back(std::move(app));
    EXPECT_TRUE(depends_on(*apps, *lib));
    EXPECT_FALSE(depends_on(*apps, *pkg("other", 1)));
    auto inner = pkg("inner", 1);  // names and members are looked up one level deep
    inner->members.push_back(pkg("deep", 1));
    bundle->members.push_back(std::move(inner));
    EXPECT_TRUE(has_name_or_member(*bundle, "bundle") && has_name_or_member(*bundle, "inner"));
    EXPECT_FALSE(has_name_or_member(*bundle, "deep") || has_name_or_member(*bundle, "bundl"));
}

TEST(RelationsTest, ConflictsWithByListsPrioritiesMembersAndArgumentOrder) {
    auto a = pkg("a", 5), b = pkg("b", 5);
    a->conflicts = {dep("b", 6)};  // b-5 is outside the conflict range
    EXPECT_FALSE(conflicts_with(*a, *b));
    a->conflicts = {dep("b", 5)};
    EXPECT_TRUE(conflicts_with(*a, *b));
    // b takes over a's name: priority 0 conflicts from b's side, a negative one from a's.
    a->conflicts.clear();
    b->provides = {dep("a")};
    EXPECT_FALSE(conflicts_with(*a, *b));
    EXPECT_TRUE(conflicts_with(*b, *a));
    b->provides[0].priority = -1;
    EXPECT_TRUE(conflicts_with(*a, *b));
    EXPECT_FALSE(conflicts_with(*b, *a));
    // Both provide one name: the strictly higher priority conflicts.
    a->provides = {dep("svc", 0, 0, 2)};
    b->provides = {dep("svc", 0, 0, 1)};
    EXPECT_TRUE(conflicts_with(*a, *b));
    EXPECT_FALSE(conflicts_with(*b, *a));
    b->provides[0].priority = 2;
    EXPECT_FALSE(conflicts_with(*a, *b));
    a->provides.clear();
    a->conflicts = {dep("svc")};  // met by what b provides
    EXPECT_TRUE(conflicts_with(*a, *b));
    a->conflicts.clear();
    b->provides.clear();
    b->members.push_back(pkg("a", 4));  // a bundle carrying a package of a's name
    EXPECT_TRUE(conflicts_with(*a, *b));
    auto member = pkg("m", 1);
    member->conflicts.push_back(dep("c"));
    b->members.push_back(std::move(member));
    EXPECT_TRUE(conflicts_with(*b, *pkg("c", 1)));
    // A placeholder conflicts with nothing, in either order.
    auto placeholder = pkg("ntp", ~0u, ~0u), other = pkg("clock", 1);
    placeholder->conflicts = {dep("clock")};
    placeholder->provides = {dep("clock", 0, 0, 5)};
    other->conflicts = {dep("ntp")};
    EXPECT_FALSE(conflicts_with(*placeholder, *other));
    EXPECT_FALSE(conflicts_with(*other, *placeholder));
}

TEST(RelationsTest, CompareByBuildTimeAndByABundlesFirstMemberOfTheName) {
    auto old = pkg("p", 7, 100), rebuilt = pkg("p", 7, 200);
    EXPECT_EQ(compare_packages(*rebuilt, *old), 1);
    EXPECT_EQ(compare_packages(*old, *rebuilt), -1);
    EXPECT_EQ(compare_packages(*old, *pkg("p", 7, 100)), 0);
    EXPECT_EQ(compare_packages(*rebuilt, *old, true), -1);
    EXPECT_EQ(compare_packages(*old, *pkg("q", 9)), 0);
    auto bundle = pkg("tarnvel", 50), newer = pkg("system", 20), older = pkg("system", 5);
    bundle->members.push_back(pkg("system", 10));
    bundle->members.push_back(pkg("system", 30));  // only the first of a name counts
    const std::tuple<const Package&, const Package&, int> cases[] = {
        {*bundle, *newer, -1}, {*newer, *bundle, 1}, {*bundle, *older, 1}, {*older, *bundle, -1}};
    for (const auto& [a, b, result] : cases) {
        SCOPED_TRACE(a.name + " vs " + b.name + " " + std::to_string(b.version));
        EXPECT_EQ(compare_packages(a, b), result);
        EXPECT_EQ(compare_packages(a, b, true), -result);
    }
}

}  // namespace
