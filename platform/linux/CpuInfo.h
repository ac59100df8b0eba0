// Physical processor packages from /proc/cpuinfo, with the maximum clock from cpufreq.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// One "processor" block of /proc/cpuinfo: its "key : value" lines.
using CpuInfoBlock = std::map<std::string, std::string>;

std::vector<CpuInfoBlock> parseCpuInfo(const std::string& text);

// One physical package, with what Win32_Processor reports of it. Absent values are not exposed.
struct ProcessorPackage {
    int firstProcessor = 0;  // the "processor" number of its first logical processor
    std::optional<std::string> name;
    std::optional<std::string> manufacturer;
    std::optional<std::string> caption;  // "Intel64 Family 6 Model 85 Stepping 4"
    std::optional<std::uint32_t> reportedClockMHz;
    std::optional<std::uint32_t> cores;
    std::uint32_t logicalProcessors = 0;
};

// Blocks grouped by "physical id" in order of first appearance; without any physical id (some
// virtual machines and architectures) all blocks form one package.
std::vector<ProcessorPackage> groupPackages(const std::vector<CpuInfoBlock>& blocks);

// cpuinfo_max_freq (kHz) to MHz, rounded to the nearest.
std::optional<std::uint32_t> parseMaxFrequencyMHz(const std::optional<std::string>& text);

struct ProcessorDescription {
    ProcessorPackage package;
    std::optional<std::uint32_t> maxClockSpeedMHz;  // cpufreq maximum, else the reported clock
};

class ProcessorReader {
  public:
    explicit ProcessorReader(std::string root);
    // Nothing when /proc/cpuinfo cannot be read.
    std::optional<std::vector<ProcessorDescription>> read() const;

  private:
    std::string root_;
};

}  // namespace quorvane
