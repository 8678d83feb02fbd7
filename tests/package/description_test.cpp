// Package descriptions and version texts: what pkgtool and the test fixtures build from, read
// back by the installer's own scan. A fault here would silently build a different package than
// the one a test or a person described (pkgtool's refusals are tested end to end).
#include "pkglib/description.h"
#include "pkglib/version_parse.h"

#include "package/format.h"
#include "package/inflate_stream.h"
#include "package/package_format.h"
#include "package/package_reader.h"
#include "plan/relations.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sstream>

namespace {

const DigestSigner refuse = [](const std::uint8_t*, SignatureKind) { return std::string(); };

TEST(VersionParseTest, PacksEveryTextFormPrintsItBackAndRefusesMalformedText) {
    const std::pair<const char*, Version> cases[] = {
        {"6.40", 0x06286600},   {"6.40.1", 0x06286601},     {"6.41beta3", 0x06296203},
        {"7.1rc2", 0x07016302}, {"6.40alpha2", 0x06286102}, {"255.255alpha255", 0xffff61ff},
    };
    for (const auto& [text, packed] : cases) {
        SCOPED_TRACE(text);
        Version v = 1;
        ASSERT_TRUE(parse_version_text(text, v));
        EXPECT_EQ(v, packed);
        EXPECT_EQ(version_text(v), text);
    }
    for (const char* text : {"", "6.", "6.256", "6.40.1.2", "6.40beta3x", "6.40gamma", "6.40 ",
                             "6.40.1beta", "6.-1"}) {
        SCOPED_TRACE(text);
        Version v = 0x12345678;
        EXPECT_FALSE(parse_version_text(text, v));
        EXPECT_EQ(v, 0x12345678u);
    }
}

class DescriptionTest : public ::testing::Test {
protected:
    bool parse(const std::string& text, PackageDescription& d) {
        return parse_description(text, dir.path(), d, err);
    }
    // Builds with a stand-in signer (a payload of the kind's size); scans it back into `f`.
    std::string build(const std::string& text, PackageFile* f = nullptr) {
        PackageDescription d;
        EXPECT_TRUE(parse(text, d)) << err;
        std::string bytes;
        auto signer = [this](const std::uint8_t*, SignatureKind kind) {
            return ++signs, std::string(kind == SignatureKind::Legacy ? 68 : 132, 's');
        };
        EXPECT_TRUE(build_package_file(d, signer, bytes, err)) << err;
        if (f) {
            EXPECT_TRUE(write_file(dir / "p.npk", bytes) && scan_package_file(*f, dir / "p.npk"));
        }
        return bytes;
    }
    TempDir dir;
    std::string err;
    int signs = 0;
};

TEST_F(DescriptionTest, InstallerScanReadsBackEveryDescribedHeaderField) {
    const std::string text =
        "# a feature package\nname routing\nversion 6.41beta3\nbuild-time 0x04030201\n"
        "flags boot 0x10\narch ppc\nnote two  spaces\\x00zero\n\ndepends system 6.40 0\n"
        "provides ospf 0 0 -5\nconflicts oldroute 1.0 2.0\nimage size 10\nempty-files\nsha256\n";
    PackageFile f;
    const std::string bytes = build(text, &f);
    EXPECT_EQ(build(text), bytes);  // reproducible
    EXPECT_EQ(std::tie(f.name, f.version, f.buildTime, f.flags, f.arch, f.hasImage),
              std::make_tuple("routing", 0x06296203u, 0x04030201u, 0x11u, "ppc", true));
    EXPECT_EQ(f.note, std::string("two  spaces\0zero", 16));
    EXPECT_EQ(f.depends, (std::vector<Dependency>{{"system", 0x06286600, 0, 0}}));
    EXPECT_EQ(f.provides, (std::vector<Dependency>{{"ospf", 0, 0, -5}}));
    EXPECT_EQ(f.conflicts, (std::vector<Dependency>{{"oldroute", 0x01006600, 0x02006600, 0}}));
    PackageDescription d;
    ASSERT_TRUE(parse(text, d));
    EXPECT_TRUE(d.sha256 && d.image == std::string(10, '\0'));
    ASSERT_TRUE(parse("name abcdefghijklmnop\nversion 1.0\narch\n", d)) << err;
    EXPECT_TRUE(d.hasArch && d.writeFlags);  // an empty arch line still writes an arch chunk
}

TEST_F(DescriptionTest, TreeBecomesEntriesWithModesVariantsAndLinks) {
    ASSERT_TRUE(write_file(dir / "tree/bin/tool", "#!/bin/sh\n"));
    ASSERT_TRUE(write_file(dir / "tree/etc/conf", "x=1\n"));
    ASSERT_EQ(chmod((dir / "tree/bin/tool").c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir / "tree/etc/conf").c_str(), 0640), 0);
    ASSERT_EQ(symlink("../bin/tool", (dir / "tree/etc/link").c_str()), 0);
    PackageDescription d;
    ASSERT_TRUE(parse("name a\nversion 1.0\nfiles tree\nvariant bin/toll 2\n", d)) << err;
    std::string bytes;
    EXPECT_FALSE(build_package_file(d, refuse, bytes, err));
    EXPECT_NE(err.find("bin/toll"), std::string::npos) << err;

    std::istringstream in(
        build("name a\nversion 1.0\nfiles tree\nvariant /bin/tool 3\nfile extra 0600 e\n"));
    PackageReader reader(in, false, nullptr);
    reader.want(kChunkFiles);
    ASSERT_EQ(reader.next_chunk(), kChunkFiles);
    InflateStream z(reader);
    std::string seen;
    std::uint8_t h[kFileEntryHeaderSize];
    while (z.read(reinterpret_cast<char*>(h), sizeof h)) {
        std::string name(load_u16(h + 28), '\0'), data(load_u32(h + 24), '\0');
        ASSERT_TRUE(z.read(name.data(), std::streamsize(name.size())));
        ASSERT_TRUE(z.read(data.data(), std::streamsize(data.size())) || data.empty());
        // Directory permissions follow the umask of the test run: only their type counts.
        const unsigned mode = load_u16(h), kind = mode & 0170000;
        char line[160];
        std::snprintf(line, sizeof line, "%06o %u %s %s|", kind == 0040000 ? kind : mode, h[23],
                      name.c_str(), data.c_str());
        seen += line;
    }
    EXPECT_EQ(seen, "040000 0 bin |100755 3 bin/tool #!/bin/sh\n|040000 0 etc |"
                    "100640 0 etc/conf x=1\n|120777 0 etc/link ../bin/tool|100600 0 extra e|");
}

}  // namespace
