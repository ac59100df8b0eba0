// The Windows report-time operations against the real system calls: the version resource of
// this executable, the performance data and the version record of the system it runs on.
#include <gtest/gtest.h>

// clang-format off
#include <winsock2.h>  // before windows.h, as the POCO headers included below need it
#include <windows.h>
#include <winperf.h>
// clang-format on

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/AgentIdentity.h"
#include "platform/ReportOperations.h"
#include "platform/Session.h"
#include "platform/VersionNaming.h"
#include "platform/windows/VersionResourceBlock.h"
#include "platform/windows/WindowsVersion.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {
namespace {

// A copy of one of this executable's VERSIONINFO resources, as GetFileVersionInfoW would make.
std::vector<std::uint8_t> versionBlock(WORD id) {
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(16));
    if (found == nullptr) {
        return {};
    }
    const HGLOBAL loaded = LoadResource(nullptr, found);
    const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
    const DWORD size = SizeofResource(nullptr, found);
    return data == nullptr ? std::vector<std::uint8_t>()
                           : std::vector<std::uint8_t>(data, data + size);
}

class BlockReader : public VersionResourceReader {
  public:
    explicit BlockReader(std::vector<std::uint8_t> block) : block_(std::move(block)) {}
    std::unique_ptr<VersionResource> read() override { return versionResourceFromBlock(block_); }

  private:
    std::vector<std::uint8_t> block_;
};

class ReportOperationsTest : public ::testing::Test {
  protected:
    Session session;
    SystemSnapshot snapshot{session};
};

TEST_F(ReportOperationsTest, OwnVersionResourceIsReadWhole) {
    EXPECT_EQ(agentVersionString(snapshot), "2.10.0.65535");
    EXPECT_EQ(agentDescription(snapshot), "Quorvane Pr\u00fcfagent version 2.10.0.65535");
    EXPECT_EQ(agentEdition(snapshot), "Test Edition");
    EXPECT_EQ(agentCopyright(snapshot), "Copyright (C) 2026 Quorvane");
}

TEST_F(ReportOperationsTest, OnlyTheJapaneseTableCountsAndAllFourStringsMustBeThere) {
    for (const WORD id : {2, 3}) {
        std::vector<std::uint8_t> block = versionBlock(id);
        ASSERT_FALSE(block.empty()) << id;
        BlockReader reader(std::move(block));
        SystemSnapshot fresh(session);
        EXPECT_EQ(agentVersionString(fresh, reader), "3.1.4.1") << id;
        EXPECT_EQ(agentDescription(fresh, reader), "(unknown)") << id;
        EXPECT_EQ(agentCopyright(fresh, reader), "(unknown)") << id;
        EXPECT_EQ(agentEdition(fresh, reader), "") << id;
    }
}

// Wine's performance data has no objects; a real Windows has the System object with its up
// time counter. The agent must agree with what the system answers, in either case.
TEST_F(ReportOperationsTest, UptimeFollowsTheLivePerformanceData) {
    std::vector<BYTE> buffer(65536);
    DWORD size = static_cast<DWORD>(buffer.size());
    const LONG status =
        RegQueryValueExW(HKEY_PERFORMANCE_DATA, L"2", nullptr, nullptr, buffer.data(), &size);
    RegCloseKey(HKEY_PERFORMANCE_DATA);
    PERF_DATA_BLOCK block{};
    if (status == ERROR_SUCCESS && size >= sizeof block) {
        std::memcpy(&block, buffer.data(), sizeof block);
    }
    const bool hasObjects =
        std::memcmp(block.Signature, L"PERF", 8) == 0 && block.NumObjectTypes > 0;
    RecordProperty("perf_status", static_cast<int>(status));
    RecordProperty("perf_objects", static_cast<int>(block.NumObjectTypes));

    const std::uint64_t uptime = systemUptimeSeconds();
    if (hasObjects) {
        EXPECT_NEAR(static_cast<double>(uptime), static_cast<double>(GetTickCount64() / 1000), 5.0);
    } else {
        EXPECT_EQ(uptime, 0u);
    }
    // The key was closed: a second query works as the first did.
    EXPECT_NEAR(static_cast<double>(systemUptimeSeconds()), static_cast<double>(uptime), 2.0);
}

TEST_F(ReportOperationsTest, NamesFollowTheVersionTheSystemReports) {
    const VersionInfoRecord record = readVersionInfo();
    // GetVersion packs the same numbers into one value (the top bit clear on NT, the build below
    // it): the record was filled and copied whole.
    const DWORD packed = GetVersion();
    EXPECT_EQ(record.dwOSVersionInfoSize, sizeof(OSVERSIONINFOEXW));
    EXPECT_EQ(record.dwPlatformId, (packed & 0x80000000u) == 0 ? kPlatformWin32Nt : 0u);
    EXPECT_EQ(record.dwMajorVersion, LOBYTE(LOWORD(packed)));
    EXPECT_EQ(record.dwMinorVersion, HIBYTE(LOWORD(packed)));
    EXPECT_EQ(record.dwBuildNumber, HIWORD(packed) & 0x7FFFu);
    RecordProperty("version", std::to_string(record.dwMajorVersion) + "." +
                                  std::to_string(record.dwMinorVersion) + "." +
                                  std::to_string(record.dwBuildNumber));

    // The product type looked up at run time is the one the linked call answers.
    DWORD linked = 0;
    ASSERT_TRUE(GetProductInfo(record.dwMajorVersion, record.dwMinorVersion,
                               record.wServicePackMajor, record.wServicePackMinor, &linked));
    EXPECT_NE(linked, 0u);
    EXPECT_EQ(queryProductType(record.dwMajorVersion, record.dwMinorVersion,
                               record.wServicePackMajor, record.wServicePackMinor),
              linked);

    const std::u16string name = productNameFromVersionInfo(record, queryProductType);
    EXPECT_EQ(windowsProductName(), name);
    EXPECT_EQ(windowsFullName(), fullNameFromVersionInfo(record, queryProductType));
    EXPECT_EQ(windowsServicePack(), servicePackFromVersionInfo(record));
    // The system the agent runs on is one it knows.
    EXPECT_NE(name, u"Unknown");
    EXPECT_NE(name, u"Unknown Windows");
}

}  // namespace
}  // namespace quorvane
