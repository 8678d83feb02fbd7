// The real flash device: ioctl requests on /dev/flash and /dev/mtd0, and the PowerPC processor
// version register. Request numbers are the encodings of the 32-bit PowerPC target, where the
// direction bits are 1 none, 2 read, 6 read-write in the top three bits.

#include "flash/flash_device.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Read-write, type 'F', number 0x26, size 4: the driver fills in the lowest accepted version.
constexpr unsigned long kRequestMinVersion = 0xC0044626ul;
// MEMGETINFO of Linux MTD (read, type 'M', number 1, size 32 = struct mtd_info_user).
constexpr unsigned long kRequestMtdInfo = 0x40204D01ul;
// No data, type 'F', number 0x2B.
constexpr unsigned long kRequestFlashFlag = 0x2000462Bul;

constexpr std::uint32_t kEraseSize256K = 262144;
constexpr int kFlashFlagBit = 0x10;

// The driver's request record, in native byte order: two tags naming the request, then the
// answer. The tags' meaning belongs to the driver.
struct MinVersionRecord {
    std::uint16_t tag1 = 4;
    std::uint16_t tag2 = 37;
    std::uint32_t version = 0;
};
static_assert(sizeof(MinVersionRecord) == 8);

// The open file descriptor of one query; closed before the query returns.
class Fd {
public:
    Fd(const std::string& path, int flags) : fd_(::open(path.c_str(), flags)) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    bool ok() const { return fd_ >= 0; }
    int get() const { return fd_; }

private:
    int fd_;
};

class IoctlFlashDevice final : public FlashDevice {
public:
    IoctlFlashDevice(std::string flashPath, std::string mtdPath)
        : flashPath_(std::move(flashPath)), mtdPath_(std::move(mtdPath)) {}

    std::uint32_t min_version() override {
        Fd fd(flashPath_, O_RDWR);
        if (!fd.ok()) return 0;
        MinVersionRecord record;
        // The request's own result does not matter: an unfilled record still says 0.
        (void)::ioctl(fd.get(), kRequestMinVersion, &record);
        return record.version;
    }

    bool mtd0_has_256k_blocks() override {
        Fd fd(mtdPath_, O_RDONLY);
        if (!fd.ok()) return false;
        // struct mtd_info_user: type u8 + padding, flags, size, erasesize (offset 12), writesize,
        // oobsize, two reserved words; eight native u32 words in all.
        std::uint32_t info[8] = {};
        if (::ioctl(fd.get(), kRequestMtdInfo, info) != 0) return false;
        return info[3] == kEraseSize256K;
    }

    int flash_flag() override {
        Fd fd(flashPath_, O_RDONLY);
        if (!fd.ok()) return 0;
        // A refused request returns -1, whose bit 0x10 is set, so a driver that does not know
        // the request reports the flag as set.
        return ::ioctl(fd.get(), kRequestFlashFlag) & kFlashFlagBit;
    }

    std::uint32_t pvr() override {
#if defined(__powerpc__)
        std::uint32_t value;
        asm volatile("mfpvr %0" : "=r"(value));
        return value;
#else
        return 0;
#endif
    }

private:
    std::string flashPath_;
    std::string mtdPath_;
};

}  // namespace

FlashDevice& real_flash_device() {
    static IoctlFlashDevice device("/dev/flash", "/dev/mtd0");
    return device;
}

std::unique_ptr<FlashDevice> make_ioctl_flash_device(std::string flashPath, std::string mtdPath) {
    return std::make_unique<IoctlFlashDevice>(std::move(flashPath), std::move(mtdPath));
}
