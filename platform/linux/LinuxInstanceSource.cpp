#include "LinuxInstanceSource.h"

#include <time.h>
#include <unistd.h>

#include <optional>

#include "CimDateTime.h"
#include "CpuInfo.h"
#include "HostIdentity.h"
#include "MountInfo.h"
#include "WqlQuery.h"
#include "snapshot/TextField.h"

namespace quorvane::linuxsource {

namespace {

constexpr std::int32_t kFixedDisk = 3;

WmiValue textValue(const std::string& utf8) {
    WmiValue value;
    value.kind = WmiValue::Kind::Text;
    value.text = utf8ToUtf16(utf8);
    return value;
}

WmiValue integerValue(std::uint32_t number) {
    WmiValue value;
    value.kind = WmiValue::Kind::Integer;
    // A VARIANT's VT_I4 carries a uint32 property as its bit pattern.
    value.integer = static_cast<std::int32_t>(number);
    return value;
}

// Builds one instance with every property of the class null until it is given a value.
class InstanceBuilder {
  public:
    explicit InstanceBuilder(const std::vector<const char16_t*>& schema) {
        for (const char16_t* name : schema) {
            WmiValue null;
            null.kind = WmiValue::Kind::Null;
            instance_.properties.emplace_back(name, null);
        }
    }

    void text(const char16_t* name, const std::optional<std::string>& value) {
        if (value) {
            set(name, textValue(*value));
        }
    }
    void integer(const char16_t* name, const std::optional<std::uint32_t>& value) {
        if (value) {
            set(name, integerValue(*value));
        }
    }
    // 64-bit integers travel as decimal text, as WMI delivers them.
    void uint64(const char16_t* name, const std::optional<std::uint64_t>& value) {
        if (value) {
            set(name, textValue(std::to_string(*value)));
        }
    }

    Instance take() { return std::move(instance_); }

  private:
    void set(const char16_t* name, WmiValue value) {
        for (auto& property : instance_.properties) {
            if (property.first == name) {
                property.second = std::move(value);
                return;
            }
        }
    }

    Instance instance_;
};

class SourceObject : public WmiObject {
  public:
    explicit SourceObject(Instance instance) : instance_(std::move(instance)) {}

    WmiValue get(const char16_t* propertyName) override {
        const WmiValue* value = instance_.find(propertyName);
        return value ? *value : WmiValue{};
    }

  private:
    Instance instance_;
};

class SourceEnumerator : public WmiEnumerator {
  public:
    explicit SourceEnumerator(std::vector<Instance> instances) : instances_(std::move(instances)) {}

    std::unique_ptr<WmiObject> next() override {
        if (position_ >= instances_.size()) {
            return nullptr;
        }
        return std::make_unique<SourceObject>(std::move(instances_[position_++]));
    }

    // The instances are all at hand: a walk only ends at the end.
    bool reachedEnd() const override { return position_ >= instances_.size(); }

  private:
    std::vector<Instance> instances_;
    std::size_t position_ = 0;
};

std::optional<std::string> nowAsCimDateTime() {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return std::nullopt;
    }
    return localCimDateTime(now.tv_sec, now.tv_nsec / 1000);
}

}  // namespace

const WmiValue* Instance::find(const std::u16string& name) const {
    for (const auto& property : properties) {
        if (equalsIgnoringCase(property.first, name)) {
            return &property.second;
        }
    }
    return nullptr;
}

struct LinuxInstanceSource::ClassDefinition {
    const char16_t* name;
    std::vector<const char16_t*> schema;
    Instances (LinuxInstanceSource::*build)() const;
};

namespace {

const std::vector<const char16_t*> kBiosSchema = {u"Manufacturer", u"Name", u"SerialNumber",
                                                  u"SMBIOSBIOSVersion", u"Version"};
const std::vector<const char16_t*> kComputerSystemSchema = {u"Domain", u"Manufacturer", u"Model",
                                                            u"Name", u"PrimaryOwnerName"};
const std::vector<const char16_t*> kProcessorSchema = {
    u"DeviceID", u"Caption",       u"Manufacturer",  u"Name",
    u"Version",  u"MaxClockSpeed", u"NumberOfCores", u"NumberOfLogicalProcessors"};
const std::vector<const char16_t*> kOperatingSystemSchema = {u"Version", u"LastBootUpTime",
                                                             u"LocalDateTime"};
const std::vector<const char16_t*> kLogicalDiskSchema = {
    u"DeviceID", u"DriveType", u"Size", u"FreeSpace", u"VolumeName", u"FileSystem"};
const std::vector<const char16_t*> kProcessorCounterSchema = {
    u"Name", u"PercentPrivilegedTime", u"PercentUserTime", u"TimeStamp_Sys100NS"};

bool inSchema(const std::vector<const char16_t*>& schema, const std::u16string& name) {
    for (const char16_t* property : schema) {
        if (equalsIgnoringCase(property, name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

const LinuxInstanceSource::ClassDefinition* LinuxInstanceSource::findClass(
    const std::u16string& name) {
    static const ClassDefinition kClasses[] = {
        {u"Win32_BIOS", kBiosSchema, &LinuxInstanceSource::biosInstances},
        {u"Win32_ComputerSystem", kComputerSystemSchema,
         &LinuxInstanceSource::computerSystemInstances},
        {u"Win32_Processor", kProcessorSchema, &LinuxInstanceSource::processorInstances},
        {u"Win32_OperatingSystem", kOperatingSystemSchema,
         &LinuxInstanceSource::operatingSystemInstances},
        {u"Win32_LogicalDisk", kLogicalDiskSchema, &LinuxInstanceSource::logicalDiskInstances},
        {u"Win32_PerfRawData_PerfOS_Processor", kProcessorCounterSchema,
         &LinuxInstanceSource::processorCounterInstances},
    };
    for (const ClassDefinition& definition : kClasses) {
        if (equalsIgnoringCase(definition.name, name)) {
            return &definition;
        }
    }
    return nullptr;
}

LinuxInstanceSource::LinuxInstanceSource(std::string root, MonotonicClock clock,
                                         std::uint64_t ticksPerSecond)
    : root_(std::move(root)), clock_(std::move(clock)), ticksPerSecond_(ticksPerSecond) {}

std::uint64_t LinuxInstanceSource::systemTicksPerSecond() {
    const long ticks = sysconf(_SC_CLK_TCK);
    return ticks > 0 ? static_cast<std::uint64_t>(ticks) : 100;
}

std::unique_ptr<WmiEnumerator> LinuxInstanceSource::createInstanceEnum(const char16_t* className) {
    const ClassDefinition* definition = findClass(className);
    if (!definition) {
        return nullptr;
    }
    Instances instances = (this->*definition->build)();
    if (!instances) {
        return nullptr;
    }
    return std::make_unique<SourceEnumerator>(std::move(*instances));
}

std::unique_ptr<WmiEnumerator> LinuxInstanceSource::execQuery(const char16_t* wqlText) {
    const std::optional<WqlQuery> query = parseWqlQuery(wqlText);
    if (!query) {
        return nullptr;
    }
    const ClassDefinition* definition = findClass(query->className);
    if (!definition) {
        return nullptr;
    }
    for (const std::u16string& property : query->properties) {
        if (!inSchema(definition->schema, property)) {
            return nullptr;
        }
    }
    if (query->condition && !inSchema(definition->schema, query->condition->property)) {
        return nullptr;
    }
    Instances instances = (this->*definition->build)();
    if (!instances) {
        return nullptr;
    }
    std::vector<Instance> selected;
    for (Instance& instance : *instances) {
        if (query->condition) {
            const WmiValue* value = instance.find(query->condition->property);
            if (!value || !conditionHolds(*query->condition, *value)) {
                continue;
            }
        }
        if (query->properties.empty()) {
            selected.push_back(std::move(instance));
            continue;
        }
        // A select list delivers only the properties it names.
        Instance projected;
        for (auto& property : instance.properties) {
            for (const std::u16string& wanted : query->properties) {
                if (equalsIgnoringCase(wanted, property.first)) {
                    projected.properties.push_back(std::move(property));
                    break;
                }
            }
        }
        selected.push_back(std::move(projected));
    }
    return std::make_unique<SourceEnumerator>(std::move(selected));
}

LinuxInstanceSource::Instances LinuxInstanceSource::biosInstances() const {
    const DmiInfo dmi = DmiReader(root_).read();
    InstanceBuilder bios(kBiosSchema);
    bios.text(u"Manufacturer", dmi.biosVendor);
    bios.text(u"Name", dmi.biosVersion);
    bios.text(u"SerialNumber", dmi.productSerial);
    bios.text(u"SMBIOSBIOSVersion", dmi.biosVersion);
    if (dmi.biosVersion && dmi.biosDate) {
        bios.text(u"Version", *dmi.biosVersion + " " + *dmi.biosDate);
    } else {
        bios.text(u"Version", dmi.biosVersion ? dmi.biosVersion : dmi.biosDate);
    }
    std::vector<Instance> instances;
    instances.push_back(bios.take());
    return instances;
}

LinuxInstanceSource::Instances LinuxInstanceSource::computerSystemInstances() const {
    const DmiInfo dmi = DmiReader(root_).read();
    const HostNames names = HostNameReader(root_).read();
    InstanceBuilder computer(kComputerSystemSchema);
    computer.text(u"Domain", names.domain);
    computer.text(u"Manufacturer", dmi.systemVendor);
    computer.text(u"Model", dmi.productName);
    computer.text(u"Name", names.name);
    std::vector<Instance> instances;
    instances.push_back(computer.take());
    return instances;
}

LinuxInstanceSource::Instances LinuxInstanceSource::processorInstances() const {
    const auto descriptions = ProcessorReader(root_).read();
    if (!descriptions) {
        return std::nullopt;
    }
    std::vector<Instance> instances;
    int number = 0;
    for (const ProcessorDescription& description : *descriptions) {
        const ProcessorPackage& package = description.package;
        InstanceBuilder processor(kProcessorSchema);
        processor.text(u"DeviceID", "CPU" + std::to_string(number++));
        processor.text(u"Caption", package.caption);
        processor.text(u"Manufacturer", package.manufacturer);
        processor.text(u"Name", package.name);
        processor.integer(u"MaxClockSpeed", description.maxClockSpeedMHz);
        processor.integer(u"NumberOfCores", package.cores);
        processor.integer(u"NumberOfLogicalProcessors", package.logicalProcessors);
        instances.push_back(processor.take());
    }
    return instances;
}

LinuxInstanceSource::Instances LinuxInstanceSource::operatingSystemInstances() const {
    const OperatingSystemFacts facts = OperatingSystemReader(root_).read();
    InstanceBuilder system(kOperatingSystemSchema);
    system.text(u"Version", facts.kernelRelease);
    if (facts.bootTime && *facts.bootTime <= static_cast<std::uint64_t>(INT64_MAX)) {
        system.text(u"LastBootUpTime",
                    localCimDateTime(static_cast<std::int64_t>(*facts.bootTime), 0));
    }
    system.text(u"LocalDateTime", nowAsCimDateTime());
    std::vector<Instance> instances;
    instances.push_back(system.take());
    return instances;
}

LinuxInstanceSource::Instances LinuxInstanceSource::logicalDiskInstances() const {
    const auto disks = FixedDiskReader(root_).read();
    if (!disks) {
        return std::nullopt;
    }
    std::vector<Instance> instances;
    for (const FixedDisk& fixed : *disks) {
        InstanceBuilder disk(kLogicalDiskSchema);
        disk.text(u"DeviceID", fixed.mountPoint);
        disk.integer(u"DriveType", kFixedDisk);
        disk.uint64(u"Size", fixed.size);
        disk.uint64(u"FreeSpace", fixed.freeSpace);
        disk.text(u"VolumeName", fixed.label);
        disk.text(u"FileSystem", fixed.fileSystemType);
        instances.push_back(disk.take());
    }
    return instances;
}

LinuxInstanceSource::Instances LinuxInstanceSource::processorCounterInstances() const {
    const std::optional<ProcStat> stat = ProcStatReader(root_).read();
    if (!stat || !stat->total) {
        return std::nullopt;
    }
    std::vector<Instance> instances;
    const std::uint64_t stamp = clock_();
    auto counters = [&](const std::string& label, const CpuTimesLine& times,
                        std::uint64_t processors) {
        InstanceBuilder counter(kProcessorCounterSchema);
        counter.text(u"Name", label);
        // Privileged time is system time with the time spent serving interrupts; user time
        // includes niced processes. The total is an average over the online processors, as
        // the "_Total" instance of Windows is.
        counter.uint64(
            u"PercentPrivilegedTime",
            ticksTo100ns(times.system + times.irq + times.softirq, ticksPerSecond_) / processors);
        counter.uint64(u"PercentUserTime",
                       ticksTo100ns(times.user + times.nice, ticksPerSecond_) / processors);
        counter.uint64(u"TimeStamp_Sys100NS", stamp);
        instances.push_back(counter.take());
    };
    for (const CpuTimesLine& processor : stat->processors) {
        counters(processor.name.substr(3), processor, 1);
    }
    const std::uint64_t online = stat->processors.empty() ? 1 : stat->processors.size();
    counters("_Total", *stat->total, online);
    return instances;
}

}  // namespace quorvane::linuxsource
