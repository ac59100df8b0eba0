#include "snapshot/Probes.h"

#include "platform/WmiConnection.h"

namespace quorvane {

// TEMPORARY placeholders until the probes over the session land: each reports that its source
// could not be reached (-1) and leaves its destination untouched, so the report shows the
// empty values of a failed probe.
int queryBios(BiosInfo&, WmiConnection&) {
    return -1;
}
int queryComputerSystem(ComputerSystemInfo&, WmiConnection&) {
    return -1;
}
int queryOperatingSystem(OperatingSystemInfo&, WmiConnection&) {
    return -1;
}
int queryProcessors(std::vector<ProcessorInfo>&, WmiConnection&) {
    return -1;
}
int queryLogicalDisks(DiskTable&, WmiConnection&) {
    return -1;
}
int queryCpuTimes(WmiConnection&, CpuTimesSample&) {
    return -1;
}

}  // namespace quorvane
