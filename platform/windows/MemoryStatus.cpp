// The memory status on Windows: GlobalMemoryStatusEx, copied field by field.
#include "snapshot/Probes.h"

// clang-format off
#include <windows.h>
// clang-format on

#include <cstring>

namespace quorvane {

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
