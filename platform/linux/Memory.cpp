#include "MemoryStatus.h"
#include "snapshot/Probes.h"

namespace quorvane {

void queryMemoryStatus(MemoryInfo& memory) {
    memory = linuxsource::MemoryStatusReader("/").read();
}

}  // namespace quorvane
