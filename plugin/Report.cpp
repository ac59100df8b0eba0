#include "Report.h"

#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/Node.h>
#include <Poco/Exception.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

namespace quorvane::plugin {

namespace {

using Poco::XML::Element;
using Poco::XML::Node;

const Element& child(const Element& parent, const std::string& name) {
    const Element* element = parent.getChildElement(name);
    if (element == nullptr) {
        throw ReportError("the report has no " + name + " element");
    }
    return *element;
}

const Element& root(const Poco::XML::Document& report) {
    return *report.documentElement();
}

std::string attribute(const Element& element, const std::string& name) {
    if (!element.hasAttribute(name)) {
        throw ReportError("the report lacks the attribute " + name + " of " + element.nodeName());
    }
    return element.getAttribute(name);
}

// A report's texts can be as long as the body; a message shows the start of one.
std::string shown(const std::string& text) {
    constexpr std::size_t kShown = 40;
    return text.size() <= kShown ? text : text.substr(0, kShown) + "...";
}

// A decimal integer as the report writes one: an optional "-" and digits, nothing else (else
// ReportError). One the type cannot hold, or outside low..high, is out of range.
template <typename Number>
Figure<Number> number(const std::string& text, const std::string& name, Number low, Number high,
                      const std::string& range) {
    Figure<Number> figure;
    figure.text = shown(text);
    figure.name = name;
    figure.range = range;
    const std::size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    if (first == text.size() || text.find_first_not_of("0123456789", first) != std::string::npos) {
        throw ReportError(name + " is not a number: \"" + figure.text + "\"");
    }
    Number value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    figure.inRange = error == std::errc() && stop == end && value >= low && value <= high;
    figure.value = figure.inRange ? value : 0;
    return figure;
}

const std::string kWholeRange = "0 to " + std::to_string(UINT64_MAX);

Figure<std::uint64_t> bytes(const Element& element, const std::string& name,
                            const std::string& what) {
    return number<std::uint64_t>(attribute(element, name), what, 0, UINT64_MAX, kWholeRange);
}

Figure<std::uint32_t> percent(const Element& element, const std::string& name) {
    return number<std::uint32_t>(attribute(element, name), element.nodeName() + " " + name, 0, 100,
                                 "0 to 100");
}

// A part (available) that cannot exceed its whole (total), which must be known for that.
void partOf(Figure<std::uint64_t>& part, const Figure<std::uint64_t>& whole) {
    part.range = "0 to " + whole.name + (whole.inRange ? " (" + whole.text + ")" : "");
    part.inRange = part.inRange && whole.inRange && part.value <= whole.value;
    part.value = part.inRange ? part.value : 0;
}

// An attribute that is a plain count, not a measurement (uc, processor counts): a value that is
// not a whole number the type holds is not a report.
template <typename Number>
Number count(const Element& element, const std::string& name) {
    const std::string what = element.nodeName() + " " + name;
    const Figure<Number> figure =
        number<Number>(attribute(element, name), what, 0, std::numeric_limits<Number>::max(), "");
    if (!figure.inRange) {
        throw ReportError(what + " is not a number in range: \"" + figure.text + "\"");
    }
    return figure.value;
}

std::vector<const Element*> children(const Element& parent, const std::string& name) {
    std::vector<const Element*> found;
    for (Node* node = parent.firstChild(); node != nullptr; node = node->nextSibling()) {
        if (node->nodeType() == Node::ELEMENT_NODE && node->nodeName() == name) {
            found.push_back(static_cast<const Element*>(node));
        }
    }
    return found;
}

// Refuses what a report never is before the parser sees it: the DOM builds and frees its tree
// recursively, so a deep body would exhaust the stack, and a wide one would cost a node per few
// bytes. Counts tags the way a parser does (comments, CDATA sections, processing instructions
// and quoted attribute values skipped), builds nothing and stops at the first excess; what it
// cannot follow is malformed, and the parser rejects it before going deeper than counted here.
void checkShape(const std::string& body) {
    std::size_t depth = 0, nodes = 0, at = 0;
    const auto node = [&]() {
        if (++nodes > kMaxReportNodes) {
            throw ReportError("more than " + std::to_string(kMaxReportNodes) +
                              " elements, attributes and other nodes, far more than a report has");
        }
    };
    const auto skipTo = [&](std::size_t from, const char* end) {
        const std::size_t found = body.find(end, from);
        at = found == std::string::npos ? body.size() : found + std::char_traits<char>::length(end);
    };
    while ((at = body.find('<', at)) != std::string::npos) {
        if (body.compare(at, 4, "<!--") == 0) {
            node();
            skipTo(at + 4, "-->");
        } else if (body.compare(at, 9, "<![CDATA[") == 0) {
            node();
            skipTo(at + 9, "]]>");
        } else if (body.compare(at, 2, "<?") == 0) {
            node();
            skipTo(at + 2, "?>");
        } else if (body.compare(at, 2, "<!") == 0) {
            // Its entities could stand for any amount of text or markup.
            throw ReportError("a document type declaration, which a report never has");
        } else if (body.compare(at, 2, "</") == 0) {
            depth -= depth > 0 ? 1 : 0;
            skipTo(at + 2, ">");
        } else {
            node();
            char quote = 0;
            std::size_t end = at + 1;
            for (; end < body.size(); ++end) {
                const char c = body[end];
                if (quote != 0) {
                    quote = c == quote ? 0 : quote;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '=') {
                    node();  // an attribute
                } else if (c == '>') {
                    break;
                }
            }
            if (end == body.size()) {
                return;  // cut off inside a tag
            }
            if (depth + 1 > kMaxReportDepth) {
                throw ReportError("elements nested more than " + std::to_string(kMaxReportDepth) +
                                  " deep, deeper than a report");
            }
            depth += body[end - 1] == '/' ? 0 : 1;
            at = end + 1;
        }
    }
}

}  // namespace

Poco::AutoPtr<Poco::XML::Document> parseReport(const std::string& body) {
    checkShape(body);
    Poco::AutoPtr<Poco::XML::Document> report;
    try {
        Poco::XML::DOMParser parser;
        report = parser.parseMemory(body.data(), body.size());
    } catch (const Poco::Exception& error) {
        throw ReportError("not a complete XML document (" + error.message() + ")");
    }
    const Element* element = report->documentElement();
    if (element == nullptr || element->nodeName() != "root") {
        throw ReportError("the document element is " +
                          (element == nullptr ? std::string("missing") : element->nodeName()) +
                          ", not root");
    }
    return report;
}

CpuFigures readCpu(const Poco::XML::Document& report) {
    const Element& usage = child(root(report), "cpu-usage");
    CpuFigures figures;
    figures.refreshes = count<std::uint32_t>(root(report), "uc");
    figures.average = percent(usage, "average");
    const std::string history = usage.innerText();
    std::size_t start = 0;
    while (start <= history.size()) {
        std::size_t comma = history.find(',', start);
        if (comma == std::string::npos) {
            comma = history.size();
        }
        figures.latest = number<std::int32_t>(history.substr(start, comma - start),
                                              "the latest cpu-usage sample", 0, 100, "0 to 100");
        figures.history.push_back(figures.latest.inRange ? figures.latest.value : -1);
        ++figures.samples;
        figures.samplesOutOfRange += figures.latest.inRange ? 0 : 1;
        start = comma + 1;
    }
    return figures;
}

MemoryFigures readMemory(const Poco::XML::Document& report) {
    const Element& memory = child(root(report), "memory");
    MemoryFigures figures;
    figures.load = percent(memory, "memory_load");
    figures.total = bytes(memory, "total_physical", "memory total_physical");
    figures.available = bytes(memory, "available_physical", "memory available_physical");
    partOf(figures.available, figures.total);
    return figures;
}

MemoryFigures readAllMemory(const Poco::XML::Document& report) {
    MemoryFigures figures = readMemory(report);
    const Element& memory = child(root(report), "memory");
    figures.totalPageFile = bytes(memory, "total_page_file", "memory total_page_file");
    figures.availablePageFile = bytes(memory, "available_page_file", "memory available_page_file");
    partOf(figures.availablePageFile, figures.totalPageFile);
    figures.totalVirtual = bytes(memory, "total_virtual", "memory total_virtual");
    figures.availableVirtual = bytes(memory, "available_virtual", "memory available_virtual");
    partOf(figures.availableVirtual, figures.totalVirtual);
    return figures;
}

std::vector<Disk> readDisks(const Poco::XML::Document& report) {
    std::vector<Disk> disks;
    for (const Element* storage : children(child(root(report), "storages"), "storage")) {
        Disk disk;
        disk.name = attribute(*storage, "device_name");
        disk.volume = attribute(*storage, "volume_name");
        disk.fileSystem = attribute(*storage, "file_system");
        const std::string what = "storage " + shown(disk.name) + " ";
        disk.size = bytes(*storage, "size", what + "size");
        disk.available = bytes(*storage, "available", what + "available");
        partOf(disk.available, disk.size);
        disks.push_back(std::move(disk));
    }
    return disks;
}

UptimeFigures readUptime(const Poco::XML::Document& report) {
    const Element& uptime = child(root(report), "uptime");
    UptimeFigures figures;
    figures.seconds =
        number<std::uint64_t>(uptime.innerText(), "the uptime", 0, UINT64_MAX, kWholeRange);
    figures.lastBoot = attribute(uptime, "last_boot_time");
    return figures;
}

Inventory readInventory(const Poco::XML::Document& report) {
    const Element& top = root(report);
    Inventory inventory;
    inventory.agentDescription = attribute(top, "agent_description");
    inventory.agentEdition = attribute(top, "agent_edition");
    inventory.agentVersion = attribute(top, "agent_version");
    const Element& os = child(top, "os");
    inventory.osFullName = os.innerText();
    inventory.osName = attribute(os, "name");
    inventory.osVersion = attribute(os, "version");
    inventory.osServicePack = attribute(os, "spversion");
    inventory.osType = attribute(os, "type");
    const Element& bios = child(top, "bios");
    inventory.biosName = attribute(bios, "name");
    inventory.biosManufacturer = attribute(bios, "manufacturer");
    inventory.biosVersion = attribute(bios, "version");
    inventory.biosSmbiosVersion = attribute(bios, "smbios_version");
    inventory.biosSerialNumber = attribute(bios, "serial_number");
    const Element& computer = child(top, "computer");
    inventory.computerName = attribute(computer, "name");
    inventory.computerDomain = attribute(computer, "domain");
    inventory.computerManufacturer = attribute(computer, "manufacturer");
    inventory.computerModel = attribute(computer, "model");
    inventory.owner = attribute(computer, "primary_owner_name");
    for (const Element* element : children(child(top, "processors"), "processor")) {
        Processor processor;
        processor.deviceId = attribute(*element, "device_id");
        processor.name = attribute(*element, "name");
        processor.manufacturer = attribute(*element, "manufacturer");
        processor.caption = attribute(*element, "caption");
        processor.maxClockSpeed = count<std::uint32_t>(*element, "max_clock_speed");
        processor.cores = count<std::uint32_t>(*element, "number_of_cores");
        processor.logicalProcessors =
            count<std::uint32_t>(*element, "number_of_logical_processors");
        inventory.processors.push_back(std::move(processor));
    }
    return inventory;
}

ReportStamp readStamp(const Poco::XML::Document& report) {
    const Element& top = root(report);
    ReportStamp stamp;
    stamp.agentVersion = attribute(top, "agent_version");
    stamp.time = attribute(top, "time");
    stamp.refreshes = count<std::uint32_t>(top, "uc");
    return stamp;
}

}  // namespace quorvane::plugin
