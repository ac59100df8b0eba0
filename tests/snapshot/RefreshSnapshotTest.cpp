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

TEST_F(RefreshSnapshotTest, InventoryProbesThatSucceedRunOnlyOnTheFirstRefresh) {
    for (std::uint64_t i = 1; i <= 6; ++i) {
        fake::probes().cpuSamples.push_back({i, i, i * 100});
    }
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

TEST_F(RefreshSnapshotTest, FailedFirstTimeProbesAreRetriedUntilTheySucceedOnce) {
    auto& probes = fake::probes();
    probes.biosFailures = 3;
    probes.computerSystemFailures = 1;
    probes.processorFailures = 2;
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);
    EXPECT_FALSE(snapshot.firstRefreshPending);
    EXPECT_TRUE(snapshot.biosPending);
    EXPECT_TRUE(snapshot.computerSystemPending);
    EXPECT_TRUE(snapshot.processorsPending);
    for (int i = 0; i < 5; ++i) {
        refreshSnapshot(snapshot);
    }
    EXPECT_EQ(probes.biosCalls, 4);
    EXPECT_EQ(probes.computerSystemCalls, 2);
    EXPECT_EQ(probes.processorCalls, 3);
    EXPECT_FALSE(snapshot.biosPending);
    EXPECT_FALSE(snapshot.computerSystemPending);
    EXPECT_FALSE(snapshot.processorsPending);
    EXPECT_EQ(probes.operatingSystemCalls, 6);
}

TEST_F(RefreshSnapshotTest, FirstRefreshStoresTheLoadBetweenBaselineAndCurrent) {
    fake::probes().cpuSamples = {{10, 5, 1000}, {60, 30, 1100}};
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.cpuUsageHistory[0], 75);
    EXPECT_EQ(snapshot.cpuUsageIndex, 1);
    EXPECT_EQ(snapshot.cpuTimesBaseline.percentPrivilegedTime, 60u);
    EXPECT_EQ(snapshot.cpuTimesBaseline.percentUserTime, 30u);
    EXPECT_EQ(snapshot.cpuTimesBaseline.timeStampSys100NS, 1100u);
}

// A failed baseline leaves zeros; measured against them, the next sample would span the
// counters' whole lifetime and store a meaningless value near 0.
TEST_F(RefreshSnapshotTest, ZeroBaselineIsNoBaseline) {
    auto& probes = fake::probes();
    probes.cpuTimesFailures = 1;
    probes.cpuSamples = {{400000000000ull, 900000000000ull, 134100000000000000ull},
                         {400000010000ull, 900000030000ull, 134100000000050000ull}};
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.cpuUsageIndex, 0);
    EXPECT_EQ(snapshot.cpuUsageHistory[0], 0);
    EXPECT_EQ(snapshot.cpuTimesBaseline.timeStampSys100NS, 134100000000000000ull);
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.cpuUsageIndex, 1);
    EXPECT_EQ(snapshot.cpuUsageHistory[0], 80);  // 40000 of 50000
    EXPECT_EQ(probes.cpuTimesCalls, 3);
}

// When the whole first refresh's counters fail, the next refresh takes baseline and current
// as the first one does; once a baseline stands it is never queried again.
TEST_F(RefreshSnapshotTest, BaselineIsQueriedAgainUntilOneIsTaken) {
    auto& probes = fake::probes();
    probes.cpuTimesFailures = 2;
    probes.cpuSamples = {{0, 0, 1000}, {30, 0, 1100}, {60, 10, 1200}};
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.cpuUsageIndex, 0);
    refreshSnapshot(snapshot);
    EXPECT_EQ(probes.cpuTimesCalls, 4);
    EXPECT_EQ(snapshot.cpuUsageIndex, 1);
    EXPECT_EQ(snapshot.cpuUsageHistory[0], 30);
    refreshSnapshot(snapshot);
    EXPECT_EQ(probes.cpuTimesCalls, 5);
    EXPECT_EQ(snapshot.cpuUsageIndex, 2);
    EXPECT_EQ(snapshot.cpuUsageHistory[1], 40);
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
    fake::probes().cpuSamples = {{0, 0, 10}, {0, 0, 10}, {40, 10, 10}};
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.cpuUsageIndex, 0);
    EXPECT_EQ(snapshot.cpuTimesBaseline.percentPrivilegedTime, 40u);
    EXPECT_EQ(snapshot.cpuTimesBaseline.percentUserTime, 10u);
    EXPECT_EQ(snapshot.refreshCount, 2u);
}

TEST_F(RefreshSnapshotTest, FailedCounterQueryKeepsCurrentEqualToBaseline) {
    fake::probes().cpuSamples = {{0, 0, 50}, {10, 10, 150}};
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);
    ASSERT_EQ(snapshot.cpuUsageIndex, 1);
    refreshSnapshot(snapshot);  // no sample left: the query fails
    EXPECT_EQ(snapshot.cpuUsageIndex, 1);
    EXPECT_EQ(snapshot.cpuTimesCurrent.timeStampSys100NS, 150u);
    EXPECT_EQ(snapshot.refreshCount, 2u);
}

TEST_F(RefreshSnapshotTest, HistoryWrapsAfter180Values) {
    // Each interval of 100 units carries a load equal to the refresh number modulo 100.
    auto& samples = fake::probes().cpuSamples;
    std::uint64_t busy = 0;
    samples.push_back({0, 0, 100});
    for (std::uint64_t i = 1; i <= 181; ++i) {
        busy += i % 100;
        samples.push_back({busy, 0, (i + 1) * 100});
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
