#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/AgentIdentity.h"
#include "platform/Session.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {
namespace {

// What the fake resource holds; the reader hands out a copy on every read.
struct ResourceContent {
    bool exists = true;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> fixed;
    std::map<std::u16string, std::u16string> values;
};

class FakeResource : public VersionResource {
  public:
    FakeResource(ResourceContent content, std::vector<std::u16string>& queried)
        : content_(std::move(content)), queried_(queried) {}

    bool productVersion(std::uint32_t& versionMS, std::uint32_t& versionLS) const override {
        if (!content_.fixed) {
            return false;
        }
        versionMS = content_.fixed->first;
        versionLS = content_.fixed->second;
        return true;
    }

    bool stringValue(const char16_t* subBlock, std::u16string& value) const override {
        queried_.push_back(subBlock);
        const auto found = content_.values.find(subBlock);
        if (found == content_.values.end()) {
            return false;
        }
        value = found->second;
        return true;
    }

  private:
    ResourceContent content_;
    std::vector<std::u16string>& queried_;
};

class FakeReader : public VersionResourceReader {
  public:
    std::unique_ptr<VersionResource> read() override {
        ++reads;
        if (!content.exists) {
            return nullptr;
        }
        return std::make_unique<FakeResource>(content, queried);
    }

    ResourceContent content;
    int reads = 0;
    std::vector<std::u16string> queried;
};

struct Identity {
    std::string version;
    std::string description;
    std::string copyright;
    std::string edition;
};

// The four operations in the order a report calls them.
Identity report(SystemSnapshot& snapshot, VersionResourceReader& reader) {
    Identity identity;
    identity.version = agentVersionString(snapshot, reader);
    identity.description = agentDescription(snapshot, reader);
    identity.copyright = agentCopyright(snapshot, reader);
    identity.edition = agentEdition(snapshot, reader);
    return identity;
}

ResourceContent completeResource() {
    ResourceContent content;
    content.fixed = std::make_pair(0x0002000Au, 0x0000FFFFu);
    content.values = {
        {kProductNamePath, u"Quorvane Agent"},
        {kProductVersionPath, u"2.10.0.65535"},
        {kProductEditionPath, u"Standard"},
        {kLegalCopyrightPath, u"Copyright (C) 2026 Quorvane"},
    };
    return content;
}

class AgentIdentityTest : public ::testing::Test {
  protected:
    Session connection;
    SystemSnapshot snapshot{connection};
    FakeReader reader;
};

TEST(AgentVersionFormatTest, FourSixteenBitNumbersWithoutLeadingZeros) {
    EXPECT_EQ(formatProductVersion(0x0002000A, 0x0000FFFF), "2.10.0.65535");
    EXPECT_EQ(formatProductVersion(0, 0), "0.0.0.0");
    EXPECT_EQ(formatProductVersion(0xFFFFFFFF, 0x00070100), "65535.65535.7.256");
}

TEST_F(AgentIdentityTest, CompleteResourceIsReadOnceAndThenServedFromTheCache) {
    reader.content = completeResource();
    const Identity first = report(snapshot, reader);
    EXPECT_EQ(first.version, "2.10.0.65535");
    EXPECT_EQ(first.description, "Quorvane Agent version 2.10.0.65535");
    EXPECT_EQ(first.copyright, "Copyright (C) 2026 Quorvane");
    EXPECT_EQ(first.edition, "Standard");
    EXPECT_EQ(reader.reads, 2);  // the version, then the one load of the strings
    const std::vector<std::u16string> order = {kProductNamePath, kProductVersionPath,
                                               kProductEditionPath, kLegalCopyrightPath};
    EXPECT_EQ(reader.queried, order);

    // Even a resource that has gone since is not read again.
    reader.content.exists = false;
    const Identity second = report(snapshot, reader);
    EXPECT_EQ(reader.reads, 2);
    EXPECT_EQ(second.version, first.version);
    EXPECT_EQ(second.description, first.description);
    EXPECT_EQ(second.copyright, first.copyright);
    EXPECT_EQ(second.edition, first.edition);
}

TEST_F(AgentIdentityTest, NoResourceGivesFallbacksAndIsTriedAgainOnEveryReport) {
    reader.content.exists = false;
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        const Identity identity = report(snapshot, reader);
        EXPECT_EQ(identity.version, "unknown");
        EXPECT_EQ(identity.description, "(unknown)");
        EXPECT_EQ(identity.copyright, "(unknown)");
        EXPECT_EQ(identity.edition, "");
        EXPECT_TRUE(snapshot.cachedAgentVersion.empty());  // "unknown" is never stored
    }
    // First report: version, description load, edition load; later ones: version and edition.
    EXPECT_EQ(reader.reads, 3 + 2 + 2);
}

TEST_F(AgentIdentityTest, MissingFixedPartLeavesTheVersionUnknownButNotTheStrings) {
    reader.content = completeResource();
    reader.content.fixed.reset();
    const Identity first = report(snapshot, reader);
    EXPECT_EQ(first.version, "unknown");
    EXPECT_EQ(first.description, "Quorvane Agent version 2.10.0.65535");
    EXPECT_EQ(first.edition, "Standard");
    EXPECT_EQ(reader.reads, 2);
    report(snapshot, reader);
    EXPECT_EQ(reader.reads, 3);  // only the version is read again

    // Once the fixed part is there the version is found and kept.
    reader.content.fixed = std::make_pair(0x00010002u, 0x00030004u);
    EXPECT_EQ(report(snapshot, reader).version, "1.2.3.4");
    EXPECT_EQ(report(snapshot, reader).version, "1.2.3.4");
    EXPECT_EQ(reader.reads, 4);
}

TEST_F(AgentIdentityTest, MissingEditionDiscardsTheOtherValuesAndRetriesEveryReport) {
    reader.content = completeResource();
    reader.content.values.erase(kProductEditionPath);
    const Identity first = report(snapshot, reader);
    EXPECT_EQ(first.version, "2.10.0.65535");
    EXPECT_EQ(first.description, "(unknown)");
    EXPECT_EQ(first.copyright, "(unknown)");  // present, but not used
    EXPECT_EQ(first.edition, "");
    // The load stops at the first value that is absent.
    const std::vector<std::u16string> stopped = {kProductNamePath, kProductVersionPath,
                                                 kProductEditionPath};
    const std::vector<std::u16string> twice = {stopped[0], stopped[1], stopped[2],
                                               stopped[0], stopped[1], stopped[2]};
    EXPECT_EQ(reader.queried, twice);  // description, then edition
    EXPECT_EQ(reader.reads, 3);

    report(snapshot, reader);
    EXPECT_EQ(reader.reads, 4);  // the version is cached; the edition loads again

    // When the edition turns up, that load fills all three and the loading ends.
    reader.content.values[kProductEditionPath] = u"Lite";
    const Identity third = report(snapshot, reader);
    EXPECT_EQ(third.description, "(unknown)");  // read before the edition's load
    EXPECT_EQ(third.edition, "Lite");
    EXPECT_EQ(reader.reads, 5);
    const Identity fourth = report(snapshot, reader);
    EXPECT_EQ(fourth.description, "Quorvane Agent version 2.10.0.65535");
    EXPECT_EQ(fourth.copyright, "Copyright (C) 2026 Quorvane");
    EXPECT_EQ(reader.reads, 5);
}

TEST_F(AgentIdentityTest, EachMissingValueLeavesAllFallbacks) {
    for (const char16_t* missing :
         {kProductNamePath, kProductVersionPath, kProductEditionPath, kLegalCopyrightPath}) {
        SCOPED_TRACE(std::string(missing, missing + std::char_traits<char16_t>::length(missing)));
        Session otherConnection;
        SystemSnapshot fresh(otherConnection);
        FakeReader partial;
        partial.content = completeResource();
        partial.content.values.erase(missing);
        loadAgentVersionStrings(fresh, partial);
        EXPECT_EQ(fresh.cachedAgentDescription, "(unknown)");
        EXPECT_EQ(fresh.cachedAgentCopyright, "(unknown)");
        EXPECT_EQ(fresh.cachedAgentEdition, "");
    }
}

TEST_F(AgentIdentityTest, LoadResetsDescriptionAndCopyrightButKeepsAFoundEdition) {
    snapshot.cachedAgentDescription = "old description";
    snapshot.cachedAgentCopyright = "old copyright";
    snapshot.cachedAgentEdition = "old edition";
    reader.content.exists = false;
    loadAgentVersionStrings(snapshot, reader);
    EXPECT_EQ(snapshot.cachedAgentDescription, "(unknown)");
    EXPECT_EQ(snapshot.cachedAgentCopyright, "(unknown)");
    EXPECT_EQ(snapshot.cachedAgentEdition, "old edition");
}

}  // namespace
}  // namespace quorvane
