// Linux stand-in for the performance-data uptime: the first field of /proc/uptime.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "SystemFiles.h"

namespace quorvane {

// Whole seconds of an uptime text ("12345.67 23456.78"); 0 when it does not start with a number
// or the number does not fit in 64 bits.
std::uint64_t parseProcUptime(std::string_view text);

class ProcUptimeReader {
  public:
    explicit ProcUptimeReader(std::string rootDirectory = "/");

    // Seconds since boot from <rootDirectory>/proc/uptime; 0 when it cannot be read. The file
    // stays open between calls, so a report costs a read instead of an open, a read and a close.
    // Not thread-safe.
    std::uint64_t seconds() const;

  private:
    std::string path_;
    mutable OpenProcFiles file_;
};

}  // namespace quorvane
