// How the agent learns that it is to stop, and what it undoes first when it does.
#pragma once

#include <functional>

namespace quorvane {

// Called at process entry, before any thread exists, so that every thread the agent starts
// inherits it: blocks the termination signals (Linux: SIGINT, SIGTERM, SIGQUIT and SIGHUP, the
// counterpart of closing the console), which then only ever reach waitForTermination. A
// repeated signal during shutdown stays pending instead of killing the process. A no-op on
// Windows, where console and service events end the wait.
void blockTerminationSignals();

// Returns once termination is requested: on Linux when one of those signals arrives; on Windows
// through `applicationWait`, the application's own wait for its termination event.
void waitForTermination(const std::function<void()>& applicationWait);

// Called first when the agent stops: a refresh waiting for a hung file system gives up at once,
// and later ones do not wait, so the stop is never held up. Windows bounds its waits otherwise.
void abandonPlatformWaits();

}  // namespace quorvane
