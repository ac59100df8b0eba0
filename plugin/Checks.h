#pragma once

#include <string>
#include <vector>

#include "Report.h"
#include "Thresholds.h"

namespace quorvane::plugin {

// What one check found: the state, the text after "QUORVANE MODE STATE - ", the lines of long
// output and the performance data items ('label'=value[UOM];warn;crit;min;max).
struct CheckResult {
    State state = State::ok;
    std::string summary;
    std::vector<std::string> details;
    std::vector<std::string> perfdata;
};

// Which disks the storage check looks at, by the name the report gives them. Without includes
// every disk is taken; an exclude wins over an include.
struct DiskSelection {
    std::vector<std::string> include;
    std::vector<std::string> exclude;
};

CheckResult checkCpu(const CpuFigures& cpu, const Thresholds& thresholds);
CheckResult checkMemory(const MemoryFigures& memory, const Thresholds& thresholds);
// The thresholds apply to each disk's free percentage (floored to 0.01 %). The worst disk decides
// the state and is named in the summary: CRITICAL over WARNING over UNKNOWN (a disk whose size
// is 0, or an included disk the report lacks) over OK; among equals, the least free space, then
// the first in the report.
CheckResult checkStorage(const std::vector<Disk>& disks, const Thresholds& thresholds,
                         const DiskSelection& selection);
CheckResult checkUptime(const UptimeFigures& uptime, const Thresholds& thresholds);
CheckResult checkInventory(const Inventory& inventory);

// The plugin's whole output: "QUORVANE MODE STATE - summary | perfdata", then the detail lines.
// Report texts never break it: line ends and other control characters become spaces and "|"
// (which would start the performance data) becomes "/".
std::string formatOutput(const std::string& mode, const CheckResult& result);

}  // namespace quorvane::plugin
