#include "ProcStat.h"

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
        // Only the sum over all processors; their own lines ("cpu0", ...) are not needed.
        if (key != "cpu") {
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
        times.user = values[0];
        times.nice = values[1];
        times.system = values[2];
        times.idle = values[3];
        times.iowait = values[4];
        times.irq = values[5];
        times.softirq = values[6];
        times.steal = values[7];
        stat.total = times;
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

}  // namespace quorvane
