#pragma once

#include <string>
#include <vector>

namespace quorvane {

// POCO registers a service for manual start unless "/startup=auto" is given, but an
// unattended agent must come back after every reboot: a registration without a startup option
// gets "/startup=auto" appended. Options are matched as POCO matches them on Windows: a
// leading "/", names in any case and abbreviated to any unambiguous prefix ("/s" is startup, "/d"
// is ambiguous), the value after "=" or ":" or else the next argument.
std::vector<std::wstring> withAutomaticStartup(const std::vector<std::wstring>& arguments);

// True when POCO, given these arguments, registers the service: of /registerService and
// /unregisterService the last one decides, as in POCO. The registration it makes is
// completed afterwards (restart actions, dependency on WMI).
bool registersService(const std::vector<std::wstring>& arguments);
// True when it removes the registration (/unregisterService decides); the event source goes too.
bool unregistersService(const std::vector<std::wstring>& arguments);

}  // namespace quorvane
