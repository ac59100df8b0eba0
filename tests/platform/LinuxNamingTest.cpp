#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "EmbeddedVersionResource.h"
#include "OsRelease.h"
#include "ProcUptime.h"
#include "snapshot/TextField.h"

namespace quorvane {
namespace {

const std::string kFixtures = QUORVANE_NAMING_FIXTURES;

TEST(OsReleaseTest, ProductNameIsNameAndVersionIdFullNameIsPrettyName) {
    const OsReleaseReader reader(kFixtures + "/debian");
    EXPECT_EQ(reader.productName(), u"Debian GNU/Linux 12");
    EXPECT_EQ(reader.fullName(), u"Debian GNU/Linux 12 (bookworm)");
    // A trailing slash on the root makes no difference.
    EXPECT_EQ(OsReleaseReader(kFixtures + "/debian/").productName(), u"Debian GNU/Linux 12");
}

TEST(OsReleaseTest, FallsBackToUsrLibWhenEtcHasNone) {
    const OsReleaseReader reader(kFixtures + "/usrlib");
    EXPECT_EQ(reader.productName(), u"Fedora Linux 39");
    EXPECT_EQ(reader.fullName(), u"Fedora Linux 39 (Container Image)");
}

TEST(OsReleaseTest, MissingFileGivesUnknown) {
    const OsReleaseReader reader(kFixtures + "/does-not-exist");
    EXPECT_EQ(reader.productName(), u"Unknown");
    EXPECT_EQ(reader.fullName(), u"Unknown");
}

TEST(OsReleaseTest, MissingKeysTakeTheFormatsDefault) {
    const OsReleaseReader reader(kFixtures + "/minimal");
    EXPECT_EQ(reader.productName(), u"Linux");
    EXPECT_EQ(reader.fullName(), u"Linux");
}

TEST(OsReleaseTest, QuotingIsUndoneAndUtf8Converted) {
    const OsReleaseReader reader(kFixtures + "/quoted");
    EXPECT_EQ(utf16ToUtf8(reader.productName()),
              "Caf\xc3\xa9 \"Nova\" $HOME \\ `x` \\q 2026.1 beta");
    EXPECT_EQ(utf16ToUtf8(reader.fullName()), "Nova Linux \xe2\x80\x98rolling\xe2\x80\x99");
}

TEST(OsReleaseTest, ParserSkipsWhatIsNotAnAssignment) {
    const auto values = parseOsRelease(
        "# NAME=comment\n"
        "=novalue\n"
        "BAD KEY=x\n"
        "EMPTY=\n"
        "CRLF=\"dos\"\r\n"
        "UNTERMINATED=\"open\n"
        "TRAILING=word rest\n"
        "NAME=last\n"
        "NAME=wins");
    EXPECT_EQ(values.count("BAD"), 0u);
    EXPECT_EQ(values.count("BAD KEY"), 0u);
    EXPECT_EQ(values.at("EMPTY"), "");
    EXPECT_EQ(values.at("CRLF"), "dos");
    EXPECT_EQ(values.at("UNTERMINATED"), "open");
    EXPECT_EQ(values.at("TRAILING"), "word");
    EXPECT_EQ(values.at("NAME"), "wins");
    EXPECT_EQ(values.size(), 5u);
}

TEST(OsReleaseTest, NamesAreKeptUntilTheFileChanges) {
    const std::string root = testing::TempDir() + "quorvane-os-release";
    std::filesystem::create_directories(root + "/etc");
    const std::string path = root + "/etc/os-release";
    std::ofstream(path) << "NAME=First\nVERSION_ID=1\nPRETTY_NAME=\"First one\"\n";
    const OsReleaseReader reader(root);
    EXPECT_EQ(reader.productName(), u"First 1");
    EXPECT_EQ(reader.fullName(), u"First one");

    // Replaced: the next product name sees it, and the full name follows.
    std::ofstream(path + ".new") << "NAME=Second\nPRETTY_NAME=\"Second, longer\"\n";
    std::filesystem::rename(path + ".new", path);
    EXPECT_EQ(reader.productName(), u"Second");
    EXPECT_EQ(reader.fullName(), u"Second, longer");

    std::filesystem::remove(path);
    EXPECT_EQ(reader.productName(), u"Unknown");
    EXPECT_EQ(reader.fullName(), u"Unknown");
    std::filesystem::remove_all(root);
}

TEST(ProcUptimeTest, WholeSecondsOfTheFirstField) {
    EXPECT_EQ(ProcUptimeReader(kFixtures + "/debian").seconds(), 12345u);
    EXPECT_EQ(parseProcUptime("7.99 1.00"), 7u);
    EXPECT_EQ(parseProcUptime("42"), 42u);
    EXPECT_EQ(parseProcUptime("18446744073709551615.00 0"), 18446744073709551615ull);
}

TEST(ProcUptimeTest, UnreadableOrMalformedGives0) {
    EXPECT_EQ(ProcUptimeReader(kFixtures + "/does-not-exist").seconds(), 0u);
    EXPECT_EQ(ProcUptimeReader(kFixtures + "/quoted").seconds(), 0u);
    EXPECT_EQ(parseProcUptime(""), 0u);
    EXPECT_EQ(parseProcUptime("-5.00 1.00"), 0u);
    EXPECT_EQ(parseProcUptime("12x.00"), 0u);
    EXPECT_EQ(parseProcUptime("18446744073709551616.00 0"), 0u);  // 2^64
}

TEST(EmbeddedVersionResourceTest, HoldsTheProjectMetadata) {
    EmbeddedVersionResourceReader reader;
    const std::unique_ptr<VersionResource> resource = reader.read();
    ASSERT_NE(resource, nullptr);
    std::uint32_t versionMS = 0;
    std::uint32_t versionLS = 0;
    ASSERT_TRUE(resource->productVersion(versionMS, versionLS));
    EXPECT_EQ(formatProductVersion(versionMS, versionLS), QUORVANE_EXPECTED_VERSION);

    std::u16string value;
    ASSERT_TRUE(resource->stringValue(kProductNamePath, value));
    EXPECT_EQ(utf16ToUtf8(value), QUORVANE_EXPECTED_PRODUCT_NAME);
    ASSERT_TRUE(resource->stringValue(kProductVersionPath, value));
    EXPECT_EQ(utf16ToUtf8(value), QUORVANE_EXPECTED_VERSION);
    ASSERT_TRUE(resource->stringValue(kProductEditionPath, value));
    EXPECT_EQ(utf16ToUtf8(value), QUORVANE_EXPECTED_EDITION);
    ASSERT_TRUE(resource->stringValue(kLegalCopyrightPath, value));
    EXPECT_EQ(utf16ToUtf8(value), QUORVANE_EXPECTED_COPYRIGHT);

    EXPECT_FALSE(resource->stringValue(u"\\StringFileInfo\\040904b0\\ProductName", value));
    EXPECT_FALSE(resource->stringValue(u"\\StringFileInfo\\041104b0\\FileVersion", value));
}

}  // namespace
}  // namespace quorvane
