// The probe operations a refresh runs. They are implemented by the platform layer; each one
// leaves its destination as documented when it cannot reach its data, and never throws.
#pragma once

#include <vector>

#include "SystemSnapshot.h"

namespace quorvane {

class WmiConnection;

// Instances taken (0 or 1), or -1 when the class cannot be enumerated or the first instance
// cannot be fetched (destination untouched).
int queryBios(BiosInfo& bios, WmiConnection& session);
int queryComputerSystem(ComputerSystemInfo& computerSystem, WmiConnection& session);
int queryOperatingSystem(OperatingSystemInfo& operatingSystem, WmiConnection& session);

// Replaces the list only after a complete walk; returns instances taken, or -1 when the
// enumeration fails or is cut short (list untouched).
int queryProcessors(std::vector<ProcessorInfo>& processors, WmiConnection& session);

// Empties all slots only after a successful query; fills at most kMaxDisks; returns disks or -1.
int queryLogicalDisks(DiskTable& disks, WmiConnection& session);

// All fields zero when the memory status cannot be read.
void queryMemoryStatus(MemoryInfo& memory);

// 1, or -1 when the query cannot be run (sample untouched). No instance: 1, sample untouched.
int queryCpuTimes(WmiConnection& session, CpuTimesSample& sample);

}  // namespace quorvane
