// The memory status in the meanings of MEMORYSTATUSEX, from /proc/meminfo and the process's
// own /proc/self/stat and /proc/self/status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "snapshot/SystemSnapshot.h"

namespace quorvane {

class OpenProcFiles;

// The "Name: value kB" lines the memory status needs, in bytes; a line that is missing or
// malformed is absent.
struct MemInfo {
    std::optional<std::uint64_t> memTotal;
    std::optional<std::uint64_t> memAvailable;
    std::optional<std::uint64_t> memFree;
    std::optional<std::uint64_t> swapTotal;
    std::optional<std::uint64_t> swapFree;
};
MemInfo parseMemInfo(std::string_view text);

// The start of the process's stack (field 28 of /proc/self/stat).
std::optional<std::uint64_t> parseStartStack(std::string_view stat);

// VmSize of /proc/self/status, in bytes.
std::optional<std::uint64_t> parseVmSize(std::string_view status);

// All zero without MemTotal. The virtual sizes are 0 when their sources are missing.
MemoryInfo memoryStatusFrom(const MemInfo& memInfo, std::optional<std::uint64_t> startStack,
                            std::optional<std::uint64_t> vmSize);

class MemoryStatusReader {
  public:
    explicit MemoryStatusReader(std::string root, OpenProcFiles* open = nullptr);
    // `startStack`, when given, keeps the start of the stack between reads: it never moves while
    // the process runs, so /proc/self/stat is read only until it was found once.
    MemoryInfo read(std::optional<std::uint64_t>* startStack = nullptr) const;

  private:
    std::string root_;
    OpenProcFiles* open_;
};

}  // namespace quorvane
