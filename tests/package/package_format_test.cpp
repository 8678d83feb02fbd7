// Header part reading: field decoding with distinctive values, the fixed order of optional
// header chunks per reading purpose, bounded text reads, and the directory scan's checks.

#include "package/package_format.h"

#include "package/format.h"
#include "package/package_reader.h"
#include "pkglib/package_writer.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const std::vector<std::uint32_t> kScanTypes = {18, 1, 24, 16, 2, 23, 3, 19, 17, 21};
const std::vector<std::uint32_t> kInstallTypes = {1, 18, 20, 16, 3, 19, 17, 21, 4, 9};

Signer fixed_signer() {
    return [](const std::uint8_t*) { return std::string(68, 's'); };
}

// Reads the header part of `file` as the given purpose would.
bool read_header(const std::string& file, const std::vector<std::uint32_t>& types, Package& record,
                 int* typeAfter = nullptr) {
    std::istringstream in(file);
    PackageReader reader(in, true, nullptr);
    for (std::uint32_t t : types) reader.want(t);
    reader.next_chunk();
    const bool ok = read_package_header(record, reader);
    if (typeAfter) *typeAfter = reader.type();
    return ok;
}

class PackageFormatTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(PackageFormatTest, DecodesHeaderFieldsLittleEndian) {
    PackageWriter w;
    w.package_header({"sixteen-chars-ok", 0x04030201, 0x0d0c0b0a, 0x80000003}).arch("powerpc");
    w.note(std::string("a\0b", 3)).depends({{"system", 0x06000000, 0x06ffffff, -2}});
    w.provides({{"net", 1, 0, 0x01020304}}).conflicts({{"old", 0, 5, 0}}).image("img");
    Package p;
    int after = 0;
    ASSERT_TRUE(read_header(w.finish(), kScanTypes, p, &after));
    EXPECT_EQ(p.name, "sixteen-chars-ok");
    EXPECT_EQ(p.version, 0x04030201u);
    EXPECT_EQ(p.buildTime, 0x0d0c0b0au);
    EXPECT_EQ(p.flags, 0x80000003u);
    EXPECT_EQ(p.arch, "powerpc");
    EXPECT_EQ(p.note, std::string("a\0b", 3));
    EXPECT_EQ(p.depends, (std::vector<Dependency>{{"system", 0x06000000, 0x06ffffff, -2}}));
    EXPECT_EQ(p.provides, (std::vector<Dependency>{{"net", 1, 0, 0x01020304}}));
    EXPECT_EQ(p.conflicts, (std::vector<Dependency>{{"old", 0, 5, 0}}));
    EXPECT_TRUE(p.hasImage);
    EXPECT_FALSE(p.isBundle);
    EXPECT_EQ(after, kChunkImage);
}

TEST_F(PackageFormatTest, HeaderWithoutFlagsWordReadsOn) {
    PackageWriter w;
    w.package_header({"", 1, 2, std::nullopt}).arch("mips");
    Package p;
    p.flags = 77;
    ASSERT_TRUE(read_header(w.finish(), kScanTypes, p));
    EXPECT_EQ(p.flags, 0u);
    EXPECT_EQ(p.name, "");
    EXPECT_EQ(p.arch, "mips");
}

TEST_F(PackageFormatTest, ShortHeaderPayloadOrWrongChunkFails) {
    PackageWriter w;
    w.chunk(kChunkPackageHeader, std::string(31, 'x'));
    Package p;
    EXPECT_FALSE(read_header(w.finish(), kScanTypes, p));
    PackageWriter arch;
    arch.arch("x");
    EXPECT_FALSE(read_header(arch.finish(), kScanTypes, p));
}

TEST_F(PackageFormatTest, ArchitectureOrderDependsOnPurpose) {
    struct Case {
        const char* what;
        std::string file;
        std::string scanArch;
        std::string installArch;
    };
    PackageWriter none, empty, afterNote, unwanted;
    none.package_header({"a", 1, 1, 0}).depends({});
    empty.package_header({"a", 1, 1, 0}).arch("");
    afterNote.package_header({"a", 1, 1, 0}).note("n").arch("powerpc");
    unwanted.package_header({"a", 1, 1, 0}).chunk(5, "zz").text(24, "t").chunk(99, "").arch("arm");
    const Case cases[] = {
        {"no arch chunk", none.finish(), "i386", "i386"},
        {"empty arch", empty.finish(), "", ""},
        // Installation does not want notes, so the late arch chunk is in order for it.
        {"arch after note", afterNote.finish(), "i386", "powerpc"},
        {"unwanted chunks between", unwanted.finish(), "arm", "arm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Package scan, install;
        ASSERT_TRUE(read_header(c.file, kScanTypes, scan));
        ASSERT_TRUE(read_header(c.file, kInstallTypes, install));
        EXPECT_EQ(scan.arch, c.scanArch);
        EXPECT_EQ(install.arch, c.installArch);
    }
}

TEST_F(PackageFormatTest, DependencyListCounts) {
    PackageWriter zero, shortList;
    zero.package_header({"a", 1, 1, 0}).chunk(kChunkDepends, dependency_list_payload({}) + "extra");
    shortList.package_header({"a", 1, 1, 0});
    shortList.chunk(kChunkDepends, dependency_list_payload({{"x", 1, 2, 3}}, 2)).arch("late");
    Package p;
    int after = 0;
    ASSERT_TRUE(read_header(zero.finish(), kScanTypes, p, &after));
    EXPECT_TRUE(p.depends.empty());
    EXPECT_EQ(after, -1);
    Package q;
    EXPECT_FALSE(read_header(shortList.finish(), kScanTypes, q));
    EXPECT_EQ(q.depends.size(), 1u);  // the entry read before the cut stays
}

TEST_F(PackageFormatTest, HugeDeclaredTextLengthOnTinyInputAllocatesLittle) {
    PackageWriter w;
    w.package_header({"a", 1, 1, 0}).chunk_declared(kChunkNote, 0xfffffff0u, "tiny note");
    Package p;
    std::istringstream in(w.finish());
    PackageReader reader(in, true, nullptr);
    for (std::uint32_t t : kScanTypes) reader.want(t);
    reader.next_chunk();
    EXPECT_TRUE(read_package_header(p, reader));
    EXPECT_EQ(p.note, "tiny note");
    EXPECT_LT(p.note.capacity(), 1u << 16);
    EXPECT_TRUE(reader.fail());  // the short read surfaces at the caller's next step
    EXPECT_EQ(reader.next_chunk(), -1);
}

TEST_F(PackageFormatTest, ScanReadsPackageAndChecksSize) {
    PackageSpec spec;
    spec.header = {"tool", 0x01020304, 9, 1};
    spec.arch = "powerpc";
    spec.image = "image";
    spec.files = {{0x81a4, 0, "x", "y"}};
    const std::string good = build_package(spec, fixed_signer());
    ASSERT_TRUE(write_file(dir / "good.npk", good));
    PackageFile f;
    ASSERT_TRUE(scan_package_file(f, dir / "good.npk"));
    EXPECT_EQ(f.filePath, dir / "good.npk");
    EXPECT_EQ(f.size, good.size());
    EXPECT_EQ(f.name, "tool");
    EXPECT_TRUE(f.hasImage);
    EXPECT_FALSE(f.altMagic);

    PackageWriter shortLength;
    shortLength.package_header({"a", 1, 1, 0});
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case bad[] = {
        {"padded", good + "x"},
        {"truncated", good.substr(0, good.size() - 1)},
        {"wrong length field", shortLength.finish(3)},
        {"bad magic", "\x1e\xf1\xd0\xbb" + good.substr(4)},
        {"empty", ""},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(write_file(dir / "bad.npk", c.bytes));
        PackageFile b;
        EXPECT_FALSE(scan_package_file(b, dir / "bad.npk"));
    }
    PackageFile missing;
    EXPECT_FALSE(scan_package_file(missing, dir / "missing.npk"));
}

TEST_F(PackageFormatTest, ScanOfSmallestPackageAndAltMagic) {
    PackageWriter w(kAltPackageMagic);
    w.package_header({"min", 1, 1, std::nullopt}).signature(fixed_signer());
    const std::string file = w.finish();
    EXPECT_EQ(file.size(), 120u);
    ASSERT_TRUE(write_file(dir / "min.npk", file));
    PackageFile f;
    ASSERT_TRUE(scan_package_file(f, dir / "min.npk"));
    EXPECT_TRUE(f.altMagic);
    EXPECT_EQ(f.arch, "i386");
}

TEST_F(PackageFormatTest, ScanReadsBundleMembersAndRefusesEmptyBundle) {
    PackageSpec a, b;
    a.header = {"a", 1, 1, 0};
    a.image = "ai";
    b.header = {"b", 2, 2, 0};
    b.arch = "ppc";
    const std::string bundle =
        build_bundle({"all", 3, 3, 0}, {a, b}, fixed_signer(), {{"b", 0, 0, 0}});
    ASSERT_TRUE(write_file(dir / "all.npk", bundle));
    PackageFile f;
    ASSERT_TRUE(scan_package_file(f, dir / "all.npk"));
    EXPECT_TRUE(f.isBundle);
    ASSERT_EQ(f.members.size(), 2u);
    EXPECT_EQ(f.members[0]->name, "a");
    EXPECT_TRUE(f.members[0]->hasImage);
    EXPECT_EQ(f.members[1]->arch, "ppc");

    PackageWriter empty;
    empty.sha256_marker().bundle_header({"all", 3, 3, 0}).image("i").arch("x");
    ASSERT_TRUE(write_file(dir / "empty.npk", empty.finish()));
    PackageFile e;
    EXPECT_FALSE(scan_package_file(e, dir / "empty.npk"));
}

TEST_F(PackageFormatTest, EveryTruncationOfABundleScansWithoutFault) {
    PackageSpec a;
    a.header = {"a", 1, 1, 0};
    a.depends = {{"sys", 1, 0, 0}, {"net", 2, 0, 0}};
    a.note = "note";
    const std::string bundle = build_bundle({"all", 3, 3, 0}, {a, a}, fixed_signer());
    for (std::size_t len = 0; len <= bundle.size(); ++len) {
        SCOPED_TRACE(len);
        std::istringstream in(bundle.substr(0, len));
        PackageReader reader(in, true, nullptr);
        for (std::uint32_t t : kScanTypes) reader.want(t);
        reader.next_chunk();
        Package p;
        if (!read_package_header(p, reader)) continue;
        while (reader.type() == kChunkPackageHeader) {
            Package member;
            if (!read_package_header(member, reader)) break;
        }
    }
}

}  // namespace
