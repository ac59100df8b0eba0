#include "UpdateTimerCallback.h"

#include "snapshot/SystemSnapshot.h"

namespace quorvane {

void UpdateTimerCallback::onTimer(Poco::Timer&) {
    refreshSnapshot(*snapshot);
}

}  // namespace quorvane
