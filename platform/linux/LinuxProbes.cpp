// The probes on Linux: each reads its files through the session's tree and fills the snapshot's
// records directly. What the machine does not expose leaves a single-instance field as it was
// and a processor's or disk's field empty or 0, as a null WMI property does on Windows.
#include "snapshot/Probes.h"

#include "CpuInfo.h"
#include "HostIdentity.h"
#include "LinuxSession.h"
#include "MemoryStatus.h"
#include "MountInfo.h"
#include "SystemFiles.h"
#include "snapshot/ProbeResults.h"

namespace quorvane {

namespace {

constexpr std::uint32_t kFixedDisk = 3;

// A value the machine does not expose keeps the field as it was.
void setText(TextField& field, const std::optional<std::string>& value) {
    if (value) {
        setTextFieldFromUtf8(field, *value);
    }
}

// "CPU0", "CPU1", ...: what Windows names its processors.
void setDeviceId(TextField& field, int number) {
    setTextFieldFromUtf8(field, "CPU" + std::to_string(number));
}

}  // namespace

int queryBios(BiosInfo& bios, Session& session) {
    const SessionState* state = session.state();
    if (state == nullptr) {
        return -1;
    }
    const DmiInfo dmi = DmiReader(state->root, state->credentials).read();
    setText(bios.smbiosBiosVersion, dmi.biosVersion);
    setText(bios.manufacturer, dmi.biosVendor);
    setText(bios.name, dmi.biosVersion);
    setText(bios.serialNumber, dmi.productSerial);
    // Windows' Version joins the firmware's version and date.
    if (dmi.biosVersion && dmi.biosDate) {
        setText(bios.version, *dmi.biosVersion + " " + *dmi.biosDate);
    } else {
        setText(bios.version, dmi.biosVersion ? dmi.biosVersion : dmi.biosDate);
    }
    return 1;
}

int queryComputerSystem(ComputerSystemInfo& computerSystem, Session& session) {
    const SessionState* state = session.state();
    if (state == nullptr) {
        return -1;
    }
    const DmiInfo dmi = DmiReader(state->root).read();
    const HostNames names = HostNameReader(state->root).read();
    setText(computerSystem.domain, names.domain);
    setText(computerSystem.manufacturer, dmi.systemVendor);
    setText(computerSystem.model, dmi.productName);
    setText(computerSystem.name, names.name);
    // There is no owner's name on Linux: primaryOwnerName stays as it is.
    return 1;
}

int queryOperatingSystem(OperatingSystemInfo& operatingSystem, Session& session) {
    SessionState* state = session.state();
    if (state == nullptr) {
        return -1;
    }
    // The kernel's release cannot change while it runs; the boot time can, when the clock is set.
    if (!state->kernelRelease) {
        state->kernelRelease = SystemFiles(state->root).readValue("/proc/sys/kernel/osrelease");
    }
    setText(operatingSystem.version, state->kernelRelease);
    // The boot time comes from the processor times' latest read of /proc/stat (the last refresh's,
    // or this one's baseline), so that a refresh reads the file once. It only moves when the
    // clock is set, and then shows one refresh later.
    if (!state->latestProcStat) {
        state->latestProcStat = ProcStatReader(state->root, &state->procFiles).read();
    }
    if (const std::optional<ProcStat>& stat = state->latestProcStat) {
        if (stat->bootTime && *stat->bootTime <= static_cast<std::uint64_t>(INT64_MAX)) {
            setText(operatingSystem.lastBootUpTime,
                    localCimDateTime(static_cast<std::int64_t>(*stat->bootTime), 0));
        }
    }
    if (const std::optional<WallClockTime> now = state->wallClock()) {
        setText(operatingSystem.localDateTime, localCimDateTime(now->seconds, now->microseconds));
    }
    // Read here, with a deadline, so that no report ever waits for the file.
    setReportedOsNames(state->osRelease.refresh(state->root));
    return 1;
}

int queryProcessors(std::vector<ProcessorInfo>& processors, Session& session) {
    const SessionState* state = session.state();
    if (state == nullptr) {
        return -1;
    }
    const auto descriptions = ProcessorReader(state->root).read();
    if (!descriptions) {
        return -1;
    }
    std::size_t next = 0;
    return storeProcessors(processors, [&](ProcessorInfo& processor) {
        if (next == descriptions->size()) {
            return false;
        }
        const ProcessorDescription& description = (*descriptions)[next];
        setDeviceId(processor.deviceId, static_cast<int>(next));
        ++next;
        setText(processor.caption, description.package.caption);
        setText(processor.manufacturer, description.package.manufacturer);
        setText(processor.name, description.package.name);
        processor.maxClockSpeed = description.maxClockSpeedMHz.value_or(0);
        processor.numberOfCores = description.package.cores.value_or(0);
        processor.numberOfLogicalProcessors = description.package.logicalProcessors;
        return true;
    });
}

int queryLogicalDisks(DiskTable& disks, Session& session) {
    SessionState* state = session.state();
    if (state == nullptr) {
        return -1;
    }
    const auto found = FixedDiskReader(state->root, &state->blockDevices, &state->procFiles).read();
    if (!found) {
        return -1;
    }
    // All mounts of this refresh are asked at once, so one hung file system costs one bounded
    // wait; it keeps its last figures. A file system that cannot be asked shows size and free
    // space 0.
    const SystemFiles files(state->root);
    std::vector<std::string> paths;
    for (const FixedDisk& fixed : *found) {
        paths.push_back(files.locate(fixed.mountPoint));
    }
    const std::vector<std::optional<FileSystemFigures>> figures = state->fileSystemFigures(paths);
    std::size_t next = 0;
    return storeDisks(disks, [&](DiskInfo& disk) {
        if (next == found->size()) {
            return false;
        }
        const FixedDisk& fixed = (*found)[next];
        setTextFieldFromUtf8(disk.deviceId, fixed.mountPoint);
        disk.driveType = kFixedDisk;
        if (next < figures.size() && figures[next]) {
            disk.size = figures[next]->size;
            disk.freeSpace = figures[next]->freeSpace;
        }
        ++next;
        setText(disk.volumeName, fixed.label);
        setTextFieldFromUtf8(disk.fileSystem, fixed.fileSystemType);
        return true;
    });
}

void queryMemoryStatus(MemoryInfo& memory, Session& session) {
    SessionState* state = session.state();
    memory = state != nullptr
                 ? MemoryStatusReader(state->root, &state->procFiles).read(&state->startStack)
                 : MemoryInfo{};
}

int queryCpuTimes(Session& session, CpuTimesSample& sample) {
    SessionState* state = session.state();
    if (state == nullptr) {
        return -1;
    }
    state->latestProcStat = ProcStatReader(state->root, &state->procFiles).read();
    const std::optional<ProcStat>& stat = state->latestProcStat;
    if (!stat || !stat->total) {
        return -1;
    }
    // In clock ticks (USER_HZ) of the "cpu" line, summed over the processors: the load is a
    // ratio, so neither the unit nor the number of processors matters, and nothing is divided by
    // a count of online processors that may differ between two samples. Privileged time is system
    // time with the time spent serving interrupts; user time includes niced processes. The time
    // stamp is all the time of the processors, busy, idle, waiting or stolen, so busy time can
    // never outrun it, however short the interval, and an interval without a whole tick has a time
    // stamp that did not move.
    const CpuTimesLine& total = *stat->total;
    sample.percentPrivilegedTime = total.system + total.irq + total.softirq;
    sample.percentUserTime = total.user + total.nice;
    sample.timeStampSys100NS = sample.percentPrivilegedTime + sample.percentUserTime + total.idle +
                               total.iowait + total.steal;
    return 1;
}

}  // namespace quorvane
