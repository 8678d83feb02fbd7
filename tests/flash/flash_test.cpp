// Hardware variant by table, the flag asked of the device only when needed, and the real
// device's fall-back answers when its devices are missing or refuse the requests.

#include "flash/flash_device.h"

#include "support/scenario.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(FlashTest, HardwareVariantByProcessorVersion) {
    struct Case { std::uint32_t pvr; int flag; int variant; };
    const Case cases[] = {
        {0x80211000, 0, 4}, {0x80211000, 0x10, 2}, {0x802110FF, 0, 4},
        {0x80212100, 0, 4}, {0x80212155, 0x10, 2},
        {0x80211100, 0, 2},  // same upper 16 bits, other family: by bits 16-23 (0x21)
        {0x80200000, 0, 2}, {0x80210000, 0x10, 2},
        {0x80830000, 0, 1}, {0x80840000, 0, 1}, {0x80851234, 0, 1},
        {0x80860000, 0, 0}, {0x13020000, 0, 3}, {0x1302FFFF, 0x10, 3},
        {0x00040000, 0, 0}, {0x00000000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.pvr << " flag " << c.flag);
        EXPECT_EQ(hardware_variant_of(c.pvr, c.flag), c.variant);
    }
}

TEST(FlashTest, HardwareVariantAsksTheFlagOnlyWhenItMatters) {
    FakeFlash fake;
    fake.flag = 0x10;
    fake.pvrValue = 0x80211003;
    EXPECT_EQ(hardware_variant(fake), 2);
    fake.flag = 0;
    EXPECT_EQ(hardware_variant(fake), 4);
    fake.pvrValue = 0x80840000;
    EXPECT_EQ(hardware_variant(fake), 1);
    EXPECT_EQ(fake.flagQueries, 2);
}

TEST(FlashTest, MissingOrRefusingDevicesGiveTheFallBackAnswers) {
    TempDir dir;
    for (bool present : {false, true}) {
        SCOPED_TRACE(present);
        // Plain files open but refuse every ioctl, as a driver without these requests would.
        if (present) write_file(dir / "flash", ""), write_file(dir / "mtd0", "");
        auto device = make_ioctl_flash_device(dir / "flash", dir / "mtd0");
        EXPECT_EQ(device->min_version(), 0u);
        EXPECT_FALSE(device->mtd0_has_256k_blocks());
        EXPECT_EQ(device->flash_flag(), present ? 0x10 : 0);  // a failing request's -1 has 0x10
    }
#if !defined(__powerpc__)
    EXPECT_EQ(real_flash_device().pvr(), 0u);
#endif
}

}  // namespace
