#include <gtest/gtest.h>

#include "app/UpdateTimerCallback.h"
#include "fakes/FakePlatform.h"
#include "platform/Session.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {
namespace {

// A session that could not connect at start-up is retried on every tick, before the refresh and
// without the snapshot lock, so the retry's bounded wait never holds up a report.
TEST(UpdateTimerCallbackTest, RetriesTheSessionOutsideTheLockThenRefreshes) {
    fake::reset();
    Session session;
    session.open();
    SystemSnapshot snapshot(session);
    bool lockWasFree = false;
    std::uint32_t refreshesBeforeRetry = 99;
    fake::probes().duringSessionRetry = [&] {
        lockWasFree = snapshotMutex.tryLock();
        if (lockWasFree) {
            snapshotMutex.unlock();
        }
        refreshesBeforeRetry = snapshot.refreshCount;
    };
    UpdateTimerCallback target;
    target.snapshot = &snapshot;
    Poco::Timer timer;
    target.onTimer(timer);
    target.onTimer(timer);
    EXPECT_EQ(fake::probes().sessionRetries, 2);
    EXPECT_TRUE(lockWasFree);
    EXPECT_EQ(refreshesBeforeRetry, 1u);  // the second tick's retry came before its refresh
    EXPECT_EQ(snapshot.refreshCount, 2u);
    fake::reset();
}

}  // namespace
}  // namespace quorvane
