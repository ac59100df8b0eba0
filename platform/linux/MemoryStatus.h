// The memory status in the meanings of MEMORYSTATUSEX, from /proc/meminfo and the process's
// own /proc/self/stat and /proc/self/status.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "snapshot/SystemSnapshot.h"

namespace quorvane::linuxsource {

// "Name: value kB" lines, in bytes.
std::map<std::string, std::uint64_t> parseMemInfo(const std::string& text);

// The start of the process's stack (field 28 of /proc/self/stat).
std::optional<std::uint64_t> parseStartStack(const std::string& stat);

// VmSize of /proc/self/status, in bytes.
std::optional<std::uint64_t> parseVmSize(const std::string& status);

// All zero without MemTotal. The virtual sizes are 0 when their sources are missing.
MemoryInfo memoryStatusFrom(const std::map<std::string, std::uint64_t>& memInfo,
                            std::optional<std::uint64_t> startStack,
                            std::optional<std::uint64_t> vmSize);

class MemoryStatusReader {
  public:
    explicit MemoryStatusReader(std::string root);
    MemoryInfo read() const;

  private:
    std::string root_;
};

}  // namespace quorvane::linuxsource
