#include "UpdateTimerCallback.h"

#include "platform/Session.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {

// A session that could not connect at start-up tries again first, outside the snapshot lock, so
// its bounded wait delays this refresh only, never a report.
void UpdateTimerCallback::onTimer(Poco::Timer&) {
    snapshot->wmiSession.retryOpen();
    refreshSnapshot(*snapshot);
}

}  // namespace quorvane
