#include "Translation.h"

#include <algorithm>
#include <cmath>

#include "Report.h"

namespace quorvane::exporter {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

const char* const kRangeCheckedFields[4] = {"cpu_load_sample", "memory", "uptime", "volume"};

namespace {

using Labels = std::vector<ClientMetric::Label>;

MetricFamily& addFamily(std::vector<MetricFamily>& families, const char* name, const char* help,
                        MetricType type = MetricType::Gauge) {
    families.push_back(MetricFamily{name, help, type, {}});
    return families.back();
}

void addSample(MetricFamily& family, double value, Labels labels = {}) {
    ClientMetric metric;
    metric.label = std::move(labels);
    if (family.type == MetricType::Counter) {
        metric.counter.value = value;
    } else {
        metric.gauge.value = value;
    }
    family.metric.push_back(std::move(metric));
}

void addGauge(std::vector<MetricFamily>& families, const char* name, const char* help,
              double value) {
    addSample(addFamily(families, name, help), value);
}

// A percentage of the report as a ratio, if it is one: 0 to 100.
bool percentInRange(std::int64_t percent) {
    return percent >= 0 && percent <= 100;
}

void translateIdentity(std::vector<MetricFamily>& out, const plugin::Inventory& inventory) {
    addSample(addFamily(out, "quorvane_agent_info", "The agent's version and edition; always 1."),
              1, {{"version", inventory.agentVersion}, {"edition", inventory.agentEdition}});
    addSample(addFamily(out, "quorvane_os_info",
                        "The operating system the agent reports (name, version, service pack, "
                        "type); always 1."),
              1,
              {{"name", inventory.osName},
               {"version", inventory.osVersion},
               {"service_pack", inventory.osServicePack},
               {"type", inventory.osType}});
    addSample(addFamily(out, "quorvane_computer_info",
                        "The computer system: name, domain, manufacturer, model, primary owner; "
                        "always 1."),
              1,
              {{"name", inventory.computerName},
               {"domain", inventory.computerDomain},
               {"manufacturer", inventory.computerManufacturer},
               {"model", inventory.computerModel},
               {"primary_owner_name", inventory.owner}});
    addSample(addFamily(out, "quorvane_bios_info",
                        "The BIOS: name, manufacturer, version, SMBIOS version, serial number; "
                        "always 1."),
              1,
              {{"name", inventory.biosName},
               {"manufacturer", inventory.biosManufacturer},
               {"version", inventory.biosVersion},
               {"smbios_version", inventory.biosSmbiosVersion},
               {"serial_number", inventory.biosSerialNumber}});
}

void translateProcessors(std::vector<MetricFamily>& out,
                         const std::vector<plugin::Processor>& processors) {
    MetricFamily& info = addFamily(out, "quorvane_processor_info",
                                   "Each processor's name, manufacturer and caption; always 1.");
    MetricFamily& cores =
        addFamily(out, "quorvane_processor_cores", "Each processor's number of cores.");
    MetricFamily& logical = addFamily(out, "quorvane_processor_logical_processors",
                                      "Each processor's number of logical processors.");
    MetricFamily& clock = addFamily(out, "quorvane_processor_max_clock_hertz",
                                    "Each processor's maximum clock speed.");
    for (const plugin::Processor& processor : processors) {
        const Labels id{{"device_id", processor.deviceId}};
        addSample(info, 1,
                  {{"device_id", processor.deviceId},
                   {"name", processor.name},
                   {"manufacturer", processor.manufacturer},
                   {"caption", processor.caption}});
        addSample(cores, processor.cores, id);
        addSample(logical, processor.logicalProcessors, id);
        addSample(clock, static_cast<double>(processor.maxClockSpeed) * 1e6, id);
    }
}

// The latest sample, and the mean of the samples actually taken within the history's 15
// minutes: the last "uc" of them (all 180 once the history is full). The report's own average
// counts never-filled slots as 0, so it is not used.
void translateCpu(std::vector<MetricFamily>& out, const plugin::CpuFigures& cpu,
                  unsigned& dropped) {
    const std::size_t taken = std::min<std::size_t>(cpu.refreshes, cpu.history.size());
    std::int64_t sum = 0;
    std::size_t valid = 0;
    for (std::size_t i = cpu.history.size() - taken; i < cpu.history.size(); ++i) {
        if (percentInRange(cpu.history[i])) {
            sum += cpu.history[i];
            ++valid;
        } else {
            ++dropped;
        }
    }
    if (taken > 0 && percentInRange(cpu.history.back())) {
        addGauge(out, "quorvane_cpu_load_ratio",
                 "Processor load of the latest 5-second sample, 0 to 1.",
                 static_cast<double>(cpu.history.back()) / 100.0);
    }
    if (valid > 0) {
        addGauge(out, "quorvane_cpu_load_15m_ratio",
                 "Mean processor load over the samples taken in the last 15 minutes, 0 to 1.",
                 static_cast<double>(sum) / static_cast<double>(valid) / 100.0);
    }
    addGauge(out, "quorvane_cpu_load_15m_samples",
             "How many samples quorvane_cpu_load_15m_ratio is the mean of (180 when the history "
             "is full).",
             static_cast<double>(valid));
    addSample(addFamily(out, "quorvane_refreshes_total",
                        "Refreshes of the agent's picture since it started, one every 5 s.",
                        MetricType::Counter),
              cpu.refreshes);
}

// A figure the reader marks as out of its range (a load above 100, more available than total)
// is left out and counted.
template <typename Number>
void addFigure(std::vector<MetricFamily>& out, const char* name, const char* help,
               const plugin::Figure<Number>& figure, double scale, unsigned& dropped) {
    if (figure.inRange) {
        addGauge(out, name, help, static_cast<double>(figure.value) * scale);
    } else {
        ++dropped;
    }
}

void translateMemory(std::vector<MetricFamily>& out, const plugin::MemoryFigures& memory,
                     unsigned& dropped) {
    addFigure(out, "quorvane_memory_load_ratio", "Memory load, 0 to 1.", memory.load, 0.01,
              dropped);
    addFigure(out, "quorvane_memory_physical_total_bytes", "Physical memory.", memory.total, 1,
              dropped);
    addFigure(out, "quorvane_memory_physical_available_bytes", "Physical memory available.",
              memory.available, 1, dropped);
    addFigure(out, "quorvane_memory_page_file_total_bytes",
              "Commit limit: physical memory and page files.", memory.totalPageFile, 1, dropped);
    addFigure(out, "quorvane_memory_page_file_available_bytes", "Commit still available.",
              memory.availablePageFile, 1, dropped);
    addFigure(out, "quorvane_memory_virtual_total_bytes", "The agent's user address space.",
              memory.totalVirtual, 1, dropped);
    addFigure(out, "quorvane_memory_virtual_available_bytes",
              "The agent's user address space not in use.", memory.availableVirtual, 1, dropped);
}

void translateVolumes(std::vector<MetricFamily>& out, const std::vector<plugin::Disk>& disks,
                      unsigned& dropped) {
    MetricFamily& info = addFamily(out, "quorvane_volume_info",
                                   "Each fixed disk's file system and label; always 1.");
    MetricFamily& size = addFamily(out, "quorvane_volume_size_bytes", "Each fixed disk's size.");
    MetricFamily& free =
        addFamily(out, "quorvane_volume_free_bytes", "Each fixed disk's space available.");
    for (const plugin::Disk& disk : disks) {
        addSample(
            info, 1,
            {{"volume", disk.name}, {"file_system", disk.fileSystem}, {"label", disk.volume}});
        for (auto [family, figure] : {std::pair{&size, &disk.size}, {&free, &disk.available}}) {
            if (figure->inRange) {
                addSample(*family, static_cast<double>(figure->value), {{"volume", disk.name}});
            } else {
                ++dropped;
            }
        }
    }
}

// The uptime is 0 when the agent could not read it, and cannot exceed the time since 1970.
void translateUptime(std::vector<MetricFamily>& out, const plugin::UptimeFigures& uptime,
                     double scrapeTime, unsigned& dropped) {
    const double now = std::floor(scrapeTime);
    const double seconds = static_cast<double>(uptime.seconds.value);
    if (!uptime.seconds.inRange || uptime.seconds.value == 0 || seconds > now) {
        ++dropped;
        return;
    }
    addGauge(out, "quorvane_boot_time_seconds",
             "When the host last started (Unix time): the scrape time less the uptime.",
             now - seconds);
}

}  // namespace

Translation translateReport(const Poco::XML::Document& report, double scrapeTime) {
    Translation translation;
    for (const char* field : kRangeCheckedFields) {
        translation.dropped[field] = 0;
    }
    std::vector<MetricFamily>& out = translation.families;
    const plugin::Inventory inventory = plugin::readInventory(report);
    translateIdentity(out, inventory);
    translateUptime(out, plugin::readUptime(report), scrapeTime, translation.dropped["uptime"]);
    translateCpu(out, plugin::readCpu(report), translation.dropped["cpu_load_sample"]);
    translateMemory(out, plugin::readAllMemory(report), translation.dropped["memory"]);
    translateProcessors(out, inventory.processors);
    translateVolumes(out, plugin::readDisks(report), translation.dropped["volume"]);
    return translation;
}

std::vector<MetricFamily> probeFamilies(bool up, double durationSeconds,
                                        const std::map<std::string, unsigned>& dropped) {
    std::vector<MetricFamily> out;
    addGauge(out, "quorvane_up", "1 if the agent's report was read and understood, else 0.",
             up ? 1 : 0);
    addGauge(out, "quorvane_probe_duration_seconds",
             "How long the probe took: fetching, parsing and translating the report.",
             durationSeconds);
    if (up) {
        MetricFamily& family =
            addFamily(out, "quorvane_probe_dropped_values",
                      "Values of this report left out because they lie outside their range.");
        for (const auto& [field, count] : dropped) {
            addSample(family, count, {{"field", field}});
        }
    }
    return out;
}

}  // namespace quorvane::exporter
