#include "Checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <utility>

namespace quorvane::plugin {

namespace {

// A performance data label: quoted, a quote doubled; "=" ends a label and "|" the data, and a
// control character would break the line, so those become "_".
std::string label(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "''";
        } else if (c == '=' || c == '|' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            quoted += '_';
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string threshold(const std::optional<Range>& range) {
    return range ? range->text : std::string();
}

std::string perf(const std::string& name, const std::string& value, const char* unit,
                 const Thresholds& thresholds, const std::string& min, const std::string& max) {
    // An unknown value is a bare U, without the unit.
    return label(name) + "=" + value + (value == "U" ? "" : unit) + ";" +
           threshold(thresholds.warning) + ";" + threshold(thresholds.critical) + ";" + min + ";" +
           max;
}

// Two decimals at most, trailing zeros dropped: 24.1, 50, 0.02.
std::string decimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string result = text;
    while (result.back() == '0') {
        result.pop_back();
    }
    if (result.back() == '.') {
        result.pop_back();
    }
    return result;
}

// Bytes for people: 1 decimal in binary units.
std::string bytes(std::uint64_t value) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (value < 1024) {
        return std::to_string(value) + " B";
    }
    double scaled = static_cast<double>(value);
    std::size_t unit = 0;
    while (scaled >= 1024 && unit + 1 < std::size(units)) {
        scaled /= 1024;
        ++unit;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %s", scaled, units[unit]);
    return text;
}

// A figure's value for the performance data: U when it is out of range.
template <typename Number>
std::string figure(const Figure<Number>& number) {
    return number.inRange ? std::to_string(number.value) : "U";
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The order in which disk states decide: a disk that cannot be judged outranks a healthy one,
// never one that is known to be low.
int severity(State state) {
    switch (state) {
        case State::ok:
            return 0;
        case State::unknown:
            return 1;
        case State::warning:
            return 2;
        case State::critical:
            return 3;
    }
    return 1;
}

struct JudgedDisk {
    State state = State::ok;
    double freePercent = 0;
    std::string detail;
};

// "name value" pieces joined by commas, the empty values left out (a machine may not expose them).
std::string fields(std::initializer_list<std::pair<const char*, std::string>> pieces) {
    std::string text;
    for (const auto& [name, value] : pieces) {
        if (value.empty()) {
            continue;
        }
        text += (text.empty() ? "" : ", ") + std::string(name) + (*name ? " " : "") + value;
    }
    return text;
}

}  // namespace

CheckResult checkCpu(const CpuFigures& cpu, const Thresholds& thresholds) {
    CheckResult result;
    if (cpu.average.inRange) {
        result.state = evaluate(thresholds, cpu.average.value);
        result.summary = "15-minute average " + std::to_string(cpu.average.value) + "%";
    } else {
        result.state = State::unknown;
        result.summary = cpu.average.outOfRange() + ", not judged";
    }
    result.details.push_back(cpu.latest.inRange ? "latest 5-second sample " +
                                                      std::to_string(cpu.latest.value) + "%"
                                                : cpu.latest.outOfRange());
    // One sample per refresh: before the history is full, the slots not yet filled count as 0.
    if (cpu.refreshes < cpu.samples) {
        result.details.push_back("the agent has refreshed " + std::to_string(cpu.refreshes) +
                                 " times: at most " + std::to_string(cpu.refreshes) + " of the " +
                                 std::to_string(cpu.samples) +
                                 " samples averaged were taken, the others count as 0");
    } else {
        result.details.push_back("the average covers the last " + std::to_string(cpu.samples) +
                                 " samples");
    }
    if (cpu.samplesOutOfRange > 0) {
        result.details.push_back(std::to_string(cpu.samplesOutOfRange) + " of the " +
                                 std::to_string(cpu.samples) +
                                 (cpu.samplesOutOfRange == 1 ? " samples is" : " samples are") +
                                 " out of range (0 to 100): not measured");
    }
    result.perfdata.push_back(
        perf("cpu_average", figure(cpu.average), "%", thresholds, "0", "100"));
    result.perfdata.push_back(perf("cpu_latest", figure(cpu.latest), "%", {}, "0", "100"));
    return result;
}

CheckResult checkMemory(const MemoryFigures& memory, const Thresholds& thresholds) {
    CheckResult result;
    if (memory.load.inRange) {
        result.state = evaluate(thresholds, memory.load.value);
        result.summary = "memory load " + std::to_string(memory.load.value) + "%";
    } else {
        result.state = State::unknown;
        result.summary = memory.load.outOfRange() + ", not judged";
    }
    std::string inUse = "U";
    if (memory.available.inRange) {
        const std::uint64_t bytesInUse = memory.total.value - memory.available.value;
        inUse = std::to_string(bytesInUse);
        result.summary += ", " + bytes(bytesInUse) + " of " + bytes(memory.total.value) + " used";
    } else {
        result.details.push_back(memory.available.outOfRange());
    }
    result.perfdata.push_back(
        perf("memory_load", figure(memory.load), "%", thresholds, "0", "100"));
    result.perfdata.push_back(
        perf("memory_used", inUse, "B", {}, "0", memory.total.inRange ? memory.total.text : ""));
    result.perfdata.push_back(perf("memory_total", figure(memory.total), "B", {}, "0", ""));
    return result;
}

CheckResult checkStorage(const std::vector<Disk>& disks, const Thresholds& thresholds,
                         const DiskSelection& selection) {
    CheckResult result;
    std::vector<JudgedDisk> judged;
    for (const Disk& disk : disks) {
        if (contains(selection.exclude, disk.name) ||
            (!selection.include.empty() && !contains(selection.include, disk.name))) {
            continue;
        }
        JudgedDisk entry;
        std::string what = disk.name;
        if (!disk.volume.empty() || !disk.fileSystem.empty()) {
            what += " (" + disk.volume +
                    (disk.volume.empty() || disk.fileSystem.empty() ? "" : ", ") + disk.fileSystem +
                    ")";
        }
        if (!disk.size.inRange || !disk.available.inRange || disk.size.value == 0) {
            // The agent gives 0 when it could not read the disk's figures.
            entry.state = State::unknown;
            entry.detail = what + " " +
                           (!disk.size.inRange     ? disk.size.outOfRange()
                            : disk.size.value == 0 ? "size unknown (the report gives 0)"
                                                   : disk.available.outOfRange()) +
                           ", not judged";
            result.perfdata.push_back(perf(disk.name + "_free", "U", "%", thresholds, "0", "100"));
            result.perfdata.push_back(perf(disk.name + "_used", "U", "", {}, "0", ""));
        } else {
            const std::uint64_t size = disk.size.value, available = disk.available.value;
            // Floored, so that the figure shown is never above the one judged.
            const long double exact =
                static_cast<long double>(available) * 100.0L / static_cast<long double>(size);
            entry.freePercent = static_cast<double>(std::floor(exact * 100.0L) / 100.0L);
            entry.state = evaluate(thresholds, entry.freePercent);
            entry.detail = what + " " + decimal(entry.freePercent) + "% free (" + bytes(available) +
                           " of " + bytes(size) + ")";
            result.perfdata.push_back(
                perf(disk.name + "_free", decimal(entry.freePercent), "%", thresholds, "0", "100"));
            result.perfdata.push_back(perf(disk.name + "_used", std::to_string(size - available),
                                           "B", {}, "0", std::to_string(size)));
        }
        judged.push_back(std::move(entry));
    }
    for (const std::string& name : selection.include) {
        const bool present = std::any_of(disks.begin(), disks.end(),
                                         [&](const Disk& disk) { return disk.name == name; });
        if (!present && !contains(selection.exclude, name)) {
            JudgedDisk entry;
            entry.state = State::unknown;
            entry.detail = name + " not in the report";
            judged.push_back(std::move(entry));
        }
    }
    if (judged.empty()) {
        result.state = State::unknown;
        if (disks.empty()) {
            result.summary = "the report lists no fixed disk";
            return result;
        }
        result.summary = "no disk left to check:";
        for (const Disk& disk : disks) {
            result.summary +=
                (&disk == &disks.front() ? " " : ", ") + disk.name +
                (contains(selection.exclude, disk.name) ? " excluded" : " not included");
        }
        return result;
    }
    const JudgedDisk* worst = &judged.front();
    for (const JudgedDisk& entry : judged) {
        const int rank = severity(entry.state), worstRank = severity(worst->state);
        if (rank > worstRank || (rank == worstRank && entry.freePercent < worst->freePercent)) {
            worst = &entry;
        }
        result.details.push_back("[" + std::string(stateName(entry.state)) + "] " + entry.detail);
    }
    result.state = worst->state;
    result.summary = worst->detail;
    if (judged.size() > 1) {
        result.summary += ", the worst of " + std::to_string(judged.size()) + " disks";
    }
    return result;
}

CheckResult checkUptime(const UptimeFigures& uptime, const Thresholds& thresholds) {
    CheckResult result;
    if (!uptime.seconds.inRange) {
        result.state = State::unknown;
        result.summary = uptime.seconds.outOfRange() + ", not judged";
        result.perfdata.push_back(perf("uptime", "U", "", thresholds, "0", ""));
        return result;
    }
    const std::uint64_t seconds = uptime.seconds.value;
    result.state = evaluate(thresholds, static_cast<double>(seconds));
    const std::uint64_t days = seconds / 86400;
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02u:%02u:%02u", static_cast<unsigned>(seconds / 3600 % 24),
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
    result.summary = "up " +
                     (days > 0 ? std::to_string(days) + (days == 1 ? " day " : " days ") : "") +
                     clock + " (" + std::to_string(seconds) + " s)";
    if (!uptime.lastBoot.empty()) {
        result.summary += ", booted " + uptime.lastBoot;
    }
    result.perfdata.push_back(perf("uptime", std::to_string(seconds), "s", thresholds, "0", ""));
    return result;
}

CheckResult checkInventory(const Inventory& inventory) {
    CheckResult result;
    const std::string host = inventory.computerDomain.empty()
                                 ? inventory.computerName
                                 : inventory.computerName + "." + inventory.computerDomain;
    result.summary = host + ": " + inventory.osFullName + " " + inventory.osVersion + ", " +
                     std::to_string(inventory.processors.size()) +
                     (inventory.processors.size() == 1 ? " processor" : " processors");
    result.details.push_back("Operating system: " + inventory.osFullName + " (" +
                             fields({{"", inventory.osName},
                                     {"version", inventory.osVersion},
                                     {"", inventory.osServicePack},
                                     {"type", inventory.osType}}) +
                             ")");
    result.details.push_back("BIOS: " + fields({{"", inventory.biosName},
                                                {"by", inventory.biosManufacturer},
                                                {"version", inventory.biosVersion},
                                                {"SMBIOS", inventory.biosSmbiosVersion},
                                                {"serial number", inventory.biosSerialNumber}}));
    result.details.push_back("Computer: " + fields({{"", inventory.computerName},
                                                    {"domain", inventory.computerDomain},
                                                    {"", inventory.computerManufacturer},
                                                    {"model", inventory.computerModel},
                                                    {"owner", inventory.owner}}));
    for (const Processor& processor : inventory.processors) {
        result.details.push_back(
            "Processor " + processor.deviceId + ": " +
            fields({{"", processor.name}, {"", processor.manufacturer}, {"", processor.caption}}) +
            ", " + std::to_string(processor.cores) + " cores, " +
            std::to_string(processor.logicalProcessors) + " logical processors, " +
            std::to_string(processor.maxClockSpeed) + " MHz");
    }
    result.details.push_back("Agent: " + fields({{"", inventory.agentDescription},
                                                 {"edition", inventory.agentEdition}}));
    return result;
}

std::string formatOutput(const std::string& mode, const CheckResult& result) {
    const auto text = [](const std::string& raw) {
        std::string safe = raw;
        for (char& c : safe) {
            if (c == '|') {
                c = '/';
            } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                c = ' ';
            }
        }
        return safe;
    };
    std::string output = "QUORVANE " + (mode.empty() ? "" : mode + " ") + stateName(result.state) +
                         " - " + text(result.summary);
    for (std::size_t i = 0; i < result.perfdata.size(); ++i) {
        output += (i == 0 ? " | " : " ") + result.perfdata[i];
    }
    output += "\n";
    for (const std::string& line : result.details) {
        output += text(line) + "\n";
    }
    return output;
}

}  // namespace quorvane::plugin
