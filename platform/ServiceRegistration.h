// What /registerService adds to the Windows service POCO registers. Nothing to do on Linux, where
// the systemd unit carries the same settings.
#pragma once

#include <string>

namespace quorvane {

// Completes the registration of the service `serviceName` that POCO has just made
// (/registerService): restarted 5 s after every failure, the count of failures reset after a day,
// an error exit counting as a failure; started after WMI (Winmgmt); its event source registered.
// On failure the registration is undone and the result says what failed; empty on success.
std::string completeServiceRegistration(const std::string& serviceName);

}  // namespace quorvane
