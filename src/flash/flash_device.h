#pragma once
// Questions to the platform's flash driver, the first MTD device and the processor that decide
// which packages and package files fit this device. Each query opens its device afresh, caches
// nothing, prints nothing, and gives a fixed fall-back answer when the device is missing.

#include <cstdint>
#include <memory>
#include <string>

// The seam to the hardware. The real one issues ioctl requests (flash_ioctl.cpp); the entry
// hands it to the Installer, and tests hand a fake instead.
class FlashDevice {
public:
    virtual ~FlashDevice() = default;
    // Lowest package version the device accepts; 0 (no limit) without /dev/flash.
    virtual std::uint32_t min_version() = 0;
    // True only when /dev/mtd0 answers MEMGETINFO with 256 KiB erase blocks.
    virtual bool mtd0_has_256k_blocks() = 0;
    // 0 or 0x10; 0 without /dev/flash, 0x10 when the driver refuses the request.
    virtual int flash_flag() = 0;
    // The processor version register; 0 where the processor does not offer it.
    virtual std::uint32_t pvr() = 0;
};

// The device of this process: /dev/flash, /dev/mtd0 and the running processor.
FlashDevice& real_flash_device();
// The same requests on other device paths (tests point them at plain files).
std::unique_ptr<FlashDevice> make_ioctl_flash_device(std::string flashPath, std::string mtdPath);

// 0 to 4: the hardware byte that a package file entry must carry (when non-zero) to be
// extracted on `device`.
int hardware_variant(FlashDevice& device);
// The variant for a processor version and flash flag; the flag matters for one processor family.
int hardware_variant_of(std::uint32_t pvr, int flashFlag);
