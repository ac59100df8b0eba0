// The one in-memory record of everything the agent knows about the machine.
#pragma once

#include <Poco/Mutex.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "TextField.h"

namespace quorvane {

class Session;

inline constexpr std::size_t kMaxDisks = 26;
inline constexpr std::size_t kCpuHistoryLength = 180;

struct OperatingSystemInfo {
    TextField version{};
    TextField lastBootUpTime{};
    TextField localDateTime{};
};

struct ComputerSystemInfo {
    TextField domain{};
    TextField manufacturer{};
    TextField model{};
    TextField name{};
    TextField primaryOwnerName{};
};

struct BiosInfo {
    TextField smbiosBiosVersion{};
    TextField manufacturer{};
    TextField name{};
    TextField serialNumber{};
    TextField version{};
};

struct ProcessorInfo {
    TextField deviceId{};
    TextField caption{};
    TextField manufacturer{};
    TextField name{};
    TextField version{};
    std::uint32_t maxClockSpeed = 0;
    std::uint32_t numberOfCores = 0;
    std::uint32_t numberOfLogicalProcessors = 0;
};

struct DiskInfo {
    std::int32_t inUse = 0;
    TextField deviceId{};
    std::uint32_t driveType = 0;
    std::uint64_t size = 0;
    std::uint64_t freeSpace = 0;
    TextField volumeName{};
    TextField fileSystem{};
};

struct MemoryInfo {
    std::uint32_t dwMemoryLoad = 0;
    std::uint64_t ullTotalPhys = 0;
    std::uint64_t ullAvailPhys = 0;
    std::uint64_t ullTotalPageFile = 0;
    std::uint64_t ullAvailPageFile = 0;
    std::uint64_t ullTotalVirtual = 0;
    std::uint64_t ullAvailVirtual = 0;
    std::uint64_t ullAvailExtendedVirtual = 0;
};

// Accumulated processor times, named after the WMI counters. Only the ratio of two differences
// is used, so each back end keeps its own unit: 100 ns on Windows, as WMI gives them; clock ticks
// (USER_HZ) summed over the processors on Linux, where the time stamp is all their time, busy,
// idle, waiting or stolen.
struct CpuTimesSample {
    std::uint64_t percentPrivilegedTime = 0;
    std::uint64_t percentUserTime = 0;
    std::uint64_t timeStampSys100NS = 0;
};

using DiskTable = std::array<DiskInfo, kMaxDisks>;
using CpuUsageHistory = std::array<std::int32_t, kCpuHistoryLength>;

// Every field is guarded by snapshotMutex, reads included.
struct SystemSnapshot {
    explicit SystemSnapshot(Session& session);

    SystemSnapshot(const SystemSnapshot&) = delete;
    SystemSnapshot& operator=(const SystemSnapshot&) = delete;

    // Until the start-up refresh has run.
    bool firstRefreshPending = true;
    // First-time probes that have not yet succeeded: each is tried again on every refresh until
    // it succeeds once (a cold WMI at boot must not lose the inventory for the whole run).
    bool biosPending = true;
    bool computerSystemPending = true;
    bool processorsPending = true;
    OperatingSystemInfo operatingSystem{};
    ComputerSystemInfo computerSystem{};
    BiosInfo bios{};
    std::vector<ProcessorInfo> processors;
    DiskTable disks{};
    MemoryInfo memory{};
    CpuTimesSample cpuTimesBaseline{};
    CpuTimesSample cpuTimesCurrent{};
    CpuUsageHistory cpuUsageHistory{};
    std::int32_t cpuUsageIndex = 0;
    Session& wmiSession;  // not owned; the application closes it before this record goes
    std::uint32_t refreshCount = 0;
    std::string cachedAgentVersion;
    std::string cachedAgentDescription;
    std::string cachedAgentCopyright;
    std::string cachedAgentEdition;
};

// Process-wide lock around the snapshot; constructed during static initialisation.
extern Poco::FastMutex snapshotMutex;

// One refresh cycle: takes snapshotMutex for its whole duration.
void refreshSnapshot(SystemSnapshot& snapshot);

// Processor load in percent from two counter samples, or nothing when the time stamp did not
// move. All differences are modulo 2^64; results outside the int32 range become INT32_MIN.
bool computeCpuLoad(const CpuTimesSample& baseline, const CpuTimesSample& current,
                    std::int32_t& load);

// Appends one value to the 180-slot ring.
void storeCpuUsage(SystemSnapshot& snapshot, std::int32_t load);

}  // namespace quorvane
