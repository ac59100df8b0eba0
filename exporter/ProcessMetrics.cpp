#include "ProcessMetrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace quorvane::exporter {

namespace {

using prometheus::MetricFamily;
using prometheus::MetricType;

void add(std::vector<MetricFamily>& out, const char* name, const char* help, double value,
         MetricType type = MetricType::Gauge) {
    prometheus::ClientMetric metric;
    (type == MetricType::Counter ? metric.counter.value : metric.gauge.value) = value;
    out.push_back(MetricFamily{name, help, type, {metric}});
}

// The boot time from /proc/stat, to turn the start time in ticks since boot into Unix time.
double bootTime() {
    std::ifstream stat("/proc/stat");
    std::string line;
    while (std::getline(stat, line)) {
        if (line.rfind("btime ", 0) == 0) {
            return std::stod(line.substr(6));
        }
    }
    return 0;
}

double openDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return 0;
    }
    double count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

}  // namespace

std::vector<MetricFamily> processFamilies() {
    std::vector<MetricFamily> out;
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    // The command name is in parentheses and may hold spaces: fields are counted after it.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return out;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::vector<std::string> field;  // field[0] is the state, the third field of the line
    for (std::string value; fields >> value;) {
        field.push_back(value);
    }
    if (field.size() < 22) {
        return out;
    }
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
    // Fields 14 and 15 (utime, stime), 20 (threads), 22 (starttime), 23 (vsize), 24 (rss).
    add(out, "process_cpu_seconds_total", "Total user and system CPU time spent in seconds.",
        (std::stod(field[11]) + std::stod(field[12])) / ticks, MetricType::Counter);
    add(out, "process_resident_memory_bytes", "Resident memory size in bytes.",
        std::stod(field[21]) * page);
    add(out, "process_virtual_memory_bytes", "Virtual memory size in bytes.", std::stod(field[20]));
    add(out, "process_start_time_seconds", "Start time of the process since unix epoch in seconds.",
        bootTime() + std::stod(field[19]) / ticks);
    add(out, "process_threads", "Number of OS threads in the process.", std::stod(field[17]));
    add(out, "process_open_fds", "Number of open file descriptors.", openDescriptors());
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        add(out, "process_max_fds", "Maximum number of open file descriptors.",
            static_cast<double>(limit.rlim_cur));
    }
    return out;
}

}  // namespace quorvane::exporter
