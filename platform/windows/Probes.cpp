// The probe operations on Windows: WMI through the session for the inventory and the processor
// counters, GlobalMemoryStatusEx for the memory status.
#include "snapshot/Probes.h"

// clang-format off
#include <windows.h>
// clang-format on

#include <cstring>

#include "WindowsSession.h"
#include "WmiProbes.h"

namespace quorvane {

namespace {

// Null once the session is closed: the probes then fail like a failed enumeration.
WmiConnection* connectionOf(Session& session) {
    SessionState* state = session.state();
    return state != nullptr ? &state->wmi : nullptr;
}

}  // namespace

int queryBios(BiosInfo& bios, Session& session) {
    WmiConnection* connection = connectionOf(session);
    return connection != nullptr ? wmi::queryBios(bios, *connection) : -1;
}

int queryComputerSystem(ComputerSystemInfo& computerSystem, Session& session) {
    WmiConnection* connection = connectionOf(session);
    return connection != nullptr ? wmi::queryComputerSystem(computerSystem, *connection) : -1;
}

int queryOperatingSystem(OperatingSystemInfo& operatingSystem, Session& session) {
    WmiConnection* connection = connectionOf(session);
    return connection != nullptr ? wmi::queryOperatingSystem(operatingSystem, *connection) : -1;
}

int queryProcessors(std::vector<ProcessorInfo>& processors, Session& session) {
    WmiConnection* connection = connectionOf(session);
    return connection != nullptr ? wmi::queryProcessors(processors, *connection) : -1;
}

int queryLogicalDisks(DiskTable& disks, Session& session) {
    WmiConnection* connection = connectionOf(session);
    return connection != nullptr ? wmi::queryLogicalDisks(disks, *connection) : -1;
}

int queryCpuTimes(Session& session, CpuTimesSample& sample) {
    WmiConnection* connection = connectionOf(session);
    return connection != nullptr ? wmi::queryCpuTimes(*connection, sample) : -1;
}

void queryMemoryStatus(MemoryInfo& memory, Session&) {
    memory = MemoryInfo{};
    MEMORYSTATUSEX status;
    static_assert(sizeof(status) == 64, "MEMORYSTATUSEX has the size GlobalMemoryStatusEx expects");
    std::memset(&status, 0, sizeof status);
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        return;
    }
    memory.dwMemoryLoad = status.dwMemoryLoad;
    memory.ullTotalPhys = status.ullTotalPhys;
    memory.ullAvailPhys = status.ullAvailPhys;
    memory.ullTotalPageFile = status.ullTotalPageFile;
    memory.ullAvailPageFile = status.ullAvailPageFile;
    memory.ullTotalVirtual = status.ullTotalVirtual;
    memory.ullAvailVirtual = status.ullAvailVirtual;
    memory.ullAvailExtendedVirtual = status.ullAvailExtendedVirtual;
}

}  // namespace quorvane
