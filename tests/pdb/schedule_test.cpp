// Schedule files: the reduced path, the exact first word, and what it does to a record.

#include "pdb/schedule.h"

#include "core/package.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <tuple>

#include <sys/stat.h>

namespace {

TEST(ScheduleTest, PathKeepsOnlyAsciiLettersDigitsAndDash) {
    const std::pair<const char*, const char*> cases[] = {
        {"wireless-7.1", "wireless-71"}, {"x_y z", "xyz"}, {"../../etc", "etc"},
        {"caf\xc3\xa9", "caf"},          {"", ""},
    };
    for (const auto& [name, reduced] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(schedule_path(name), "/ram/pdb/" + std::string(reduced) + "/schedule");
    }
}

TEST(ScheduleTest, FirstWordDecidesAndIsComparedExactly) {
    const std::pair<const char*, ScheduleRequest> cases[] = {
        {"uninstall", ScheduleRequest::Uninstall}, {"enable\n", ScheduleRequest::Enable},
        {"  \n\tdisable trailing words", ScheduleRequest::Disable},
        {"uninstall enable", ScheduleRequest::Uninstall}, {"Uninstall", ScheduleRequest::None},
        {"uninstalled", ScheduleRequest::None}, {"", ScheduleRequest::None},
        {" \n ", ScheduleRequest::None},
    };
    TempDir dir;
    for (const auto& [text, want] : cases) {
        SCOPED_TRACE(text);
        write_file(dir / "schedule", text);
        EXPECT_EQ(read_schedule(dir / "schedule"), want);
    }
    EXPECT_EQ(read_schedule(dir / "absent"), ScheduleRequest::None);
    ASSERT_EQ(::mkdir((dir / "isdir").c_str(), 0755), 0);
    EXPECT_EQ(read_schedule(dir / "isdir"), ScheduleRequest::None);
}

TEST(ScheduleTest, RequestsSetTheActionAndOnlyEnableAndDisableMarkTheUsersChoice) {
    InstalledPackage p("p"), q("q");
    apply_schedule(p, ScheduleRequest::Enable);  // also on an enabled package
    apply_schedule(q, ScheduleRequest::Uninstall);
    EXPECT_EQ(std::tuple(p.action, p.userForced, p.disabled, q.action, q.userForced),
              std::tuple(+kActionEnable, true, false, +kActionUninstall, false));
    apply_schedule(q, ScheduleRequest::None);
    EXPECT_EQ(q.action, kActionUninstall);
    apply_schedule(q, ScheduleRequest::Disable);
    EXPECT_EQ(std::pair(q.action, q.userForced), std::pair(+kActionDisable, true));
}

}  // namespace
