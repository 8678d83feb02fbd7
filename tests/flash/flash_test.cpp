// The hardware variant (one row per processor family; the flag asked only where it decides),
// and the real device's fall-back answers when its devices are missing or refuse requests.
#include "flash/flash_device.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(FlashTest, HardwareVariantAndFallBackAnswers) {
    // Processor version, flash flag; variant, whether the flag was asked.
    const std::tuple<std::uint32_t, int, int, int> rows[] = {
        {0x80211000, 0, 4, 1},    {0x80212155, 0x10, 2, 1}, {0x80211100, 0x10, 2, 0},
        {0x80830000, 0, 1, 0},    {0x80840000, 0, 1, 0},    {0x80851234, 0, 1, 0},
        {0x80860000, 0x10, 0, 0}, {0x1302FFFF, 0x10, 3, 0}};
    for (const auto& [pvr, flag, variant, asked] : rows) {
        FakeFlash fake;
        fake.pvrValue = pvr, fake.flag = flag;
        EXPECT_EQ(hardware_variant(fake), variant) << std::hex << pvr;
        EXPECT_EQ(fake.flagQueries, asked) << std::hex << pvr;
    }
    TempDir dir;
    for (bool present : {false, true}) {
        // Plain files open but refuse every ioctl, as a driver without these requests would.
        if (present) write_file(dir / "flash", ""), write_file(dir / "mtd0", "");
        auto device = make_ioctl_flash_device(dir / "flash", dir / "mtd0");
        EXPECT_EQ(device->min_version(), 0u);
        EXPECT_FALSE(device->mtd0_has_256k_blocks());
        EXPECT_EQ(device->flash_flag(), present ? 0x10 : 0);  // a failing request's -1 has 0x10
    }
}

}  // namespace
