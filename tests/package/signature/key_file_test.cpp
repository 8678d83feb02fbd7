// Key files: the parser's refusals and the key file built into the installer.
#include "package/signature/key_file.h"

#include "package/signature/dev_keys.h"
#include "pkglib/signer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(KeyFileTest, FormattedKeysParseBack) {
    PublicKeys pub{};
    PrivateKeys priv{};
    ASSERT_TRUE(generate_keys("round-trip", priv, pub));
    PublicKeys pub2{};
    PrivateKeys priv2{};
    ASSERT_TRUE(parse_public_keys("# comment\n\n" + format_public_keys(pub), pub2));
    ASSERT_TRUE(parse_private_keys(format_private_keys(priv), priv2));
    EXPECT_EQ(std::memcmp(&pub, &pub2, sizeof pub), 0);
    EXPECT_EQ(std::memcmp(&priv, &priv2, sizeof priv), 0);
}

TEST(KeyFileTest, RefusesMalformedEntries) {
    PublicKeys pub{};
    PrivateKeys priv{};
    ASSERT_TRUE(generate_keys("broken", priv, pub));
    const std::string good = format_public_keys(pub);
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"missing entry", good.substr(good.find('\n') + 1)},
        {"short hex", "eddsa-public: abcd\n" + good.substr(good.find('\n') + 1)},
        {"non-hex digit", "eddsa-public: " + std::string(63, '0') + "g\n" +
                              good.substr(good.find('\n') + 1)},
        {"line without colon", good + "stray words\n"},
        {"too few words", good.substr(0, good.find("h25-k:")) + "h25-k: 01234567\n"},
        {"extra word", good.substr(0, good.size() - 1) + " 01234567\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PublicKeys parsed{};
        EXPECT_FALSE(parse_public_keys(c.text, parsed));
    }
    PublicKeys parsed{};
    EXPECT_TRUE(parse_public_keys(good, parsed));
}

TEST(KeyFileTest, EmbeddedKeysAreTheConfiguredFile) {
    const PublicKeys* embedded = embedded_public_keys();
    ASSERT_NE(embedded, nullptr);
    PublicKeys configured{};
    ASSERT_TRUE(parse_public_keys(read_file(INSTALLER_PUBLIC_KEYS_FILE), configured));
    EXPECT_EQ(std::memcmp(embedded, &configured, sizeof configured), 0);
}

TEST(KeyFileTest, DevelopmentKeyFilesMatchAndUseTheDocumentedTables) {
    std::string err;
    EXPECT_NE(PackageSigner::from_files(dev_public_path(), dev_private_path(), true, err), nullptr)
        << err;
    const H25Constants derived = derive_h25_constants("tarnvel-h25");
    const PublicKeys pub = dev_public_keys();
    EXPECT_EQ(std::memcmp(&derived, &pub.h25, sizeof derived), 0);
}

}  // namespace
