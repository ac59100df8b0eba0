// The probe operations a refresh runs. Each back end implements them over its Session; each one
// leaves its destination as documented when it cannot reach its data, and never throws. How a
// successful probe stores what it found is in ProbeResults.h, shared by both back ends.
#pragma once

#include <vector>

#include "SystemSnapshot.h"

namespace quorvane {

class Session;

// Instances taken (0 or 1), or -1 when the class cannot be enumerated or the first instance
// cannot be fetched (destination untouched).
int queryBios(BiosInfo& bios, Session& session);
int queryComputerSystem(ComputerSystemInfo& computerSystem, Session& session);
int queryOperatingSystem(OperatingSystemInfo& operatingSystem, Session& session);

// Replaces the list only after a complete walk; returns instances taken, or -1 when the
// enumeration fails or is cut short (list untouched).
int queryProcessors(std::vector<ProcessorInfo>& processors, Session& session);

// Empties all slots only after a successful query; fills at most kMaxDisks; returns disks or -1.
int queryLogicalDisks(DiskTable& disks, Session& session);

// All fields zero when the memory status cannot be read.
void queryMemoryStatus(MemoryInfo& memory, Session& session);

// 1, or -1 when the query cannot be run (sample untouched). No instance: 1, sample untouched.
int queryCpuTimes(Session& session, CpuTimesSample& sample);

}  // namespace quorvane
