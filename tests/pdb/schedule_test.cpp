// Schedule files: the reduced path, the exact first word, and what it does to a record.

#include "pdb/schedule.h"

#include "pdb/package.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

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
        {"uninstall", ScheduleRequest::Uninstall},
        {"enable\n", ScheduleRequest::Enable},
        {"  \n\tdisable trailing words", ScheduleRequest::Disable},
        {"uninstall enable", ScheduleRequest::Uninstall},
        {"Uninstall", ScheduleRequest::None},
        {"uninstalled", ScheduleRequest::None},
        {"", ScheduleRequest::None},
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
    InstalledPackage record("p");
    apply_schedule(record, ScheduleRequest::Enable);  // also on an enabled package
    EXPECT_EQ(record.action, kActionEnable);
    EXPECT_TRUE(record.userForced);
    EXPECT_FALSE(record.disabled);
    InstalledPackage other("q");
    apply_schedule(other, ScheduleRequest::Uninstall);
    EXPECT_EQ(other.action, kActionUninstall);
    EXPECT_FALSE(other.userForced);
    apply_schedule(other, ScheduleRequest::None);
    EXPECT_EQ(other.action, kActionUninstall);
    apply_schedule(other, ScheduleRequest::Disable);
    EXPECT_EQ(other.action, kActionDisable);
    EXPECT_TRUE(other.userForced);
}

}  // namespace
