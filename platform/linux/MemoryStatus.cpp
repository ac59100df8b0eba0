#include "MemoryStatus.h"

#include <sstream>
#include <vector>

#include "SystemFiles.h"

namespace quorvane::linuxsource {

namespace {

std::optional<std::uint64_t> decimal(const std::string& word) {
    if (word.empty() || word.size() > 19 ||
        word.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(word);
}

std::optional<std::uint64_t> kilobytes(const std::string& value) {
    std::istringstream in(value);
    std::string number;
    std::string unit;
    in >> number >> unit;
    const std::optional<std::uint64_t> count = decimal(number);
    if (!count || (unit != "kB" && !unit.empty()) || *count > UINT64_MAX / 1024) {
        return std::nullopt;
    }
    return unit.empty() ? *count : *count * 1024;
}

std::optional<std::uint64_t> entry(const std::map<std::string, std::uint64_t>& memInfo,
                                   const char* name) {
    const auto found = memInfo.find(name);
    if (found == memInfo.end()) {
        return std::nullopt;
    }
    return found->second;
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

std::map<std::string, std::uint64_t> parseMemInfo(const std::string& text) {
    std::map<std::string, std::uint64_t> values;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        if (const auto bytes = kilobytes(line.substr(colon + 1))) {
            values.emplace(trimmed(line.substr(0, colon)), *bytes);
        }
    }
    return values;
}

std::optional<std::uint64_t> parseStartStack(const std::string& stat) {
    // The command name (field 2) is in parentheses and may hold anything, spaces included.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream in(stat.substr(close + 1));
    std::string word;
    // Fields 3 to 28 follow the name.
    for (int field = 3; field <= 28; ++field) {
        if (!(in >> word)) {
            return std::nullopt;
        }
    }
    return decimal(word);
}

std::optional<std::uint64_t> parseVmSize(const std::string& status) {
    std::istringstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmSize:", 0) == 0) {
            return kilobytes(line.substr(7));
        }
    }
    return std::nullopt;
}

MemoryInfo memoryStatusFrom(const std::map<std::string, std::uint64_t>& memInfo,
                            std::optional<std::uint64_t> startStack,
                            std::optional<std::uint64_t> vmSize) {
    MemoryInfo memory;
    const std::optional<std::uint64_t> total = entry(memInfo, "MemTotal");
    if (!total || *total == 0) {
        return memory;
    }
    // Kernels before 3.14 have no MemAvailable; free memory is the closest they report.
    std::uint64_t available =
        entry(memInfo, "MemAvailable").value_or(entry(memInfo, "MemFree").value_or(0));
    if (available > *total) {
        available = *total;
    }
    const std::uint64_t swapTotal = entry(memInfo, "SwapTotal").value_or(0);
    std::uint64_t swapFree = entry(memInfo, "SwapFree").value_or(0);
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

MemoryStatusReader::MemoryStatusReader(std::string root) : root_(std::move(root)) {}

MemoryInfo MemoryStatusReader::read() const {
    const SystemFiles files(root_);
    const std::optional<std::string> memInfo = files.readText("/proc/meminfo");
    if (!memInfo) {
        return MemoryInfo{};
    }
    const std::optional<std::string> stat = files.readText("/proc/self/stat");
    const std::optional<std::string> status = files.readText("/proc/self/status");
    return memoryStatusFrom(parseMemInfo(*memInfo), stat ? parseStartStack(*stat) : std::nullopt,
                            status ? parseVmSize(*status) : std::nullopt);
}

}  // namespace quorvane::linuxsource
