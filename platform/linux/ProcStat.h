// Processor times and the boot time from /proc/stat.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

class OpenProcFiles;

// The "cpu" line: the times of all processors together, in clock ticks (USER_HZ).
struct CpuTimesLine {
    std::uint64_t user = 0;
    std::uint64_t nice = 0;
    std::uint64_t system = 0;
    std::uint64_t idle = 0;
    std::uint64_t iowait = 0;
    std::uint64_t irq = 0;
    std::uint64_t softirq = 0;
    std::uint64_t steal = 0;  // time a hypervisor gave to others; 0 on kernels before 2.6.11
};

struct ProcStat {
    std::optional<CpuTimesLine> total;
    std::optional<std::uint64_t> bootTime;  // seconds since the epoch ("btime")
};

ProcStat parseProcStat(const std::string& text);

class ProcStatReader {
  public:
    explicit ProcStatReader(std::string root, OpenProcFiles* open = nullptr);
    // Nothing when /proc/stat cannot be read.
    std::optional<ProcStat> read() const;

  private:
    std::string root_;
    OpenProcFiles* open_;
};

}  // namespace quorvane
