#include <gtest/gtest.h>

#include <limits>

#include "fakes/FakePlatform.h"
#include "platform/Session.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {
namespace {

class RefreshSnapshotTest : public ::testing::Test {
  protected:
    void SetUp() override { fake::reset(); }

    Session session;
};

std::int32_t loadOf(std::uint64_t busy, std::uint64_t elapsed) {
    std::int32_t load = 12345;
    EXPECT_TRUE(computeCpuLoad({0, 0, 0}, {busy, 0, elapsed}, load));
    return load;
}

TEST_F(RefreshSnapshotTest, FirstRefreshWithProbesThatChangeNothing) {
    SystemSnapshot snapshot(session);
    EXPECT_TRUE(snapshot.firstRefreshPending);
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.refreshCount, 1u);
    EXPECT_FALSE(snapshot.firstRefreshPending);
    EXPECT_EQ(snapshot.cpuUsageIndex, 0);
    for (const auto value : snapshot.cpuUsageHistory) {
        EXPECT_EQ(value, 0);
    }
}

TEST_F(RefreshSnapshotTest, InventoryProbesRunOnlyOnTheFirstRefresh) {
    SystemSnapshot snapshot(session);
    for (int i = 0; i < 5; ++i) {
        refreshSnapshot(snapshot);
    }
    const auto& calls = fake::probes();
    EXPECT_EQ(calls.biosCalls, 1);
    EXPECT_EQ(calls.computerSystemCalls, 1);
    EXPECT_EQ(calls.processorCalls, 1);
    EXPECT_EQ(calls.operatingSystemCalls, 5);
    EXPECT_EQ(calls.diskCalls, 5);
    EXPECT_EQ(calls.memoryCalls, 5);
    // Baseline and current on the first refresh, current only afterwards.
    EXPECT_EQ(calls.cpuTimesCalls, 6);
    EXPECT_EQ(snapshot.refreshCount, 5u);
}

TEST_F(RefreshSnapshotTest, FirstRefreshStoresTheLoadBetweenBaselineAndCurrent) {
    fake::probes().cpuSamples = {{0, 0, 0}, {50, 25, 100}};
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.cpuUsageHistory[0], 75);
    EXPECT_EQ(snapshot.cpuUsageIndex, 1);
    EXPECT_EQ(snapshot.cpuTimesBaseline.percentPrivilegedTime, 50u);
    EXPECT_EQ(snapshot.cpuTimesBaseline.percentUserTime, 25u);
    EXPECT_EQ(snapshot.cpuTimesBaseline.timeStampSys100NS, 100u);
}

TEST_F(RefreshSnapshotTest, LoadIsTruncatedAfterDividingFirst) {
    EXPECT_EQ(loadOf(3, 4), 75);
    EXPECT_EQ(loadOf(1, 3), 33);
    // 29 / 100 * 100 is 28.999999999999996 in double precision.
    EXPECT_EQ(loadOf(29, 100), 28);
    EXPECT_EQ(loadOf(300, 200), 150);
    EXPECT_EQ(loadOf(0, 7), 0);
}

TEST_F(RefreshSnapshotTest, DifferencesWrapModulo64Bits) {
    std::int32_t load = 0;
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    // Each counter wrapped past 2^64 between the samples.
    ASSERT_TRUE(computeCpuLoad({max - 9, max, max - 99}, {10, 19, 100}, load));
    EXPECT_EQ(load, 20);  // (20 + 20) / 200
}

TEST_F(RefreshSnapshotTest, ResultsOutsideInt32BecomeMinimum) {
    std::int32_t load = 0;
    // 2^31 percent: just above the int32 range.
    ASSERT_TRUE(computeCpuLoad({0, 0, 0}, {21474836480ull, 0, 1000}, load));
    EXPECT_EQ(load, std::numeric_limits<std::int32_t>::min());
    ASSERT_TRUE(computeCpuLoad({0, 0, 0}, {std::numeric_limits<std::uint64_t>::max(), 0, 1}, load));
    EXPECT_EQ(load, std::numeric_limits<std::int32_t>::min());
    // The largest value that still fits.
    ASSERT_TRUE(computeCpuLoad({0, 0, 0}, {2147483647ull, 0, 100}, load));
    EXPECT_EQ(load, 2147483647);
}

TEST_F(RefreshSnapshotTest, StillTimeStampStoresNothingButMovesBaselineAndCount) {
    fake::probes().cpuSamples = {{0, 0, 0}, {0, 0, 0}, {40, 10, 0}};
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.cpuUsageIndex, 0);
    EXPECT_EQ(snapshot.cpuTimesBaseline.percentPrivilegedTime, 40u);
    EXPECT_EQ(snapshot.cpuTimesBaseline.percentUserTime, 10u);
    EXPECT_EQ(snapshot.refreshCount, 2u);
}

TEST_F(RefreshSnapshotTest, FailedCounterQueryKeepsCurrentEqualToBaseline) {
    fake::probes().cpuSamples = {{0, 0, 0}, {10, 10, 100}};
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);
    ASSERT_EQ(snapshot.cpuUsageIndex, 1);
    refreshSnapshot(snapshot);  // no sample left: the query fails
    EXPECT_EQ(snapshot.cpuUsageIndex, 1);
    EXPECT_EQ(snapshot.cpuTimesCurrent.timeStampSys100NS, 100u);
    EXPECT_EQ(snapshot.refreshCount, 2u);
}

TEST_F(RefreshSnapshotTest, HistoryWrapsAfter180Values) {
    // Each interval of 100 units carries a load equal to the refresh number modulo 100.
    auto& samples = fake::probes().cpuSamples;
    std::uint64_t busy = 0;
    samples.push_back({0, 0, 0});
    for (std::uint64_t i = 1; i <= 181; ++i) {
        busy += i % 100;
        samples.push_back({busy, 0, i * 100});
    }
    SystemSnapshot snapshot(session);
    for (int i = 0; i < 180; ++i) {
        refreshSnapshot(snapshot);
    }
    EXPECT_EQ(snapshot.cpuUsageIndex, 180);
    EXPECT_EQ(snapshot.cpuUsageHistory[0], 1);
    EXPECT_EQ(snapshot.cpuUsageHistory[179], 80);
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.cpuUsageIndex, 1);
    EXPECT_EQ(snapshot.cpuUsageHistory[0], 81);
    EXPECT_EQ(snapshot.cpuUsageHistory[1], 2);
}

}  // namespace
}  // namespace quorvane
