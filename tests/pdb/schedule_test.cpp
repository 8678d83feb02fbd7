// Schedule files: the reduced path, the exact first word, and what it does to a record.

#include "pdb/schedule.h"

#include "pdb/package.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class ScheduleTest : public ::testing::Test {
protected:
    ScheduleRequest read_text(const std::string& text) {
        write_file(dir / "schedule", text);
        return read_schedule(dir / "schedule");
    }
    TempDir dir;
};

TEST_F(ScheduleTest, PathKeepsOnlyAsciiLettersDigitsAndDash) {
    EXPECT_EQ(schedule_path("wireless-7.1"), "/ram/pdb/wireless-71/schedule");
    EXPECT_EQ(schedule_path("a.b"), schedule_path("ab"));
    EXPECT_EQ(schedule_path("x_y z"), schedule_path("xyz"));
    // Path separators and parent references cannot survive the reduction.
    EXPECT_EQ(schedule_path("../../etc"), "/ram/pdb/etc/schedule");
    EXPECT_EQ(schedule_path("caf\xc3\xa9"), "/ram/pdb/caf/schedule");
    EXPECT_EQ(schedule_path(""), "/ram/pdb//schedule");
}

TEST_F(ScheduleTest, FirstWordDecidesAndIsComparedExactly) {
    struct Case {
        const char* text;
        ScheduleRequest want;
    } cases[] = {
        {"uninstall", ScheduleRequest::Uninstall},
        {"enable\n", ScheduleRequest::Enable},
        {"  \n\tdisable trailing words", ScheduleRequest::Disable},
        {"uninstall enable", ScheduleRequest::Uninstall},
        {"Uninstall", ScheduleRequest::None},
        {"uninstalled", ScheduleRequest::None},
        {"", ScheduleRequest::None},
        {" \n ", ScheduleRequest::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(read_text(c.text), c.want);
    }
}

TEST_F(ScheduleTest, MissingOrUnreadableFileAsksForNothing) {
    EXPECT_EQ(read_schedule(dir / "absent"), ScheduleRequest::None);
    ASSERT_EQ(::mkdir((dir / "isdir").c_str(), 0755), 0);
    EXPECT_EQ(read_schedule(dir / "isdir"), ScheduleRequest::None);
}

TEST_F(ScheduleTest, EnableOnAnEnabledPackageStillMarksTheUsersChoice) {
    InstalledPackage record("p");
    apply_schedule(record, ScheduleRequest::Enable);
    EXPECT_EQ(record.action, kActionEnable);
    EXPECT_TRUE(record.userForced);
    EXPECT_FALSE(record.disabled);
}

TEST_F(ScheduleTest, UninstallKeepsUserForcedAndNoneChangesNothing) {
    InstalledPackage record("p");
    record.action = kActionUninstall;
    apply_schedule(record, ScheduleRequest::None);
    EXPECT_EQ(record.action, kActionUninstall);
    record.action = kActionNone;
    apply_schedule(record, ScheduleRequest::Uninstall);
    EXPECT_EQ(record.action, kActionUninstall);
    EXPECT_FALSE(record.userForced);
    apply_schedule(record, ScheduleRequest::Disable);
    EXPECT_EQ(record.action, kActionDisable);
    EXPECT_TRUE(record.userForced);
}

}  // namespace
