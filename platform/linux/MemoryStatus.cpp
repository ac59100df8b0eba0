#include "MemoryStatus.h"

#include "SystemFiles.h"
#include "snapshot/TextScan.h"

namespace quorvane {

namespace {

// "123 kB" (or a bare number) in bytes.
std::optional<std::uint64_t> kilobytes(std::string_view value) {
    std::size_t position = 0;
    const std::string_view number = nextWord(value, position);
    const std::string_view unit = nextWord(value, position);
    std::uint64_t count = 0;
    if (!parseDecimal(number, count) || (unit != "kB" && !unit.empty()) ||
        count > UINT64_MAX / 1024) {
        return std::nullopt;
    }
    return unit.empty() ? count : count * 1024;
}

// The smallest power of two not below `value`: the size of the address space whose top holds
// the stack.
std::uint64_t addressSpaceAbove(std::uint64_t value) {
    std::uint64_t size = 1;
    while (size < value && size <= (UINT64_MAX >> 1)) {
        size <<= 1;
    }
    return size < value ? 0 : size;
}

}  // namespace

MemInfo parseMemInfo(std::string_view text) {
    MemInfo values;
    forEachLine(text, [&values](std::string_view line) {
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            return;
        }
        const std::string_view name = trimmedView(line.substr(0, colon));
        std::optional<std::uint64_t>* target = nullptr;
        if (name == "MemTotal") {
            target = &values.memTotal;
        } else if (name == "MemAvailable") {
            target = &values.memAvailable;
        } else if (name == "MemFree") {
            target = &values.memFree;
        } else if (name == "SwapTotal") {
            target = &values.swapTotal;
        } else if (name == "SwapFree") {
            target = &values.swapFree;
        }
        // The first well-formed line of a name counts.
        if (target != nullptr && !*target) {
            *target = kilobytes(line.substr(colon + 1));
        }
    });
    return values;
}

std::optional<std::uint64_t> parseStartStack(std::string_view stat) {
    // The command name (field 2) is in parentheses and may hold anything, spaces included.
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    std::size_t position = close + 1;
    std::string_view word;
    // Fields 3 to 28 follow the name.
    for (int field = 3; field <= 28; ++field) {
        word = nextWord(stat, position);
        if (word.empty()) {
            return std::nullopt;
        }
    }
    std::uint64_t value = 0;
    if (!parseDecimal(word, value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint64_t> parseVmSize(std::string_view status) {
    std::optional<std::uint64_t> size;
    bool found = false;
    forEachLine(status, [&](std::string_view line) {
        if (!found && line.substr(0, 7) == "VmSize:") {
            found = true;
            size = kilobytes(line.substr(7));
        }
    });
    return size;
}

MemoryInfo memoryStatusFrom(const MemInfo& memInfo, std::optional<std::uint64_t> startStack,
                            std::optional<std::uint64_t> vmSize) {
    MemoryInfo memory;
    const std::optional<std::uint64_t> total = memInfo.memTotal;
    if (!total || *total == 0) {
        return memory;
    }
    // Kernels before 3.14 have no MemAvailable; free memory is the closest they report.
    std::uint64_t available = memInfo.memAvailable.value_or(memInfo.memFree.value_or(0));
    if (available > *total) {
        available = *total;
    }
    const std::uint64_t swapTotal = memInfo.swapTotal.value_or(0);
    std::uint64_t swapFree = memInfo.swapFree.value_or(0);
    if (swapFree > swapTotal) {
        swapFree = swapTotal;
    }

    memory.ullTotalPhys = *total;
    memory.ullAvailPhys = available;
    // Percent of physical memory in use, truncated; (total - available) <= total keeps it in
    // 0..100, and dividing first cannot lose the percentage of a total below 2^64 / 100.
    const std::uint64_t used = *total - available;
    memory.dwMemoryLoad = static_cast<std::uint32_t>(
        *total <= UINT64_MAX / 100 ? used * 100 / *total : used / (*total / 100));
    // The commit limit Windows reports is physical memory plus the page file: here, swap.
    memory.ullTotalPageFile = *total + swapTotal;
    memory.ullAvailPageFile = available + swapFree;
    if (startStack && *startStack != 0) {
        memory.ullTotalVirtual = addressSpaceAbove(*startStack);
        if (vmSize && *vmSize <= memory.ullTotalVirtual) {
            memory.ullAvailVirtual = memory.ullTotalVirtual - *vmSize;
        }
    }
    // Always 0 on Windows as well.
    memory.ullAvailExtendedVirtual = 0;
    return memory;
}

MemoryStatusReader::MemoryStatusReader(std::string root, OpenProcFiles* open)
    : root_(std::move(root)), open_(open) {}

MemoryInfo MemoryStatusReader::read(std::optional<std::uint64_t>* startStack) const {
    const SystemFiles files(root_, open_);
    const std::optional<std::string> memInfo = files.readOften("/proc/meminfo");
    if (!memInfo) {
        return MemoryInfo{};
    }
    std::optional<std::uint64_t> stackStart = startStack ? *startStack : std::nullopt;
    if (!stackStart) {
        if (const std::optional<std::string> stat = files.readText("/proc/self/stat")) {
            stackStart = parseStartStack(*stat);
        }
        if (startStack) {
            *startStack = stackStart;
        }
    }
    const std::optional<std::string> status = files.readOften("/proc/self/status");
    return memoryStatusFrom(parseMemInfo(*memInfo), stackStart,
                            status ? parseVmSize(*status) : std::nullopt);
}

}  // namespace quorvane
