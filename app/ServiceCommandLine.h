#pragma once

#include <string>
#include <vector>

namespace quorvane {

// The dependency registers a service for manual start unless "/startup=auto" is given, but an
// unattended agent must come back after every reboot: a registration without a startup option
// gets "/startup=auto" appended. Options are matched as the dependency matches them: a leading
// "/" or "-", names in any case and abbreviated to a prefix, the value after "=" or ":".
std::vector<std::wstring> withAutomaticStartup(const std::vector<std::wstring>& arguments);

}  // namespace quorvane
