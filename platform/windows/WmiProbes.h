// The WMI probes over any connection: the Windows back end's probe operations hand them its WMI
// session, the tests a fake one.
#pragma once

#include <vector>

#include "WmiConnection.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane::wmi {

int queryBios(BiosInfo& bios, WmiConnection& session);
int queryComputerSystem(ComputerSystemInfo& computerSystem, WmiConnection& session);
int queryOperatingSystem(OperatingSystemInfo& operatingSystem, WmiConnection& session);
int queryProcessors(std::vector<ProcessorInfo>& processors, WmiConnection& session);
int queryLogicalDisks(DiskTable& disks, WmiConnection& session);
int queryCpuTimes(WmiConnection& session, CpuTimesSample& sample);

}  // namespace quorvane::wmi
