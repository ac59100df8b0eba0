#include "platform/Termination.h"

namespace quorvane {

// POCO's console control and service handlers end its wait; there are no signals to
// block.
void blockTerminationSignals() {}

void waitForTermination(const std::function<void()>& applicationWait) {
    applicationWait();
}

// Every wait of the Windows back end is bounded already.
void abandonPlatformWaits() {}

}  // namespace quorvane
