// The probe operations on WMI, over the session's connection (WmiConnection.h) and the property
// readers of WmiAccess.h. Plain logic: the Windows back end links them over its WmiSession, the
// tests on any system over the fakes in tests/fakes/FakeWmi.h.
#include "snapshot/Probes.h"

#include <initializer_list>
#include <memory>

#include "WmiAccess.h"
#include "WmiConnection.h"
#include "snapshot/ProbeResults.h"

namespace quorvane {

namespace {

// A closed session has no connection: its probes fail as a failed enumeration does.
std::unique_ptr<WmiEnumerator> enumerateClass(Session& session, const char16_t* className) {
    WmiConnection* connection = wmiConnectionOf(session);
    return connection != nullptr ? connection->enumerateClass(className) : nullptr;
}

std::unique_ptr<WmiEnumerator> execWqlQuery(Session& session, const char16_t* wqlText) {
    WmiConnection* connection = wmiConnectionOf(session);
    return connection != nullptr ? connection->execWqlQuery(wqlText) : nullptr;
}

struct TextProperty {
    const char16_t* name;
    TextField* field;
};

// Reads the first instance of a class straight into the destination's fields. The destination
// is not cleared first: a property that cannot be read keeps what the field held before.
int querySingleInstance(Session& session, const char16_t* className,
                        std::initializer_list<TextProperty> properties) {
    const std::unique_ptr<WmiEnumerator> enumerator = enumerateClass(session, className);
    if (!enumerator) {
        return -1;
    }
    const std::unique_ptr<WmiObject> instance = enumerator->nextInstance();
    if (!instance) {
        // No instance at all only counts when the enumeration really ended.
        return enumerator->reachedEnd() ? 0 : -1;
    }
    for (const TextProperty& property : properties) {
        readTextProperty(*instance, property.name, *property.field);
    }
    // Only the first instance counts; the enumeration is not walked any further.
    return 1;
}

}  // namespace

int queryBios(BiosInfo& bios, Session& session) {
    return querySingleInstance(session, u"Win32_BIOS",
                               {{u"SMBIOSBIOSVersion", &bios.smbiosBiosVersion},
                                {u"Manufacturer", &bios.manufacturer},
                                {u"Name", &bios.name},
                                {u"SerialNumber", &bios.serialNumber},
                                {u"Version", &bios.version}});
}

int queryComputerSystem(ComputerSystemInfo& computerSystem, Session& session) {
    return querySingleInstance(session, u"Win32_ComputerSystem",
                               {{u"Domain", &computerSystem.domain},
                                {u"Manufacturer", &computerSystem.manufacturer},
                                {u"Model", &computerSystem.model},
                                {u"Name", &computerSystem.name},
                                {u"PrimaryOwnerName", &computerSystem.primaryOwnerName}});
}

int queryOperatingSystem(OperatingSystemInfo& operatingSystem, Session& session) {
    return querySingleInstance(session, u"Win32_OperatingSystem",
                               {{u"Version", &operatingSystem.version},
                                {u"LastBootUpTime", &operatingSystem.lastBootUpTime},
                                {u"LocalDateTime", &operatingSystem.localDateTime}});
}

int queryProcessors(std::vector<ProcessorInfo>& processors, Session& session) {
    const std::unique_ptr<WmiEnumerator> enumerator = enumerateClass(session, u"Win32_Processor");
    if (!enumerator) {
        return -1;
    }
    return storeProcessors(
        processors,
        [&enumerator](ProcessorInfo& processor) {
            const std::unique_ptr<WmiObject> instance = enumerator->nextInstance();
            if (!instance) {
                return false;
            }
            readTextProperty(*instance, u"DeviceID", processor.deviceId);
            readTextProperty(*instance, u"Caption", processor.caption);
            readTextProperty(*instance, u"Manufacturer", processor.manufacturer);
            readTextProperty(*instance, u"Name", processor.name);
            readTextProperty(*instance, u"Version", processor.version);
            readUInt32Property(*instance, u"MaxClockSpeed", processor.maxClockSpeed);
            readUInt32Property(*instance, u"NumberOfCores", processor.numberOfCores);
            readUInt32Property(*instance, u"NumberOfLogicalProcessors",
                               processor.numberOfLogicalProcessors);
            return true;
        },
        // A walk cut short by a time-out or an error is no processor list.
        [&enumerator] { return enumerator->reachedEnd(); });
}

int queryLogicalDisks(DiskTable& disks, Session& session) {
    const std::unique_ptr<WmiEnumerator> enumerator =
        execWqlQuery(session, u"Select * from Win32_LogicalDisk Where DriveType = 3");
    if (!enumerator) {
        return -1;
    }
    return storeDisks(disks, [&enumerator](DiskInfo& disk) {
        const std::unique_ptr<WmiObject> instance = enumerator->nextInstance();
        if (!instance) {
            return false;
        }
        readTextProperty(*instance, u"DeviceID", disk.deviceId);
        readUInt32Property(*instance, u"DriveType", disk.driveType);
        readUInt64Property(*instance, u"Size", disk.size);
        readUInt64Property(*instance, u"FreeSpace", disk.freeSpace);
        readTextProperty(*instance, u"VolumeName", disk.volumeName);
        readTextProperty(*instance, u"FileSystem", disk.fileSystem);
        return true;
    });
}

int queryCpuTimes(Session& session, CpuTimesSample& sample) {
    const std::unique_ptr<WmiEnumerator> enumerator =
        execWqlQuery(session,
                     u"Select PercentPrivilegedTime,PercentUserTime,TimeStamp_Sys100NS from "
                     u"Win32_PerfRawData_PerfOS_Processor Where Name='_Total'");
    if (!enumerator) {
        return -1;
    }
    if (const std::unique_ptr<WmiObject> instance = enumerator->nextInstance()) {
        readUInt64Property(*instance, u"PercentPrivilegedTime", sample.percentPrivilegedTime);
        readUInt64Property(*instance, u"PercentUserTime", sample.percentUserTime);
        readUInt64Property(*instance, u"TimeStamp_Sys100NS", sample.timeStampSys100NS);
    }
    return 1;
}

}  // namespace quorvane
