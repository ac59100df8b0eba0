// Process-wide platform set-up the application performs at start and end.
#pragma once

namespace quorvane {

// Sets every locale category to the user's default locale.
void setProcessLocale();

// Enters the process's multithreaded COM apartment; false on failure. A no-op elsewhere.
bool initializeCom();
void uninitializeCom();

}  // namespace quorvane
