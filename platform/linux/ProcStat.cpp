#include "ProcStat.h"

#include <unistd.h>

#include "SystemFiles.h"
#include "snapshot/TextScan.h"

namespace quorvane {

ProcStat parseProcStat(const std::string& text) {
    ProcStat stat;
    forEachLine(text, [&stat](std::string_view line) {
        std::size_t position = 0;
        const std::string_view key = nextWord(line, position);
        if (key == "btime") {
            std::uint64_t seconds = 0;
            if (parseDecimal(nextWord(line, position), seconds)) {
                stat.bootTime = seconds;
            }
            return;
        }
        if (key.substr(0, 3) != "cpu" ||
            key.find_first_not_of("0123456789", 3) != std::string_view::npos) {
            return;
        }
        // user nice system idle iowait irq softirq steal; later kernels append guest time (already
        // part of user and nice), older ones stop after idle.
        std::uint64_t values[8] = {};
        int count = 0;
        while (count < 8) {
            const std::string_view word = nextWord(line, position);
            if (word.empty()) {
                break;
            }
            if (!parseDecimal(word, values[count])) {
                return;
            }
            ++count;
        }
        if (count < 4) {
            return;
        }
        CpuTimesLine times;
        times.name = std::string(key);
        times.user = values[0];
        times.nice = values[1];
        times.system = values[2];
        times.idle = values[3];
        times.iowait = values[4];
        times.irq = values[5];
        times.softirq = values[6];
        times.steal = values[7];
        if (key == "cpu") {
            stat.total = times;
        } else {
            stat.processors.push_back(times);
        }
    });
    return stat;
}

ProcStatReader::ProcStatReader(std::string root, OpenProcFiles* open)
    : root_(std::move(root)), open_(open) {}

std::optional<ProcStat> ProcStatReader::read() const {
    const std::optional<std::string> text = SystemFiles(root_, open_).readOften("/proc/stat");
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

}  // namespace quorvane
