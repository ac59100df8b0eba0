// The Linux stand-in for WMI: answers the class enumerations and WQL queries the probes send
// with instances built from /proc, /sys and statvfs, whose properties have WMI's meanings and
// value forms (strings; 32-bit integers; 64-bit integers as decimal text; CIM datetime text).
// What the machine does not expose is a null property.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ProcStat.h"
#include "platform/windows/WmiConnection.h"

namespace quorvane::linuxsource {

// One instance: its properties in the class's order. A name it does not have fails to read.
struct Instance {
    std::vector<std::pair<std::u16string, WmiValue>> properties;
    const WmiValue* find(const std::u16string& name) const;
};

class LinuxInstanceSource : public WmiConnection {
  public:
    // `root` is the system tree to read ("/" for the machine itself). The clock stamps the
    // processor counters; `ticksPerSecond` is the unit of /proc/stat (USER_HZ).
    explicit LinuxInstanceSource(std::string root, MonotonicClock clock = monotonicClock100ns,
                                 std::uint64_t ticksPerSecond = systemTicksPerSecond());

    // Null for a class this source does not have.
    std::unique_ptr<WmiEnumerator> createInstanceEnum(const char16_t* className) override;
    // Null for a text outside the supported WQL, an unknown class or property.
    std::unique_ptr<WmiEnumerator> execQuery(const char16_t* wqlText) override;

    static std::uint64_t systemTicksPerSecond();

  private:
    struct ClassDefinition;
    static const ClassDefinition* findClass(const std::u16string& name);

    // The instances of one class; nothing when the files behind it cannot be read, which
    // fails the enumeration or query as a failing WMI provider would.
    using Instances = std::optional<std::vector<Instance>>;
    Instances biosInstances() const;
    Instances computerSystemInstances() const;
    Instances processorInstances() const;
    Instances operatingSystemInstances() const;
    Instances logicalDiskInstances() const;
    Instances processorCounterInstances() const;

    std::string root_;
    MonotonicClock clock_;
    std::uint64_t ticksPerSecond_;
};

}  // namespace quorvane::linuxsource
