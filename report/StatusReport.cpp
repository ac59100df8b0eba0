#include "StatusReport.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/LocalDateTime.h>

#include <charconv>
#include <vector>

#include "ReportOperations.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {

namespace {

template <typename T>
std::string decimal(T value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void attachFieldAttribute(XmlElement& element, const std::string& name, const TextField& field) {
    element.setAttribute(name, textFieldToUtf8(field));
}

}  // namespace

void attachAttribute(XmlElement& element, const std::string& name, const std::string& value) {
    element.setAttribute(name, value);
}

void attachWideAttribute(XmlElement& element, const std::string& name,
                         const std::u16string& value) {
    element.setAttribute(name, utf16ToUtf8(value));
}

void attachUInt32Attribute(XmlElement& element, const std::string& name, std::uint32_t value) {
    element.setAttribute(name, decimal(value));
}

void attachUInt64Attribute(XmlElement& element, const std::string& name, std::uint64_t value) {
    element.setAttribute(name, decimal(value));
}

void appendText(XmlElement& element, const std::string& text) {
    element.appendText(text);
}

void appendWideText(XmlElement& element, const std::u16string& text) {
    element.appendText(utf16ToUtf8(text));
}

void appendUInt64Text(XmlElement& element, std::uint64_t value) {
    element.appendText(decimal(value));
}

std::string formatCimDateTime(const char16_t* text, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && text[length] != u'\0') {
        ++length;
    }
    if (length != 25) {
        return std::string();
    }
    // Pieces are cut by character, not by byte, so a non-ASCII character is never split.
    std::vector<std::string> characters;
    characters.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < length &&
                          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        characters.push_back(utf16ToUtf8(text + i, pair ? 2 : 1));
        if (pair) {
            ++i;
        }
    }
    auto piece = [&characters](std::size_t first, std::size_t count) {
        std::string out;
        for (std::size_t i = first; i < first + count && i < characters.size(); ++i) {
            out += characters[i];
        }
        return out;
    };
    return piece(0, 4) + "-" + piece(4, 2) + "-" + piece(6, 2) + " " + piece(8, 2) + ":" +
           piece(10, 2) + ":" + piece(12, 2);
}

std::int32_t averageCpuUsage(const SystemSnapshot& snapshot) {
    // Signed overflow is undefined, so the sum wraps in unsigned arithmetic and is mapped back.
    std::uint32_t sum = 0;
    for (const std::int32_t value : snapshot.cpuUsageHistory) {
        sum += static_cast<std::uint32_t>(value);
    }
    const std::int32_t signedSum =
        sum <= 0x7FFFFFFFu ? static_cast<std::int32_t>(sum) : -static_cast<std::int32_t>(~sum) - 1;
    return signedSum / static_cast<std::int32_t>(kCpuHistoryLength);
}

std::string formatCpuUsageHistory(const SystemSnapshot& snapshot) {
    std::string out;
    out.reserve(kCpuHistoryLength * 4);
    const std::int32_t start = snapshot.cpuUsageIndex;
    bool first = true;
    auto append = [&](std::size_t slot) {
        if (!first) {
            out.push_back(',');
        }
        first = false;
        out += decimal(snapshot.cpuUsageHistory[slot]);
    };
    const std::int32_t historyLength = static_cast<std::int32_t>(kCpuHistoryLength);
    if (start >= 0 && start < historyLength) {
        for (std::int32_t i = start; i < historyLength; ++i) {
            append(static_cast<std::size_t>(i));
        }
    }
    for (std::int32_t i = 0; i < start && i < historyLength; ++i) {
        append(static_cast<std::size_t>(i));
    }
    return out;
}

std::string currentLocalTimeText() {
    return Poco::DateTimeFormatter::format(Poco::LocalDateTime(),
                                           Poco::DateTimeFormat::SORTABLE_FORMAT);
}

std::string renderStatusReport(SystemSnapshot& snapshot, std::string (*readClock)()) {
    Poco::FastMutex::ScopedLock lock(snapshotMutex);

    const std::string time = readClock();

    XmlElement root("root");
    attachAttribute(root, "agent_version", agentVersionString(snapshot));
    attachAttribute(root, "agent_description", agentDescription(snapshot));
    attachAttribute(root, "agent_copyright", agentCopyright(snapshot));
    attachAttribute(root, "agent_edition", agentEdition(snapshot));
    attachAttribute(root, "time", time);
    attachUInt32Attribute(root, "uc", snapshot.refreshCount);

    XmlElement& os = root.appendChild("os");
    attachAttribute(os, "type", operatingSystemType());
    attachFieldAttribute(os, "version", snapshot.operatingSystem.version);
    attachWideAttribute(os, "spversion", windowsServicePack());
    attachWideAttribute(os, "name", windowsProductName());
    appendWideText(os, windowsFullName());

    const BiosInfo& bios = snapshot.bios;
    XmlElement& biosElement = root.appendChild("bios");
    attachFieldAttribute(biosElement, "name", bios.name);
    attachFieldAttribute(biosElement, "manufacturer", bios.manufacturer);
    attachFieldAttribute(biosElement, "serial_number", bios.serialNumber);
    attachFieldAttribute(biosElement, "smbios_version", bios.smbiosBiosVersion);
    attachFieldAttribute(biosElement, "version", bios.version);

    const ComputerSystemInfo& computer = snapshot.computerSystem;
    XmlElement& computerElement = root.appendChild("computer");
    attachFieldAttribute(computerElement, "name", computer.name);
    attachFieldAttribute(computerElement, "domain", computer.domain);
    attachFieldAttribute(computerElement, "model", computer.model);
    attachFieldAttribute(computerElement, "manufacturer", computer.manufacturer);
    attachFieldAttribute(computerElement, "primary_owner_name", computer.primaryOwnerName);

    appendText(root.appendChild("hostname"), textFieldToUtf8(computer.name));
    appendText(root.appendChild("domain"), textFieldToUtf8(computer.domain));

    XmlElement& uptime = root.appendChild("uptime");
    attachAttribute(
        uptime, "last_boot_time",
        formatCimDateTime(snapshot.operatingSystem.lastBootUpTime.data(), kTextFieldLength));
    attachAttribute(
        uptime, "local_time",
        formatCimDateTime(snapshot.operatingSystem.localDateTime.data(), kTextFieldLength));
    appendUInt64Text(uptime, systemUptimeSeconds());

    XmlElement& processors = root.appendChild("processors");
    for (const ProcessorInfo& processor : snapshot.processors) {
        XmlElement& element = processors.appendChild("processor");
        attachFieldAttribute(element, "device_id", processor.deviceId);
        attachFieldAttribute(element, "caption", processor.caption);
        attachFieldAttribute(element, "manufacturer", processor.manufacturer);
        attachFieldAttribute(element, "name", processor.name);
        attachFieldAttribute(element, "version", processor.version);
        attachUInt32Attribute(element, "max_clock_speed", processor.maxClockSpeed);
        attachUInt32Attribute(element, "number_of_cores", processor.numberOfCores);
        attachUInt32Attribute(element, "number_of_logical_processors",
                              processor.numberOfLogicalProcessors);
    }

    XmlElement& cpuUsage = root.appendChild("cpu-usage");
    attachUInt32Attribute(cpuUsage, "average",
                          static_cast<std::uint32_t>(averageCpuUsage(snapshot)));
    appendText(cpuUsage, formatCpuUsageHistory(snapshot));

    const MemoryInfo& memory = snapshot.memory;
    XmlElement& memoryElement = root.appendChild("memory");
    attachUInt32Attribute(memoryElement, "memory_load", memory.dwMemoryLoad);
    attachUInt64Attribute(memoryElement, "total_physical", memory.ullTotalPhys);
    attachUInt64Attribute(memoryElement, "available_physical", memory.ullAvailPhys);
    attachUInt64Attribute(memoryElement, "total_page_file", memory.ullTotalPageFile);
    attachUInt64Attribute(memoryElement, "available_page_file", memory.ullAvailPageFile);
    attachUInt64Attribute(memoryElement, "total_virtual", memory.ullTotalVirtual);
    attachUInt64Attribute(memoryElement, "available_virtual", memory.ullAvailVirtual);
    attachUInt64Attribute(memoryElement, "available_extended_virtual",
                          memory.ullAvailExtendedVirtual);

    XmlElement& storages = root.appendChild("storages");
    for (const DiskInfo& disk : snapshot.disks) {
        if (disk.inUse == 0) {
            continue;
        }
        XmlElement& element = storages.appendChild("storage");
        attachFieldAttribute(element, "device_name", disk.deviceId);
        attachUInt32Attribute(element, "drive_type", disk.driveType);
        attachUInt64Attribute(element, "size", disk.size);
        attachUInt64Attribute(element, "available", disk.freeSpace);
        attachFieldAttribute(element, "volume_name", disk.volumeName);
        attachFieldAttribute(element, "file_system", disk.fileSystem);
    }

    root.appendChild("logs");

    return writeXmlDocument(root);
}

void writeStatusReport(std::ostream& out, SystemSnapshot& snapshot) {
    const std::string document = renderStatusReport(snapshot);
    out.write(document.data(), static_cast<std::streamsize>(document.size()));
}

}  // namespace quorvane
