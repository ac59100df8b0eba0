// The whole Linux back end over the fixture machine in fixtures/linux/machine: two refreshes, then
// the complete report, byte for byte against golden/linux_machine_report.xml. Only the clock, the
// file-system figures (statvfs cannot make sizes up) and the agent's identity are fixed here.
// QUORVANE_UPDATE_GOLDEN=1 writes the file instead, for a change that is meant.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "LinuxSession.h"
#include "report/StatusReport.h"
#include "snapshot/SystemSnapshot.h"
#include "support/ScopedTimeZone.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

const std::string kFixtures = QUORVANE_LINUX_FIXTURES;
const std::string kGolden = std::string(QUORVANE_GOLDEN_DIR) + "/linux_machine_report.xml";

class LinuxGoldenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A copy, so that the second refresh can see later processor counters.
        root = fs::temp_directory_path() / ("quorvane-golden-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::copy(kFixtures + "/machine", root,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    void TearDown() override { fs::remove_all(root); }

    // Local times in the report must not depend on the machine's zone.
    const ScopedTimeZone zone{"UTC"};
    fs::path root;
};

TEST_F(LinuxGoldenTest, FixtureMachineRefreshedTwiceGivesTheGoldenReport) {
    // Sizes per mount point; "/data" fails as a statvfs can, and shows 0.
    const std::map<std::string, FileSystemFigures> figures = {
        {"/", {105089261568ull, 52544630784ull}},
        {"/boot/efi", {535805952ull, 529244160ull}},
        {"/home", {1099511627776ull, 274877906944ull}},
        {"/mnt/my disk", {4000787030016ull, 3999999999999ull}},
    };
    const std::string prefix = root.string();
    auto state = std::make_unique<SessionState>();
    state->root = prefix;
    state->wallClock = [] { return std::optional<WallClockTime>({1765275072, 500000}); };
    state->fileSystemFigures = [&](const std::vector<std::string>& paths) {
        std::vector<std::optional<FileSystemFigures>> answers;
        for (const std::string& path : paths) {
            const auto found = figures.find(path.substr(prefix.size()));
            answers.push_back(found != figures.end() ? std::optional(found->second) : std::nullopt);
        }
        return answers;
    };
    Session session(std::move(state));
    // Opened over the copy, the session points the report's uptime at it as well.
    ASSERT_TRUE(session.open());

    SystemSnapshot snapshot(session);
    snapshot.cachedAgentVersion = "1.2.3.4";
    snapshot.cachedAgentDescription = "Quorvane Agent version 1.2.3.4";
    snapshot.cachedAgentCopyright = "Copyright (C) 2026 Quorvane";
    snapshot.cachedAgentEdition = "Standard";

    refreshSnapshot(snapshot);
    // Ten seconds later, with the counters of fixtures/linux/load-after: 950 of 2000 ticks busy
    // (47.5 %), counting the idle, waiting and stolen ones.
    fs::copy_file(kFixtures + "/load-after/proc/stat", root / "proc/stat",
                  fs::copy_options::overwrite_existing);
    refreshSnapshot(snapshot);

    const std::string report =
        renderStatusReport(snapshot, [] { return std::string("2026-12-09 10:11:12"); });
    session.close();

    if (std::getenv("QUORVANE_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(kGolden, std::ios::binary) << report;
    }
    std::ifstream in(kGolden, std::ios::binary);
    ASSERT_TRUE(in) << kGolden;
    const std::string golden((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    EXPECT_EQ(report, golden);
}

}  // namespace
}  // namespace quorvane
