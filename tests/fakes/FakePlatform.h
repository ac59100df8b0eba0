// Link-time stand-ins for the session, the probe and the report-time operations, so the refresh
// cycle and the report can be driven and observed without any platform back end.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "snapshot/SystemSnapshot.h"

namespace quorvane::fake {

struct ProbeState {
    int biosCalls = 0;
    int computerSystemCalls = 0;
    int processorCalls = 0;
    int operatingSystemCalls = 0;
    int diskCalls = 0;
    int memoryCalls = 0;
    int cpuTimesCalls = 0;

    // The inventory probes take no instance (result 0, destination untouched); each fails (-1)
    // on as many of its first calls as set here.
    int biosFailures = 0;
    int computerSystemFailures = 0;
    int processorFailures = 0;

    // Each queryCpuTimes call after the first `cpuTimesFailures` takes the next sample; those
    // failing calls, and any call with no sample left, fail and leave the destination untouched.
    int cpuTimesFailures = 0;
    std::deque<CpuTimesSample> cpuSamples;

    // Optional hook run inside every queryOperatingSystem call (while the refresh holds the lock).
    std::function<void()> duringRefresh;

    // Session::retryOpen calls, and an optional hook run inside each.
    int sessionRetries = 0;
    std::function<void()> duringSessionRetry;
};

struct ReportState {
    std::string agentVersion;
    std::string agentDescription;
    std::string agentCopyright;
    std::string agentEdition;
    std::u16string servicePack;
    std::u16string productName;
    std::u16string fullName;
    std::uint64_t uptime = 0;
    bool throwFromUptime = false;
    // Not recorded in `calls`.
    std::string operatingSystemType = "windows";

    // Names of the operations in the order they were called.
    std::vector<std::string> calls;
};

ProbeState& probes();
ReportState& reportValues();

// Resets both states to their defaults.
void reset();

}  // namespace quorvane::fake
