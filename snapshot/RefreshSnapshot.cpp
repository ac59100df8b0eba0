#include <cmath>
#include <limits>

#include "Probes.h"
#include "SystemSnapshot.h"

namespace quorvane {

bool computeCpuLoad(const CpuTimesSample& baseline, const CpuTimesSample& current,
                    std::int32_t& load) {
    // Unsigned arithmetic: every difference wraps modulo 2^64 by definition.
    const std::uint64_t dP = current.percentPrivilegedTime - baseline.percentPrivilegedTime;
    const std::uint64_t dU = current.percentUserTime - baseline.percentUserTime;
    const std::uint64_t dT = current.timeStampSys100NS - baseline.timeStampSys100NS;
    if (dT == 0) {
        return false;
    }
    const std::uint64_t busy = dP + dU;
    const double percent = (static_cast<double>(busy) / static_cast<double>(dT)) * 100.0;
    const double truncated = std::trunc(percent);
    // Converting a double outside the int32 range is undefined, so the range is tested first.
    if (!(truncated >= -2147483648.0 && truncated <= 2147483647.0)) {
        load = std::numeric_limits<std::int32_t>::min();
    } else {
        load = static_cast<std::int32_t>(truncated);
    }
    return true;
}

void storeCpuUsage(SystemSnapshot& snapshot, std::int32_t load) {
    if (snapshot.cpuUsageIndex < 0 ||
        snapshot.cpuUsageIndex >= static_cast<std::int32_t>(kCpuHistoryLength)) {
        snapshot.cpuUsageIndex = 0;
    }
    snapshot.cpuUsageHistory[static_cast<std::size_t>(snapshot.cpuUsageIndex)] = load;
    ++snapshot.cpuUsageIndex;
}

namespace {

// A sample without a time stamp was never taken (a failed query leaves the record at zero), so
// no load can be measured from it or to it: against zero, the next good sample would span the
// counters' whole lifetime.
bool hasTimeStamp(const CpuTimesSample& sample) {
    return sample.timeStampSys100NS != 0;
}

}  // namespace

void refreshSnapshot(SystemSnapshot& snapshot) {
    Poco::FastMutex::ScopedLock lock(snapshotMutex);

    // A probe that succeeded is never repeated; one that failed is tried again next time.
    if (snapshot.biosPending) {
        snapshot.biosPending = queryBios(snapshot.bios, snapshot.wmiSession) < 0;
    }
    if (snapshot.computerSystemPending) {
        snapshot.computerSystemPending =
            queryComputerSystem(snapshot.computerSystem, snapshot.wmiSession) < 0;
    }
    if (snapshot.processorsPending) {
        snapshot.processorsPending = queryProcessors(snapshot.processors, snapshot.wmiSession) < 0;
    }
    if (!hasTimeStamp(snapshot.cpuTimesBaseline)) {
        queryCpuTimes(snapshot.wmiSession, snapshot.cpuTimesBaseline);
    }
    snapshot.firstRefreshPending = false;

    queryOperatingSystem(snapshot.operatingSystem, snapshot.wmiSession);
    queryLogicalDisks(snapshot.disks, snapshot.wmiSession);
    queryMemoryStatus(snapshot.memory, snapshot.wmiSession);
    queryCpuTimes(snapshot.wmiSession, snapshot.cpuTimesCurrent);

    std::int32_t load = 0;
    if (hasTimeStamp(snapshot.cpuTimesBaseline) && hasTimeStamp(snapshot.cpuTimesCurrent) &&
        computeCpuLoad(snapshot.cpuTimesBaseline, snapshot.cpuTimesCurrent, load)) {
        storeCpuUsage(snapshot, load);
    }
    snapshot.cpuTimesBaseline = snapshot.cpuTimesCurrent;
    ++snapshot.refreshCount;
}

}  // namespace quorvane
