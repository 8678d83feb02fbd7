// Version order and text, and the relation tests between package records, by table.

#include "plan/relations.h"

#include "support/scenario.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<Package> pkg(const std::string& name, Version version, std::uint32_t build = 0) {
    auto p = std::make_unique<Package>(name);
    p->version = version, p->buildTime = build;
    return p;
}

Dependency dep(const std::string& name, Version min = 0, Version max = 0) {
    return Dependency{name, min, max, 0};
}

TEST(RelationsTest, VersionsShowAndOrderAsUnsignedAndBoundsAreInclusive) {
    // Two texts side by side: a shared buffer would make both read the second.
    EXPECT_EQ(version_text(ver(255, 255, 'a', 255)) + " " + version_text(ver(7, 1, 'b', 2)),
              "255.255alpha255 7.1beta2");
    EXPECT_EQ(dependency_label(dep("wifi", ver(6, 41, 'c', 2), ver(7, 0))), "wifi-6.41rc2");
    auto older = pkg("p", ver(6, 40, 'f', 1)), newer = pkg("p", ver(200, 0));
    EXPECT_EQ(compare_packages(*newer, *older), 1);
    EXPECT_EQ(compare_packages(*older, *newer), -1);
    const Version v = ver(6, 40), v5 = ver(5, 0), v6 = ver(6, 0), v7 = ver(7, 0);
    const std::pair<Dependency, bool> met[] = {
        {dep("p"), true},       {dep("pp"), false},         {dep("p", v), true},
        {dep("p", v + 1), false}, {dep("p", 0, v - 1), false}, {dep("p", v, v), true}};
    for (const auto& [d, want] : met) EXPECT_EQ(satisfies(*pkg("p", v), d), want) << d.min;
    const std::tuple<Dependency, Dependency, bool> overlap[] = {
        {dep("p"), dep("p", v6, v7), true},     {dep("p"), dep("q"), false},
        {dep("p", v7), dep("p", 0, v6), false}, {dep("p", 0, v5), dep("p", v6), false},
        {dep("p", v6, v7), dep("p", v5, v6), true}};
    for (const auto& [e, d, want] : overlap) EXPECT_EQ(ranges_overlap(e, d), want) << e.min;
}

TEST(RelationsTest, DependsOnAndNamesThroughProvidesAndBundleMembers) {
    auto app = pkg("app", 1), lib = pkg("lib", 3), alt = pkg("altlib", 9);
    app->depends.push_back(dep("lib", 2));
    alt->provides.push_back(dep("lib"));
    auto bundle = pkg("bundle", 1), apps = pkg("apps", 1);
    bundle->members.push_back(pkg("lib", 3));
    EXPECT_TRUE(depends_on(*app, *lib) && depends_on(*app, *alt) && depends_on(*app, *bundle));
    EXPECT_FALSE(depends_on(*lib, *app));
    apps->members.push_back(std::move(app));
    EXPECT_TRUE(depends_on(*apps, *lib));
    auto inner = pkg("inner", 1);  // names and members are looked up one level deep
    inner->members.push_back(pkg("deep", 1));
    bundle->members.push_back(std::move(inner));
    EXPECT_TRUE(has_name_or_member(*bundle, "bundle") && has_name_or_member(*bundle, "inner"));
    EXPECT_FALSE(has_name_or_member(*bundle, "deep") || has_name_or_member(*bundle, "bundl"));
}

TEST(RelationsTest, ConflictsByListsPrioritiesMembersAndArgumentOrder) {
    // Two installed records a and b (see Scenario::given): a conflicts with b, b with a.
    const std::tuple<const char*, bool, bool> cases[] = {
        {"a#b b", true, false},
        {"a b+a", false, true},  // b takes over a's name: priority 0 conflicts from b's side
        {"a b+a:-1", true, false},
        {"a+svc:2 b+svc:1", true, false},  // one name provided: the higher priority conflicts
        {"a+svc:2 b+svc:2", false, false},
        {"a#svc b+svc", true, false},
    };
    for (const auto& [given, ab, ba] : cases) {
        Scenario s;
        s.given(given);
        const Package &a = *s.installer.packages[0], &b = *s.installer.packages[1];
        EXPECT_EQ(conflicts_with(a, b), ab) << given;
        EXPECT_EQ(conflicts_with(b, a), ba) << given;
    }
    auto a = pkg("a", 5), b = pkg("b", 5), member = pkg("m", 1);
    b->members.push_back(pkg("a", 4));  // a bundle carrying a package of a's name
    member->conflicts.push_back(dep("c"));
    b->members.push_back(std::move(member));
    EXPECT_TRUE(conflicts_with(*a, *b) && conflicts_with(*b, *pkg("c", 1)));
    // A placeholder conflicts with nothing, in either order.
    auto placeholder = pkg("ntp", ~0u, ~0u), other = pkg("clock", 1);
    placeholder->conflicts = {dep("clock")};
    other->conflicts = {dep("ntp")};
    EXPECT_FALSE(conflicts_with(*placeholder, *other) || conflicts_with(*other, *placeholder));
}

TEST(RelationsTest, CompareByBuildTimeAndByABundlesFirstMemberOfTheName) {
    auto old = pkg("p", 7, 100), rebuilt = pkg("p", 7, 200);
    EXPECT_EQ(compare_packages(*rebuilt, *old), 1);
    EXPECT_EQ(compare_packages(*rebuilt, *old, true), -1);
    EXPECT_EQ(compare_packages(*old, *pkg("p", 7, 100)), 0);
    EXPECT_EQ(compare_packages(*old, *pkg("q", 9)), 0);
    auto bundle = pkg("tarnvel", 50), newer = pkg("system", 20), older = pkg("system", 5);
    bundle->members.push_back(pkg("system", 10));
    bundle->members.push_back(pkg("system", 30));  // only the first of a name counts
    const std::tuple<const Package&, const Package&, int> cases[] = {
        {*bundle, *newer, -1}, {*newer, *bundle, 1}, {*bundle, *older, 1}, {*older, *bundle, -1}};
    for (const auto& [a, b, result] : cases) {
        EXPECT_EQ(compare_packages(a, b), result) << a.name << b.version;
        EXPECT_EQ(compare_packages(a, b, true), -result);
    }
}

}  // namespace
