#include "ProcStat.h"

#include <time.h>
#include <unistd.h>

#include <sstream>

#include "SystemFiles.h"

namespace quorvane::linuxsource {

namespace {

bool parseCounter(const std::string& word, std::uint64_t& value) {
    if (word.empty() || word.size() > 19 ||
        word.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::stoull(word);
    return true;
}

}  // namespace

ProcStat parseProcStat(const std::string& text) {
    ProcStat stat;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "btime") {
            std::string word;
            std::uint64_t seconds = 0;
            if (fields >> word && parseCounter(word, seconds)) {
                stat.bootTime = seconds;
            }
            continue;
        }
        if (key.rfind("cpu", 0) != 0 ||
            key.find_first_not_of("0123456789", 3) != std::string::npos) {
            continue;
        }
        // user nice system idle iowait irq softirq; later kernels append steal and guest time,
        // older ones stop after idle.
        std::uint64_t values[7] = {};
        int count = 0;
        std::string word;
        bool valid = true;
        while (count < 7 && fields >> word) {
            if (!parseCounter(word, values[count])) {
                valid = false;
                break;
            }
            ++count;
        }
        if (!valid || count < 4) {
            continue;
        }
        CpuTimesLine times;
        times.name = key;
        times.user = values[0];
        times.nice = values[1];
        times.system = values[2];
        times.idle = values[3];
        times.iowait = values[4];
        times.irq = values[5];
        times.softirq = values[6];
        if (key == "cpu") {
            stat.total = times;
        } else {
            stat.processors.push_back(times);
        }
    }
    return stat;
}

ProcStatReader::ProcStatReader(std::string root) : root_(std::move(root)) {}

std::optional<ProcStat> ProcStatReader::read() const {
    const std::optional<std::string> text = SystemFiles(root_).readText("/proc/stat");
    if (!text) {
        return std::nullopt;
    }
    return parseProcStat(*text);
}

std::uint64_t systemTicksPerSecond() {
    const long ticks = sysconf(_SC_CLK_TCK);
    return ticks > 0 ? static_cast<std::uint64_t>(ticks) : 100;
}

std::uint64_t ticksTo100ns(std::uint64_t ticks, std::uint64_t ticksPerSecond) {
    constexpr std::uint64_t kUnitsPerSecond = 10000000;
    if (ticksPerSecond == 0) {
        return 0;
    }
    // Whole seconds first, so the product cannot leave 64 bits before the counters would.
    return (ticks / ticksPerSecond) * kUnitsPerSecond +
           (ticks % ticksPerSecond) * kUnitsPerSecond / ticksPerSecond;
}

std::uint64_t monotonicClock100ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 10000000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 100u;
}

}  // namespace quorvane::linuxsource
