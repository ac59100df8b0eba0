#include "snapshot/Probes.h"

namespace quorvane {

// TEMPORARY placeholder until the /proc/meminfo reader lands: the status is unavailable, which
// leaves every field zero.
void queryMemoryStatus(MemoryInfo& memory) {
    memory = MemoryInfo{};
}

}  // namespace quorvane
