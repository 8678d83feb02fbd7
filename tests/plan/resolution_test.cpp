// Resolution cases runs do not show (requested actions in; settled actions, lists and messages
// out), and the indexed resolver against the plain scans on random sets.

#include "plan/resolution.h"

#include "plan/plain_resolution.h"
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Installed records (see Scenario::given) -> "actions|removals|enables|messages".
TEST(ResolutionTest, Scenarios) {
    const std::pair<const char*, const char*> rows[] = {
        {"ntp~ ntp~ mond>ntp system",  // equal satisfiers drop each other
         "ntp=-(disabled) ntp=-(disabled) mond=disable system=-|mond||"},
        {"b*^b~!e system", "b=enable(disabled) system=-||b|"},  // a bundle linked to itself
        {"ppp^tarnvel~!e tarnvel*~ system",  // keeping a member keeps its bundle
         "ppp=enable(disabled) tarnvel=enable(disabled) system=-||tarnvel ppp|"},
        {"ntp@41~ ntp@40~ mond>ntp~!e system",  // the newest inactive satisfier is enabled
         "ntp=enable(disabled) ntp=-(disabled) mond=enable(disabled) system=-||ntp mond|"},
        {"tool2>tool tool>ntp gone2>gone1 gone1>missing ntp clock#ntp~!e system",
         "tool2=disable tool=disable gone2=uninstall gone1=uninstall ntp=disable "
         "clock=enable(disabled) system=-|tool2 tool gone2 gone1 ntp|clock|"},
        {"a#b~!e b~!e c#a system",  // of two conflicting enables the first gives way
         "a=enable(disabled) b=-(disabled) c=disable system=-|c|a|"
         "WARNING: can not enable b: a-6.40 conflicts with it\n"},
        {"tarnvel* ppp^tarnvel!e", "tarnvel=- ppp=enable||ppp|"},  // the only enabled member
    };
    for (const auto& [given, want] : rows) {
        Scenario s;
        s.given(given);
        std::vector<InstalledPackage*> removals, enables;
        EXPECT_TRUE(resolve_actions(s.installer, removals, enables, Verbosity::Changes));
        EXPECT_EQ(s.actions() + "|" + Scenario::names(removals) + "|" + Scenario::names(enables) +
                      "|" + message_lines(), want) << given;
    }
}

TEST(ResolutionTest, ARefusalLeavesTheListsAloneAndSilenceIsQuiet) {
    Scenario r;
    r.blocker("wifi");  // blockers neither act nor count as active
    r.given("system!u mond>system~ ppp!d");
    InstalledPackage sentinel("sentinel");
    std::vector<InstalledPackage*> removals = {&sentinel}, enables;
    EXPECT_FALSE(resolve_actions(r.installer, removals, enables, Verbosity::Changes));
    EXPECT_EQ(r.actions() + "|" + Scenario::names(removals),
              "=- system=- mond=-(disabled) ppp=-|sentinel");
    Scenario q;
    q.given("clock+ntp!d mond>ntp");
    EXPECT_TRUE(resolve_actions(q.installer, removals, enables, Verbosity::Silent));
    EXPECT_EQ(q.actions() + "|" + message_lines(), "clock=- mond=-|");
}

// Random package sets with few names, so that relations, duplicates and bundles are common.
void build_random(Scenario& s, std::uint32_t seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    const char* const names[] = {"system", "ppp", "ntp", "wifi", "mond", "dhcp", "b1", "b2"};
    const Version versions[] = {ver(6, 39), ver(6, 40), ver(6, 41)};
    auto some = [&](int odds) { return pick(odds) == 0 ? versions[pick(3)] : 0; };
    for (int i = 1 + pick(12); i > 0; --i) {
        if (pick(15) == 0) {
            s.blocker(names[pick(8)]);
            continue;
        }
        const std::string name = names[pick(8)];
        RecordBuilder p = s.installed(name, versions[pick(3)]).built(std::uint32_t(pick(2)));
        if (name[0] == 'b') p.bundle();
        for (int k = pick(3); k > 0; --k) p.needs(names[pick(6)], some(3), some(4));
        for (int k = pick(3) == 0 ? 1 + pick(2) : 0; k > 0; --k)
            p.provides(names[pick(6)], pick(4) - 1, 0, some(4));
        if (pick(4) == 0) p.conflicts(names[pick(6)], some(3));
        if (pick(3) == 0) p.member_of(names[6 + pick(2)]);
        if (pick(3) == 0) p.disabled();
        if (pick(10) == 0) p.placeholder();
        p.action(pick(2) == 0 ? std::uint32_t(pick(4)) : kActionNone);
    }
}

// Result, actions, both lists as positions (records may share a name) and messages.
TEST(ResolutionTest, IndexedResolverMatchesThePlainScans) {
    int refused = 0, changed = 0;
    for (std::uint32_t seed = 1; seed <= 600; ++seed) {
        std::string results[2];
        for (const bool plain : {false, true}) {
            Scenario s;
            build_random(s, seed);
            std::vector<InstalledPackage*> removals, enables;
            const bool result = (plain ? plain_resolve_actions : resolve_actions)(
                s.installer, removals, enables, Verbosity::Changes);
            refused += plain && !result;
            changed += plain && (!removals.empty() || !enables.empty());
            std::string& out = results[plain];
            out = std::to_string(result) + "|" + s.actions() + "|" + message_lines();
            for (const auto* list : {&removals, &enables}) {
                out += "|";
                for (const InstalledPackage* p : *list)
                    for (std::size_t i = 0; i < s.installer.packages.size(); ++i)
                        if (s.installer.packages[i].get() == p) out += std::to_string(i) + " ";
            }
        }
        EXPECT_EQ(results[0], results[1]) << seed;
    }
    // The sets must exercise both the guard and real work, or the comparison proves little.
    EXPECT_GT(refused, 10);
    EXPECT_GT(changed, 200);
}

}  // namespace
