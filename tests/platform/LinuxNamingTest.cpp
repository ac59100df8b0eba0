#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "EmbeddedVersionResource.h"
#include "OsRelease.h"
#include "ProcUptime.h"
#include "snapshot/TextField.h"

namespace quorvane {
namespace {

const std::string kFixtures = QUORVANE_NAMING_FIXTURES;

// Read through the agent's own helper process, as the refresh reads them.
OsNames namesUnder(const std::string& root) {
    OsReleaseReader reader;
    return reader.refresh(root);
}

TEST(OsReleaseTest, ProductNameIsNameAndVersionIdFullNameIsPrettyName) {
    const OsNames names = namesUnder(kFixtures + "/debian");
    EXPECT_EQ(names.productName, u"Debian GNU/Linux 12");
    EXPECT_EQ(names.fullName, u"Debian GNU/Linux 12 (bookworm)");
    // A trailing slash on the root makes no difference.
    EXPECT_EQ(namesUnder(kFixtures + "/debian/").productName, u"Debian GNU/Linux 12");
}

TEST(OsReleaseTest, FallsBackToUsrLibWhenEtcHasNone) {
    const OsNames names = namesUnder(kFixtures + "/usrlib");
    EXPECT_EQ(names.productName, u"Fedora Linux 39");
    EXPECT_EQ(names.fullName, u"Fedora Linux 39 (Container Image)");
}

TEST(OsReleaseTest, MissingFileGivesUnknown) {
    const OsNames names = namesUnder(kFixtures + "/does-not-exist");
    EXPECT_EQ(names.productName, u"Unknown");
    EXPECT_EQ(names.fullName, u"Unknown");
}

TEST(OsReleaseTest, MissingKeysTakeTheFormatsDefault) {
    const OsNames names = namesUnder(kFixtures + "/minimal");
    EXPECT_EQ(names.productName, u"Linux");
    EXPECT_EQ(names.fullName, u"Linux");
}

TEST(OsReleaseTest, QuotingIsUndoneAndUtf8Converted) {
    const OsNames names = namesUnder(kFixtures + "/quoted");
    EXPECT_EQ(utf16ToUtf8(names.productName), "Caf\xc3\xa9 \"Nova\" $HOME \\ `x` \\q 2026.1 beta");
    EXPECT_EQ(utf16ToUtf8(names.fullName), "Nova Linux \xe2\x80\x98rolling\xe2\x80\x99");
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

FileReadAnswer answer(BoundedOutcome outcome, const std::string& text = "") {
    FileReadAnswer answer;
    answer.outcome = outcome;
    if (outcome == BoundedOutcome::Answered) {
        answer.result.emplace();
        answer.result->length =
            static_cast<std::uint32_t>(text.copy(answer.result->text, text.size()));
    }
    return answer;
}

// Each refresh asks /etc first, /usr/lib only when /etc fails; a file that does not answer in
// time (a hung /usr) keeps the names of the last read.
TEST(OsReleaseTest, EachRefreshReadsAgainAndALateFileKeepsTheNamesLastRead) {
    std::map<std::string, std::vector<FileReadAnswer>> answers;
    std::vector<std::string> asked;
    OsReleaseReader reader([&](const std::string& path) {
        asked.push_back(path);
        std::vector<FileReadAnswer>& queue = answers[path];
        FileReadAnswer next = queue.front();
        queue.erase(queue.begin());
        return next;
    });
    const std::string etc = "/r/etc/os-release", usr = "/r/usr/lib/os-release";
    answers[etc] = {answer(BoundedOutcome::Late), answer(BoundedOutcome::Answered, "NAME=A"),
                    answer(BoundedOutcome::Late), answer(BoundedOutcome::Failed),
                    answer(BoundedOutcome::Failed)};
    answers[usr] = {answer(BoundedOutcome::Answered, "NAME=B\nPRETTY_NAME=\"B b\""),
                    answer(BoundedOutcome::Failed)};

    EXPECT_EQ(reader.refresh("/r").productName, u"Unknown");  // late before any read
    EXPECT_EQ(reader.refresh("/r/").productName, u"A");
    EXPECT_EQ(reader.refresh("/r").productName, u"A");
    EXPECT_EQ(reader.refresh("/r").fullName, u"B b");
    EXPECT_EQ(reader.refresh("/r").fullName, u"Unknown");
    EXPECT_EQ(reader.names().productName, u"Unknown");
    EXPECT_EQ(asked, (std::vector<std::string>{etc, etc, etc, etc, usr, etc, usr}));
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
