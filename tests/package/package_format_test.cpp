// Header part reading: refused headers, and the fixed order of optional header chunks per
// reading purpose.

#include "package/package_format.h"

#include "package/format.h"
#include "package/memory_source.h"
#include "package/package_reader.h"
#include "package/signed_packages.h"

#include <gtest/gtest.h>
#include <iterator>

namespace {

const std::vector<std::uint32_t> kScanTypes = {18, 1, 24, 16, 2, 23, 3, 19, 17, 21, 4, 9};
const std::vector<std::uint32_t> kInstallTypes(std::begin(kInstallChunks),
                                               std::end(kInstallChunks));

// Reads the header part of `file` as the given purpose would; `reader` is left after it.
struct HeaderRead {
    HeaderRead(const std::string& file, const std::vector<std::uint32_t>& types = kScanTypes)
        : in(file), reader(in, true, nullptr) {
        for (std::uint32_t t : types) reader.want(t);
        reader.next_chunk();
        ok = read_package_header(record, reader);
    }
    MemorySource in;
    PackageReader reader;
    Package record;
    bool ok = false;
};

// What a whole installation cannot show: a header without flags, and headers that are refused.
TEST(PackageFormatTest, ShortOrMissingHeadersAreRefused) {
    PackageWriter noFlags, shortHeader, archFirst;
    noFlags.package_header({"", 1, 2, std::nullopt}).arch("mips");
    HeaderRead n(noFlags.finish());
    EXPECT_TRUE(n.ok && n.record.flags == 0 && n.record.arch == "mips");
    shortHeader.chunk(kChunkPackageHeader, std::string(31, 'x'));
    archFirst.arch("x");
    EXPECT_FALSE(HeaderRead(shortHeader.finish()).ok);
    EXPECT_FALSE(HeaderRead(archFirst.finish()).ok);
}

TEST(PackageFormatTest, ArchitectureOrderDependsOnPurpose) {
    PackageWriter none, empty, afterNote, unwanted;
    none.package_header({"a", 1, 1, 0}).depends({});
    empty.package_header({"a", 1, 1, 0}).arch("");
    afterNote.package_header({"a", 1, 1, 0}).note("n").arch("powerpc");
    unwanted.package_header({"a", 1, 1, 0}).chunk(5, "zz").text(24, "t").chunk(99, "").arch("arm");
    const std::tuple<const char*, std::string, const char*, const char*> cases[] = {
        {"no arch chunk", none.finish(), "i386", "i386"},
        {"empty arch", empty.finish(), "", ""},
        // Installation does not want notes, so the late arch chunk is in order for it.
        {"arch after note", afterNote.finish(), "i386", "powerpc"},
        {"unwanted chunks between", unwanted.finish(), "arm", "arm"},
    };
    for (const auto& [what, file, scanArch, installArch] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(HeaderRead(file).record.arch, scanArch);
        EXPECT_EQ(HeaderRead(file, kInstallTypes).record.arch, installArch);
    }
}

}  // namespace
