// Processor times and the boot time from /proc/stat.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class OpenProcFiles;

// One "cpu" line, in clock ticks (USER_HZ).
struct CpuTimesLine {
    std::string name;  // "cpu" for the sum of all processors, "cpu0", "cpu1", ... for each
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
    std::vector<CpuTimesLine> processors;   // the online processors
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

// The unit of /proc/stat (USER_HZ), 100 when the system does not say.
std::uint64_t systemTicksPerSecond();

// Clock ticks to 100 ns units, exactly for any tick rate.
std::uint64_t ticksTo100ns(std::uint64_t ticks, std::uint64_t ticksPerSecond);

}  // namespace quorvane
