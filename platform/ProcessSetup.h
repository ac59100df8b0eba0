// What the whole process needs set before the agent's work starts and undone after it ends: the
// locale and, on Windows, COM for WMI.
#pragma once

namespace quorvane {

// Sets every locale category to the user's default locale.
void setProcessLocale();

// Enters the process's multithreaded COM apartment; false on failure. A no-op elsewhere.
bool initializeCom();
void uninitializeCom();

}  // namespace quorvane
