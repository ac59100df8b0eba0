// Process-wide platform set-up the application performs at start and end.
#pragma once

#include <Poco/Net/ServerSocket.h>

#include <functional>
#include <string>

namespace quorvane {

// Sets every locale category to the user's default locale.
void setProcessLocale();

// Enters the process's multithreaded COM apartment; false on failure. A no-op elsewhere.
bool initializeCom();
void uninitializeCom();

// Called at process entry, before any thread exists, so that every thread the agent starts
// inherits it: blocks the termination signals (Linux: SIGINT, SIGTERM, SIGQUIT and SIGHUP, the
// counterpart of closing the console), which then only ever reach waitForTermination. A
// repeated signal during shutdown stays pending instead of killing the process. A no-op on
// Windows, where console and service events end the wait.
void blockTerminationSignals();

// Returns once termination is requested: on Linux when one of those signals arrives; on Windows
// through `applicationWait`, the application's own wait for its termination event.
void waitForTermination(const std::function<void()>& applicationWait);

// Binds `socket` to `port` on every IPv4 interface and starts listening, so that a second agent
// on the same port fails instead of sharing it.
void bindListeningSocket(Poco::Net::ServerSocket& socket, Poco::UInt16 port, int backlog);

// Completes the registration of the service `serviceName` that POCO has just made
// (/registerService): restarted 5 s after every failure, the count of failures reset after a day,
// an error exit counting as a failure; started after WMI (Winmgmt); its event source registered.
// On failure the registration is
// undone and the result says what failed; empty on success. Nothing to do on Linux, where the
// systemd unit carries the same settings.
std::string completeServiceRegistration(const std::string& serviceName);

// Run as a service, the agent has no console: from here on every logger of the process writes to
// the system's log instead, under the event source `source` (Windows: the Application event log,
// each message with the type of its priority). Nothing on Linux, where the service manager keeps
// the console's output.
void logToSystemLog(const std::string& source);

// Registers `serviceName` as an event source of the Application log whose texts are in this
// executable (done by /registerService, as by the installer); removes it (/unregisterService).
// Empty on success, else what failed. Nothing to do on Linux.
std::string registerEventSource(const std::string& serviceName);
std::string unregisterEventSource(const std::string& serviceName);

// Called first when the agent stops: a refresh waiting for a hung file system gives up at once,
// and later ones do not wait, so the stop is never held up. Windows bounds its waits otherwise.
void abandonPlatformWaits();

}  // namespace quorvane
