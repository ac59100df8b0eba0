// Where the agent's log goes when it runs as a service, and the event source that names it
// there. Nothing on Linux, where the service manager keeps the console's output.
#pragma once

#include <string>

namespace quorvane {

// Run as a service, the agent has no console: from here on every logger of the process writes to
// the system's log instead, under the event source `source` (Windows: the Application event log,
// each message with the type of its priority).
void logToSystemLog(const std::string& source);

// Registers `serviceName` as an event source of the Application log whose texts are in this
// executable (done by /registerService, as by the installer); removes it (/unregisterService).
// Empty on success, else what failed.
std::string registerEventSource(const std::string& serviceName);
std::string unregisterEventSource(const std::string& serviceName);

}  // namespace quorvane
