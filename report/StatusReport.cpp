#include "StatusReport.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/LocalDateTime.h>

#include <algorithm>
#include <charconv>
#include <string_view>

#include "XmlWriter.h"
#include "platform/ReportOperations.h"
#include "snapshot/SystemSnapshot.h"
#include "snapshot/Utf16.h"

namespace quorvane {

namespace {

void fieldAttribute(XmlWriter& xml, std::string_view name, const TextField& field) {
    xml.attribute(name, field.data(), textFieldLength(field));
}

void wideAttribute(XmlWriter& xml, std::string_view name, const std::u16string& value) {
    xml.attribute(name, value.data(), value.size());
}

void appendDecimal(std::string& out, std::int32_t value) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, static_cast<std::size_t>(result.ptr - digits));
}

}  // namespace

std::string formatCimDateTime(const char16_t* text, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && text[length] != u'\0') {
        ++length;
    }
    if (length != 25) {
        return std::string();
    }
    // Pieces are cut by character, not by byte, so a non-ASCII character is never split. The
    // usual text is all ASCII digits; the general case counts characters.
    std::size_t starts[15];  // unit index where character k begins, k = 0..14
    std::size_t unit = 0;
    for (std::size_t k = 0; k < 15; ++k) {
        starts[k] = unit;
        if (unit < length) {
            nextUtf16CodePoint(text, length, unit);
        }
    }
    std::string out;
    out.reserve(19);
    auto piece = [&](std::size_t first, std::size_t count) {
        const std::size_t from = std::min(starts[first], length);
        const std::size_t to = std::min(starts[first + count], length);
        const std::string utf8 = utf16ToUtf8(text + from, to - from);
        out += utf8;
    };
    piece(0, 4);
    out.push_back('-');
    piece(4, 2);
    out.push_back('-');
    piece(6, 2);
    out.push_back(' ');
    piece(8, 2);
    out.push_back(':');
    piece(10, 2);
    out.push_back(':');
    piece(12, 2);
    return out;
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
        appendDecimal(out, snapshot.cpuUsageHistory[slot]);
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
    std::string document;
    document.reserve(4096);

    Poco::FastMutex::ScopedLock lock(snapshotMutex);

    const std::string time = readClock();

    // The report-time operations run in this order; the writer sorts the attributes by name.
    XmlWriter xml(document);
    xml.start("root");
    xml.attribute("agent_version", agentVersionString(snapshot));
    xml.attribute("agent_description", agentDescription(snapshot));
    xml.attribute("agent_copyright", agentCopyright(snapshot));
    xml.attribute("agent_edition", agentEdition(snapshot));
    xml.attribute("time", time);
    xml.attribute("uc", std::uint64_t{snapshot.refreshCount});

    xml.start("os");
    xml.attribute("type", operatingSystemType());
    fieldAttribute(xml, "version", snapshot.operatingSystem.version);
    wideAttribute(xml, "spversion", windowsServicePack());
    wideAttribute(xml, "name", windowsProductName());
    const std::u16string fullName = windowsFullName();
    xml.text(fullName.data(), fullName.size());
    xml.end();

    const BiosInfo& bios = snapshot.bios;
    xml.start("bios");
    fieldAttribute(xml, "name", bios.name);
    fieldAttribute(xml, "manufacturer", bios.manufacturer);
    fieldAttribute(xml, "serial_number", bios.serialNumber);
    fieldAttribute(xml, "smbios_version", bios.smbiosBiosVersion);
    fieldAttribute(xml, "version", bios.version);
    xml.end();

    const ComputerSystemInfo& computer = snapshot.computerSystem;
    xml.start("computer");
    fieldAttribute(xml, "name", computer.name);
    fieldAttribute(xml, "domain", computer.domain);
    fieldAttribute(xml, "model", computer.model);
    fieldAttribute(xml, "manufacturer", computer.manufacturer);
    fieldAttribute(xml, "primary_owner_name", computer.primaryOwnerName);
    xml.end();

    xml.start("hostname");
    xml.text(computer.name.data(), textFieldLength(computer.name));
    xml.end();
    xml.start("domain");
    xml.text(computer.domain.data(), textFieldLength(computer.domain));
    xml.end();

    xml.start("uptime");
    xml.attribute(
        "last_boot_time",
        formatCimDateTime(snapshot.operatingSystem.lastBootUpTime.data(), kTextFieldLength));
    xml.attribute("local_time", formatCimDateTime(snapshot.operatingSystem.localDateTime.data(),
                                                  kTextFieldLength));
    char digits[24];
    const auto uptime = std::to_chars(digits, digits + sizeof digits, systemUptimeSeconds());
    xml.text(std::string_view(digits, static_cast<std::size_t>(uptime.ptr - digits)));
    xml.end();

    xml.start("processors");
    for (const ProcessorInfo& processor : snapshot.processors) {
        xml.start("processor");
        fieldAttribute(xml, "device_id", processor.deviceId);
        fieldAttribute(xml, "caption", processor.caption);
        fieldAttribute(xml, "manufacturer", processor.manufacturer);
        fieldAttribute(xml, "name", processor.name);
        fieldAttribute(xml, "version", processor.version);
        xml.attribute("max_clock_speed", std::uint64_t{processor.maxClockSpeed});
        xml.attribute("number_of_cores", std::uint64_t{processor.numberOfCores});
        xml.attribute("number_of_logical_processors",
                      std::uint64_t{processor.numberOfLogicalProcessors});
        xml.end();
    }
    xml.end();

    xml.start("cpu-usage");
    // The average is written as the unsigned 32-bit pattern of the signed value.
    xml.attribute("average", std::uint64_t{static_cast<std::uint32_t>(averageCpuUsage(snapshot))});
    xml.text(formatCpuUsageHistory(snapshot));
    xml.end();

    const MemoryInfo& memory = snapshot.memory;
    xml.start("memory");
    xml.attribute("memory_load", std::uint64_t{memory.dwMemoryLoad});
    xml.attribute("total_physical", memory.ullTotalPhys);
    xml.attribute("available_physical", memory.ullAvailPhys);
    xml.attribute("total_page_file", memory.ullTotalPageFile);
    xml.attribute("available_page_file", memory.ullAvailPageFile);
    xml.attribute("total_virtual", memory.ullTotalVirtual);
    xml.attribute("available_virtual", memory.ullAvailVirtual);
    xml.attribute("available_extended_virtual", memory.ullAvailExtendedVirtual);
    xml.end();

    xml.start("storages");
    for (const DiskInfo& disk : snapshot.disks) {
        if (disk.inUse == 0) {
            continue;
        }
        xml.start("storage");
        fieldAttribute(xml, "device_name", disk.deviceId);
        xml.attribute("drive_type", std::uint64_t{disk.driveType});
        xml.attribute("size", disk.size);
        xml.attribute("available", disk.freeSpace);
        fieldAttribute(xml, "volume_name", disk.volumeName);
        fieldAttribute(xml, "file_system", disk.fileSystem);
        xml.end();
    }
    xml.end();

    xml.start("logs");
    xml.finish();
    return document;
}

void writeStatusReport(std::ostream& out, SystemSnapshot& snapshot) {
    const std::string document = renderStatusReport(snapshot);
    out.write(document.data(), static_cast<std::streamsize>(document.size()));
}

}  // namespace quorvane
