#include "Report.h"

#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/Node.h>
#include <Poco/Exception.h>

#include <charconv>

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

template <typename Number>
Number number(const std::string& text, const std::string& what) {
    Number value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        throw ReportError(what + " is not a number in range: \"" + text + "\"");
    }
    return value;
}

template <typename Number>
Number numberAttribute(const Element& element, const std::string& name) {
    return number<Number>(attribute(element, name), element.nodeName() + " " + name);
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

}  // namespace

Poco::AutoPtr<Poco::XML::Document> parseReport(const std::string& body) {
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
    figures.average = numberAttribute<std::uint32_t>(usage, "average");
    figures.refreshCount = numberAttribute<std::uint32_t>(root(report), "uc");
    const std::string history = usage.innerText();
    std::size_t start = 0;
    while (start <= history.size()) {
        std::size_t comma = history.find(',', start);
        if (comma == std::string::npos) {
            comma = history.size();
        }
        figures.latest =
            number<std::int32_t>(history.substr(start, comma - start), "a cpu-usage sample");
        figures.history.push_back(figures.latest);
        ++figures.samples;
        start = comma + 1;
    }
    return figures;
}

MemoryFigures readMemory(const Poco::XML::Document& report) {
    const Element& memory = child(root(report), "memory");
    MemoryFigures figures;
    figures.load = numberAttribute<std::uint32_t>(memory, "memory_load");
    figures.total = numberAttribute<std::uint64_t>(memory, "total_physical");
    figures.available = numberAttribute<std::uint64_t>(memory, "available_physical");
    figures.totalPageFile = numberAttribute<std::uint64_t>(memory, "total_page_file");
    figures.availablePageFile = numberAttribute<std::uint64_t>(memory, "available_page_file");
    figures.totalVirtual = numberAttribute<std::uint64_t>(memory, "total_virtual");
    figures.availableVirtual = numberAttribute<std::uint64_t>(memory, "available_virtual");
    return figures;
}

std::vector<Disk> readDisks(const Poco::XML::Document& report) {
    std::vector<Disk> disks;
    for (const Element* storage : children(child(root(report), "storages"), "storage")) {
        Disk disk;
        disk.name = attribute(*storage, "device_name");
        disk.volume = attribute(*storage, "volume_name");
        disk.fileSystem = attribute(*storage, "file_system");
        disk.size = numberAttribute<std::uint64_t>(*storage, "size");
        disk.available = numberAttribute<std::uint64_t>(*storage, "available");
        disks.push_back(std::move(disk));
    }
    return disks;
}

UptimeFigures readUptime(const Poco::XML::Document& report) {
    const Element& uptime = child(root(report), "uptime");
    UptimeFigures figures;
    figures.seconds = number<std::uint64_t>(uptime.innerText(), "the uptime");
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
        processor.maxClockSpeed = numberAttribute<std::uint32_t>(*element, "max_clock_speed");
        processor.cores = numberAttribute<std::uint32_t>(*element, "number_of_cores");
        processor.logicalProcessors =
            numberAttribute<std::uint32_t>(*element, "number_of_logical_processors");
        inventory.processors.push_back(std::move(processor));
    }
    return inventory;
}

}  // namespace quorvane::plugin
