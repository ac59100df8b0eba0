#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/DOM/Document.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane::plugin {

// The body is not the agent's report, or lacks what the check reads. The text names what is
// wrong, without the host (the caller adds it).
class ReportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The figures each check reads from one report, as the report gives them.
struct CpuFigures {
    std::uint32_t average = 0;  // the agent's mean of its 180 five-second samples
    std::int32_t latest = 0;    // the most recent sample, the history's last value
    std::size_t samples = 0;
    std::vector<std::int32_t> history;  // every sample as listed, the most recent last
    std::uint32_t refreshCount = 0;     // "uc": how many refreshes, so how many samples were taken
};

struct MemoryFigures {
    std::uint32_t load = 0;  // percent
    std::uint64_t total = 0;
    std::uint64_t available = 0;
    std::uint64_t totalPageFile = 0, availablePageFile = 0;
    std::uint64_t totalVirtual = 0, availableVirtual = 0;
};

struct Disk {
    std::string name;  // device_name: a drive letter, or a mount point on Linux
    std::string volume;
    std::string fileSystem;
    std::uint64_t size = 0;
    std::uint64_t available = 0;
};

struct UptimeFigures {
    std::uint64_t seconds = 0;
    std::string lastBoot;  // "YYYY-MM-DD HH:MM:SS", or empty
};

struct Processor {
    std::string deviceId, name, manufacturer, caption;
    std::uint32_t maxClockSpeed = 0, cores = 0, logicalProcessors = 0;
};

struct Inventory {
    std::string osFullName, osName, osVersion, osServicePack, osType;
    std::string biosName, biosManufacturer, biosVersion, biosSmbiosVersion, biosSerialNumber;
    std::string computerName, computerDomain, computerManufacturer, computerModel, owner;
    std::string agentDescription, agentEdition, agentVersion;
    std::vector<Processor> processors;
};

// Parses a complete report with the XML parser: a body that is cut off, not XML or not rooted
// in "root" throws ReportError.
Poco::AutoPtr<Poco::XML::Document> parseReport(const std::string& body);

// Each reader takes what its check needs; a missing element or attribute, or a number that is
// not one, throws ReportError.
CpuFigures readCpu(const Poco::XML::Document& report);
MemoryFigures readMemory(const Poco::XML::Document& report);
std::vector<Disk> readDisks(const Poco::XML::Document& report);
UptimeFigures readUptime(const Poco::XML::Document& report);
Inventory readInventory(const Poco::XML::Document& report);

}  // namespace quorvane::plugin
