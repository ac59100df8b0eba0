// The status report document.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace quorvane {

struct SystemSnapshot;

// "YYYY-MM-DD HH:MM:SS" from a 25-unit CIM datetime text, else an empty string.
std::string formatCimDateTime(const char16_t* text, std::size_t capacity);

// Sum of all 180 slots with int32 wrap-around, divided by 180, truncated toward zero.
std::int32_t averageCpuUsage(const SystemSnapshot& snapshot);

// The 180 history values, oldest first, comma separated.
std::string formatCpuUsageHistory(const SystemSnapshot& snapshot);

// The machine's local time as "%Y-%m-%d %H:%M:%S".
std::string currentLocalTimeText();

// Takes snapshotMutex, reads the clock, runs the report-time operations and produces the whole
// document, then releases the lock. Throws only on memory exhaustion or a failing operation.
std::string renderStatusReport(SystemSnapshot& snapshot,
                               std::string (*readClock)() = currentLocalTimeText);

// Renders the document, then writes it onto `out` without holding the lock, so a slow reader
// never delays refreshes or other reports.
void writeStatusReport(std::ostream& out, SystemSnapshot& snapshot);

}  // namespace quorvane
