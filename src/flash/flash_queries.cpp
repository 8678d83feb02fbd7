// The hardware variant of a device, and the mapping from processor version
// to hardware variant. Only the variant's one processor family needs the flash flag.

#include "flash/flash_device.h"

namespace {

// The family whose variant depends on the flash flag; the low 8 bits (revision) do not matter.
bool is_flag_family(std::uint32_t pvr) {
    const std::uint32_t family = pvr & 0xFFFFFF00u;
    return family == 0x80211000u || family == 0x80212100u;
}

}  // namespace

int hardware_variant(FlashDevice& device) {
    const std::uint32_t pvr = device.pvr();
    // Ask the flash driver only when the answer can matter.
    return hardware_variant_of(pvr, is_flag_family(pvr) ? device.flash_flag() : 0);
}

int hardware_variant_of(std::uint32_t pvr, int flashFlag) {
    if (is_flag_family(pvr)) return flashFlag != 0 ? 2 : 4;
    const std::uint32_t b = (pvr >> 16) & 0xFF;
    if (b == 0x20 || b == 0x21) return 2;
    if (b == 0x83 || b == 0x84 || b == 0x85) return 1;
    if ((pvr >> 16) == 0x1302) return 3;
    return 0;
}
