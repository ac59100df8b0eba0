#pragma once

// The station side's reader of the agent's status report, shared by check_quorvane and the
// exporter: parseReport checks the body's shape and parses it, the read* functions take the
// figures one consumer needs. A figure outside the range it can have is kept and marked, so that
// the plugin can say so instead of judging it and the exporter can drop and count it.

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

// The deepest nesting a report has (root, processors, processor) and a bound on its nodes
// (elements, attributes, comments, instructions) far above any machine's: one processor
// element per package, at most 26 storage elements.
constexpr std::size_t kMaxReportDepth = 3;
constexpr std::size_t kMaxReportNodes = 16384;

// A number of the report as given and whether it lies in the range the figure can have. One
// outside it (a load above 100, a negative value, -1 wrapped to 4294967295, more available than
// total) is a fault of the agent's sampling, not a measurement: value is then meaningless.
template <typename Number>
struct Figure {
    Number value = 0;
    bool inRange = false;
    std::string text;   // as the report gives it
    std::string name;   // where it is in the report: "cpu-usage average"
    std::string range;  // what it may be: "0 to 100"

    // "cpu-usage average 4294967295 is out of range (0 to 100)"
    std::string outOfRange() const {
        return name + " " + text + " is out of range (" + range + ")";
    }
};

// The figures each check reads from one report, as the report gives them.
struct CpuFigures {
    Figure<std::uint32_t> average;  // the agent's mean of its 180 history slots, 0 to 100
    Figure<std::int32_t> latest;    // the most recent sample, the history's last value
    std::size_t samples = 0;        // values in the history (always 180 from the agent)
    std::size_t samplesOutOfRange = 0;
    std::uint32_t refreshes = 0;        // the root's uc: one sample is taken per refresh
    std::vector<std::int32_t> history;  // every sample, the most recent last; -1 if out of range
};

struct MemoryFigures {
    Figure<std::uint32_t> load;  // percent
    Figure<std::uint64_t> total;
    Figure<std::uint64_t> available;  // at most total
    // Read by readAllMemory only: the commit limit and what is left, the address space.
    Figure<std::uint64_t> totalPageFile, availablePageFile;
    Figure<std::uint64_t> totalVirtual, availableVirtual;
};

struct Disk {
    std::string name;  // device_name: a drive letter, or a mount point on Linux
    std::string volume;
    std::string fileSystem;
    Figure<std::uint64_t> size;
    Figure<std::uint64_t> available;  // at most size
};

struct UptimeFigures {
    Figure<std::uint64_t> seconds;
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

// Where a report comes from and how far the agent's sampling is: for the plugin's -v.
struct ReportStamp {
    std::string agentVersion;
    std::string time;             // the agent's local time, "YYYY-MM-DD HH:MM:SS"
    std::uint32_t refreshes = 0;  // uc
};

// Checks the body's shape with one pass that builds nothing (nesting deeper than
// kMaxReportDepth, more than kMaxReportNodes nodes and any document type declaration are
// refused), then parses it with the XML parser. A body that is refused, cut off, not XML or not
// rooted in "root" throws ReportError. Memory stays within a small multiple of the body's size.
Poco::AutoPtr<Poco::XML::Document> parseReport(const std::string& body);

// Each reader takes what its check needs; a missing element or attribute, or a number that is
// not one, throws ReportError. A number out of its range does not throw: its Figure says so.
CpuFigures readCpu(const Poco::XML::Document& report);
MemoryFigures readMemory(const Poco::XML::Document& report);
// readMemory and the page-file and virtual pairs too (the exporter's).
MemoryFigures readAllMemory(const Poco::XML::Document& report);
std::vector<Disk> readDisks(const Poco::XML::Document& report);
UptimeFigures readUptime(const Poco::XML::Document& report);
Inventory readInventory(const Poco::XML::Document& report);
ReportStamp readStamp(const Poco::XML::Document& report);

}  // namespace quorvane::plugin
