// Package descriptions and version texts: what pkgtool and the test fixtures build from. A fault
// here would silently build a different package than the one a test or a person described.
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

#include <fstream>
#include <sstream>

namespace {

struct VersionCase {
    const char* text;
    Version packed;
};

TEST(VersionParseTest, PacksEveryTextForm) {
    const VersionCase cases[] = {
        {"6.40", 0x06286600},      {"6.40.1", 0x06286601},     {"6.41beta3", 0x06296203},
        {"6.41beta", 0x06296200},  {"7.1rc2", 0x07016302},     {"6.40alpha2", 0x06286102},
        {"3.20.2", 0x03146602},    {"255.255alpha255", 0xffff61ff}, {"0", 0},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.text);
        Version v = 1;
        ASSERT_TRUE(parse_version_text(c.text, v));
        EXPECT_EQ(v, c.packed);
        if (c.packed != 0) {
            EXPECT_EQ(version_text(v), c.text);  // the inverse of the display form
        }
    }
}

TEST(VersionParseTest, RefusesMalformedTextWithoutTouchingTheResult) {
    const char* bad[] = {"",        "6",          "6.",         "6.40.",     "6.256",
                         "256.1",   "6.40.1.2",   "6.40beta3x", "6.40gamma", "v6.40",
                         " 6.40",   "6.40 ",      "6.40.1beta", "6.0040",    "6.-1",
                         "6.40rc-1", "6,40",      "00"};
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        Version v = 0x12345678;
        EXPECT_FALSE(parse_version_text(text, v));
        EXPECT_EQ(v, 0x12345678u);
    }
}

TEST(VersionParseTest, ParsedVersionsOrderAsReleases) {
    const char* ordered[] = {"6.40alpha2", "6.40beta1", "6.40rc1", "6.40", "6.40.1", "6.41beta1"};
    Version previous = 0;
    for (const char* text : ordered) {
        SCOPED_TRACE(text);
        Version v = 0;
        ASSERT_TRUE(parse_version_text(text, v));
        EXPECT_GT(v, previous);
        previous = v;
    }
}

class DescriptionTest : public ::testing::Test {
protected:
    bool parse(const std::string& text, PackageDescription& d) {
        return parse_description(text, dir.path(), d, err);
    }
    // Expects a refusal whose message contains `part`.
    void expect_refused(const std::string& text, const std::string& part) {
        SCOPED_TRACE(text);
        PackageDescription d;
        EXPECT_FALSE(parse(text, d));
        EXPECT_NE(err.find(part), std::string::npos) << err;
    }

    TempDir dir;
    std::string err;
};

TEST_F(DescriptionTest, ReadsEveryHeaderField) {
    PackageDescription d;
    ASSERT_TRUE(parse("# a feature package\n"
                      "name routing\n"
                      "version 6.41beta3\n"
                      "build-time 1700000000\n"
                      "flags boot 0x10\n"
                      "arch powerpc\n"
                      "note two  spaces\\x00zero\n"
                      "\n"
                      "depends system 6.41beta3 6.41\n"
                      "provides ospf 0 0 -5\n"
                      "conflicts quagga\n"
                      "sha256\n"
                      "signature legacy\n"
                      "image size 10\n",
                      d))
        << err;
    EXPECT_EQ(d.name, "routing");
    EXPECT_EQ(d.version, 0x06296203u);
    EXPECT_EQ(d.buildTime, 1700000000u);
    EXPECT_EQ(d.flags, 0x11u);
    EXPECT_TRUE(d.hasArch);
    EXPECT_EQ(d.arch, "powerpc");
    EXPECT_EQ(d.note, std::string("two  spaces\0zero", 16));
    ASSERT_EQ(d.depends.size(), 1u);
    EXPECT_EQ(d.depends[0], (Dependency{"system", 0x06296203, 0x06296600, 0}));
    ASSERT_EQ(d.provides.size(), 1u);
    EXPECT_EQ(d.provides[0], (Dependency{"ospf", 0, 0, -5}));
    ASSERT_EQ(d.conflicts.size(), 1u);
    EXPECT_EQ(d.conflicts[0], (Dependency{"quagga", 0, 0, 0}));
    EXPECT_TRUE(d.sha256);
    EXPECT_EQ(d.signature, SignatureKind::Legacy);
    EXPECT_EQ(d.image, std::string(10, '\0'));
}

TEST_F(DescriptionTest, DefaultsGiveAReproduciblePlainPackage) {
    PackageDescription d;
    ASSERT_TRUE(parse("name a\nversion 1.0\n", d)) << err;
    EXPECT_EQ(d.buildTime, 0u);
    EXPECT_FALSE(d.hasArch);
    EXPECT_TRUE(d.writeFlags);
    EXPECT_EQ(d.signature, SignatureKind::LegacyAndEddsa);
    EXPECT_FALSE(d.altMagic);
    EXPECT_FALSE(d.isBundle);
}

TEST_F(DescriptionTest, EmptyArchLineMeansAnyArchitecture) {
    PackageDescription d;
    ASSERT_TRUE(parse("name a\nversion 1.0\narch\n", d)) << err;
    EXPECT_TRUE(d.hasArch);
    EXPECT_EQ(d.arch, "");
}

TEST_F(DescriptionTest, RefusesFaultsNamingTheLine) {
    expect_refused("name a\nversion 1.0\nsize 3\n", "line 3: unknown line");
    expect_refused("name a\nname b\nversion 1.0\n", "line 2: name given twice");
    expect_refused("name a\nversion 1.0\ndepends b 6.4x\n", "line 3: bad version 6.4x");
    expect_refused("name a\nversion 1.0\nprovides b 0 0 high\n", "bad priority");
    expect_refused("name a\nversion 1.0\ndepends b 0 0 0 extra\n", "unexpected text");
    expect_refused("name abcdefghijklmnopq\nversion 1.0\n", "line 1: name must be");
    expect_refused("name a\n", "name and version are required");
    expect_refused("name a\nversion 1.0\nnote bad\\q\n", "bad escape");
    expect_refused("name a\nversion 1.0\nsignature eddsa\n", "signature wants");
    expect_refused("name a\nversion 1.0\nvariant bin/x 3\n", "variant needs a files directory");
    expect_refused("name a\nversion 1.0\nvariant bin/x 256\nfiles t\n", "variant wants");
    expect_refused("name a\nversion 1.0\noptional b\n", "need a bundle line");
    expect_refused("name a\nversion 1.0\nimage size -1\n", "bad image size");
}

TEST_F(DescriptionTest, SixteenByteNameIsAccepted) {
    PackageDescription d;
    ASSERT_TRUE(parse("name abcdefghijklmnop\nversion 1.0\n", d)) << err;
    EXPECT_EQ(d.name.size(), 16u);
}

TEST_F(DescriptionTest, BundleLoadsMembersRelativeToItsFile) {
    ASSERT_TRUE(write_file(dir / "sub/member.txt", "name system\nversion 6.40\n"));
    ASSERT_TRUE(write_file(dir / "sub/bundle.txt",
                           "name routeros\nversion 6.40\nbundle\nmember member.txt\n"
                           "optional wireless\n"));
    PackageDescription d;
    ASSERT_TRUE(load_description(dir / "sub/bundle.txt", d, err)) << err;
    EXPECT_TRUE(d.isBundle);
    ASSERT_EQ(d.members.size(), 1u);
    EXPECT_EQ(d.members[0]->name, "system");
    ASSERT_EQ(d.optionalMembers.size(), 1u);
    EXPECT_EQ(d.optionalMembers[0].name, "wireless");
}

TEST_F(DescriptionTest, BundleRefusesWhatTheInstallerWouldRefuse) {
    ASSERT_TRUE(write_file(dir / "m.txt", "name m\nversion 1.0\n"));
    ASSERT_TRUE(write_file(dir / "inner.txt", "name i\nversion 1.0\nbundle\nmember m.txt\n"));
    ASSERT_TRUE(write_file(dir / "broken.txt", "name b\nversion 1.0\nflags loud\n"));
    expect_refused("name b\nversion 1.0\nbundle\n", "at least one member");
    expect_refused("name b\nversion 1.0\nbundle\nmember m.txt\ndepends x\n", "stay empty");
    expect_refused("name b\nversion 1.0\nbundle\nmember m.txt\nfiles t\n", "no files");
    expect_refused("name b\nversion 1.0\nbundle\nmember inner.txt\n", "cannot be a bundle");
    // A bundle naming itself as a member ends at once instead of recursing.
    ASSERT_TRUE(write_file(dir / "self.txt", "name s\nversion 1.0\nbundle\nmember self.txt\n"));
    PackageDescription self;
    EXPECT_FALSE(load_description(dir / "self.txt", self, err));
    EXPECT_NE(err.find("cannot be a bundle"), std::string::npos) << err;
    expect_refused("name b\nversion 1.0\nbundle\nmember nowhere.txt\n", "nowhere.txt");
    // A member's fault names the member file and its own line.
    expect_refused("name b\nversion 1.0\nbundle\nmember broken.txt\n", "broken.txt: line 3");
}

class DescriptionBuildTest : public DescriptionTest {
protected:
    // A stand-in signer: a payload of the requested kind's size that records the digest.
    DigestSigner fake_signer() {
        return [this](const std::uint8_t digest[32], SignatureKind kind) {
            ++signs;
            lastKind = kind;
            std::string payload(kind == SignatureKind::Legacy ? 68 : 132, 's');
            payload.replace(0, 20, reinterpret_cast<const char*>(digest), 20);
            return payload;
        };
    }
    std::string build(const std::string& text) {
        PackageDescription d;
        EXPECT_TRUE(parse(text, d)) << err;
        std::string bytes;
        EXPECT_TRUE(build_package_file(d, fake_signer(), bytes, err)) << err;
        return bytes;
    }

    int signs = 0;
    SignatureKind lastKind = SignatureKind::None;
};

TEST_F(DescriptionBuildTest, InstallerScanReadsBackTheDescribedHeader) {
    const std::string bytes = build(
        "name routing\nversion 6.41beta3\nbuild-time 0x04030201\nflags 2\narch ppc\n"
        "note hello\ndepends system 6.40 0\nprovides ospf 0 0 7\nconflicts quagga 1.0 2.0\n"
        "image text abc\nempty-files\n");
    ASSERT_TRUE(write_file(dir / "p.npk", bytes));
    PackageFile f;
    ASSERT_TRUE(scan_package_file(f, dir / "p.npk"));
    EXPECT_EQ(f.name, "routing");
    EXPECT_EQ(f.version, 0x06296203u);
    EXPECT_EQ(f.buildTime, 0x04030201u);
    EXPECT_EQ(f.flags, 2u);
    EXPECT_EQ(f.arch, "ppc");
    EXPECT_EQ(f.note, "hello");
    EXPECT_TRUE(f.hasImage);
    EXPECT_EQ(f.depends, (std::vector<Dependency>{{"system", 0x06286600, 0, 0}}));
    EXPECT_EQ(f.provides, (std::vector<Dependency>{{"ospf", 0, 0, 7}}));
    EXPECT_EQ(f.conflicts, (std::vector<Dependency>{{"quagga", 0x01006600, 0x02006600, 0}}));
    EXPECT_FALSE(f.altMagic);
    EXPECT_EQ(f.size, bytes.size());
}

TEST_F(DescriptionBuildTest, SameDescriptionGivesSameBytes) {
    const std::string text = "name a\nversion 1.0\nfile bin/x 0755 data\n";
    EXPECT_EQ(build(text), build(text));
}

TEST_F(DescriptionBuildTest, SignatureKindDecidesTheSignatureChunk) {
    struct Case {
        const char* line;
        int expectedLength;  // -1: no signature chunk
    };
    const Case cases[] = {{"signature none", -1}, {"signature legacy", 68},
                          {"signature legacy+eddsa", 132}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string bytes = build(std::string("name a\nversion 1.0\n") + c.line + "\n");
        std::istringstream in(bytes);
        PackageReader reader(in, false, nullptr);
        reader.want(kChunkSignature);
        if (c.expectedLength < 0) {
            EXPECT_EQ(reader.next_chunk(), -1);
        } else {
            ASSERT_EQ(reader.next_chunk(), kChunkSignature);
            EXPECT_EQ(int(reader.chunk_length()), c.expectedLength);
        }
    }
}

TEST_F(DescriptionBuildTest, FailedSignerFailsTheBuild) {
    PackageDescription d;
    ASSERT_TRUE(parse("name a\nversion 1.0\n", d));
    std::string bytes;
    DigestSigner refuse = [](const std::uint8_t*, SignatureKind) { return std::string(); };
    EXPECT_FALSE(build_package_file(d, refuse, bytes, err));
    EXPECT_NE(err.find("cannot sign a"), std::string::npos) << err;
}

TEST_F(DescriptionBuildTest, AlternateMagicAndBundleMembersReachTheScan) {
    ASSERT_TRUE(write_file(dir / "m1.txt", "name system\nversion 6.40\nflags boot\n"));
    ASSERT_TRUE(write_file(dir / "m2.txt", "name wireless\nversion 6.40\ndepends system\n"));
    const std::string bytes = build("name routeros\nversion 6.40\nbundle\nmagic alternate\n"
                                    "member m1.txt\nmember m2.txt\noptional wireless\n");
    EXPECT_EQ(signs, 2);  // each member signs its own chunks; the bundle has no signature
    ASSERT_TRUE(write_file(dir / "b.npk", bytes));
    PackageFile f;
    ASSERT_TRUE(scan_package_file(f, dir / "b.npk"));
    EXPECT_TRUE(f.altMagic);
    EXPECT_TRUE(f.isBundle);
    ASSERT_EQ(f.members.size(), 2u);
    EXPECT_EQ(f.members[0]->name, "system");
    EXPECT_EQ(f.members[0]->flags, kFlagBoot);
    EXPECT_EQ(f.members[1]->depends, (std::vector<Dependency>{{"system", 0, 0, 0}}));
}

TEST_F(DescriptionBuildTest, TreeBecomesEntriesWithModesVariantsAndLinks) {
    ASSERT_TRUE(write_file(dir / "tree/bin/tool", "#!/bin/sh\n"));
    ASSERT_EQ(chmod((dir / "tree/bin/tool").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(dir / "tree/etc/conf", "x=1\n"));
    ASSERT_EQ(chmod((dir / "tree/etc/conf").c_str(), 0640), 0);
    ASSERT_EQ(symlink("../bin/tool", (dir / "tree/etc/link").c_str()), 0);
    const std::string bytes =
        build("name a\nversion 1.0\nfiles tree\nvariant /bin/tool 3\nfile extra 0600 e\n");

    std::istringstream in(bytes);
    PackageReader reader(in, false, nullptr);
    reader.want(kChunkFiles);
    ASSERT_EQ(reader.next_chunk(), kChunkFiles);
    InflateStream z(reader);
    std::vector<std::string> seen;
    std::uint8_t h[kFileEntryHeaderSize];
    while (z.read(reinterpret_cast<char*>(h), sizeof h)) {
        std::string name(load_u16(h + 28), '\0');
        std::string data(load_u32(h + 24), '\0');
        ASSERT_TRUE(z.read(name.data(), std::streamsize(name.size())));
        ASSERT_TRUE(z.read(data.data(), std::streamsize(data.size())) || data.empty());
        char line[160];
        std::snprintf(line, sizeof line, "%06o %u %s %s", load_u16(h), h[23], name.c_str(),
                      data.c_str());
        seen.push_back(line);
    }
    const std::vector<std::string> expected = {
        "040" + std::string("755 0 bin "),  "100755 3 bin/tool #!/bin/sh\n",
        "040755 0 etc ",                    "100640 0 etc/conf x=1\n",
        "120777 0 etc/link ../bin/tool",    "100600 0 extra e",
    };
    // Directory permissions follow the umask of the test run; compare them by type only.
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        if (seen[i].rfind("04", 0) == 0) {
            EXPECT_EQ(seen[i].substr(6), expected[i].substr(6));
        } else {
            EXPECT_EQ(seen[i], expected[i]);
        }
    }
}

TEST_F(DescriptionBuildTest, VariantForAPathOutsideTheTreeFails) {
    ASSERT_TRUE(write_file(dir / "tree/bin/tool", "x"));
    PackageDescription d;
    ASSERT_TRUE(parse("name a\nversion 1.0\nfiles tree\nvariant bin/toll 2\n", d)) << err;
    std::string bytes;
    EXPECT_FALSE(build_package_file(d, fake_signer(), bytes, err));
    EXPECT_NE(err.find("bin/toll"), std::string::npos) << err;
}

}  // namespace
