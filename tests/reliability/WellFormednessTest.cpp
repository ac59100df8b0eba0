// Well-formedness as a property: random contents in every text field of the snapshot and in every
// report-time string. Each document must parse with expat (through Poco's SAX parser), and each
// value must read back as written, apart from the documented replacements: characters XML does
// not allow and unpaired surrogates become "?"; the parser turns CR LF and CR into LF, and tab
// and LF inside attribute values into a space.
#include <gtest/gtest.h>

#include <Poco/SAX/Attributes.h>
#include <Poco/SAX/DefaultHandler.h>
#include <Poco/SAX/SAXParser.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ReliabilitySupport.h"
#include "fakes/FakePlatform.h"
#include "report/StatusReport.h"

namespace quorvane::test {
namespace {

constexpr unsigned kSeed = 20261209;
constexpr int kDocuments = 300;

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool allowedInXml(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// What the document should carry for these code points: disallowed ones become "?".
std::string expectedFromCodePoints(const std::vector<char32_t>& codePoints) {
    std::string out;
    for (const char32_t c : codePoints) {
        appendUtf8(out, allowedInXml(c) ? c : U'?');
    }
    return out;
}

// Decodes UTF-16 units; an unpaired surrogate becomes "?" and never takes the unit after it.
std::vector<char32_t> decodeUtf16(const std::u16string& units) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(units[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back(U'?');
        } else {
            out.push_back(u);
        }
    }
    return out;
}

// The XML parser's end-of-line handling, plus attribute-value normalisation for attributes.
std::string asParsed(const std::string& written, bool attribute) {
    std::string out;
    for (std::size_t i = 0; i < written.size(); ++i) {
        char c = written[i];
        if (c == '\r') {
            if (i + 1 < written.size() && written[i + 1] == '\n') {
                ++i;
            }
            c = '\n';
        }
        if (attribute && (c == '\n' || c == '\t')) {
            c = ' ';
        }
        out.push_back(c);
    }
    return out;
}

class Generator {
  public:
    explicit Generator(unsigned seed) : random(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
    char32_t in(char32_t low, char32_t high) {
        return std::uniform_int_distribution<char32_t>(low, high)(random);
    }

    // Units of every hostile kind; `withZero` lets a zero unit end a text field early.
    std::u16string units(std::size_t maxLength, bool withZero) {
        const std::size_t length = static_cast<std::size_t>(below(static_cast<int>(maxLength) + 1));
        std::u16string out;
        while (out.size() < length) {
            switch (below(withZero ? 12 : 11)) {
                case 0:
                    out.push_back(static_cast<char16_t>(in(0x20, 0x7E)));
                    break;
                case 1:
                    out.push_back(u"&<>\"'"[below(5)]);
                    break;
                case 2:
                    out.push_back(static_cast<char16_t>(in(0x01, 0x1F)));
                    break;
                case 3:
                    out.push_back(u"\t\n\r"[below(3)]);
                    break;
                case 4:
                    out.push_back(static_cast<char16_t>(in(0x7F, 0x9F)));
                    break;
                case 5:
                    out.push_back(static_cast<char16_t>(in(0xA0, 0xD7FF)));
                    break;
                case 6:
                    out.push_back(static_cast<char16_t>(in(0xE000, 0xFFFF)));  // FFFE, FFFF too
                    break;
                case 7:  // lone high surrogate
                    out.push_back(static_cast<char16_t>(in(0xD800, 0xDBFF)));
                    break;
                case 8:  // lone low surrogate
                    out.push_back(static_cast<char16_t>(in(0xDC00, 0xDFFF)));
                    break;
                case 9:
                case 10: {  // a pair: a character beyond the BMP
                    const char32_t c = in(0x10000, 0x10FFFF) - 0x10000;
                    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
                    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
                    break;
                }
                default:
                    out.push_back(u'\0');
                    break;
            }
        }
        return out;
    }

    // UTF-8 of random code points of every class (controls, FFFE/FFFF and beyond the BMP
    // included); `codePoints` receives what was encoded.
    std::string utf8(std::vector<char32_t>& codePoints) {
        codePoints.clear();
        std::string out;
        const int length = below(120);
        for (int i = 0; i < length; ++i) {
            char32_t c = 0;
            switch (below(6)) {
                case 0:
                    c = in(0x20, 0x7E);
                    break;
                case 1:
                    c = in(0x01, 0x1F);
                    break;
                case 2:
                    c = in(0x80, 0xD7FF);
                    break;
                case 3:
                    c = in(0xE000, 0xFFFF);
                    break;
                case 4:
                    c = in(0x10000, 0x10FFFF);
                    break;
                default:
                    c = U"&<>\"'"[below(5)];
                    break;
            }
            codePoints.push_back(c);
            appendUtf8(out, c);
        }
        return out;
    }

  private:
    std::mt19937 random;
};

struct ParsedElement {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;
};

class Collector : public Poco::XML::DefaultHandler {
  public:
    void startElement(const Poco::XML::XMLString&, const Poco::XML::XMLString& localName,
                      const Poco::XML::XMLString&, const Poco::XML::Attributes& list) override {
        ParsedElement element;
        element.name = localName;
        for (int i = 0; i < list.getLength(); ++i) {
            element.attributes[list.getLocalName(i)] = list.getValue(i);
        }
        open.push_back(elements.size());
        elements.push_back(element);
    }
    void endElement(const Poco::XML::XMLString&, const Poco::XML::XMLString&,
                    const Poco::XML::XMLString&) override {
        open.pop_back();
    }
    void characters(const Poco::XML::XMLChar ch[], int start, int length) override {
        if (!open.empty()) {
            elements[open.back()].text.append(ch + start, static_cast<std::size_t>(length));
        }
    }

    std::vector<ParsedElement> elements;
    std::vector<std::size_t> open;
};

// One value placed in the snapshot or returned by a report-time operation, and where it must
// show up: element name, its occurrence, and the attribute (empty for the text).
struct Placed {
    std::string element;
    int occurrence;
    std::string attribute;
    std::string expectedAsWritten;
};

class WellFormednessTest : public ::testing::Test {
  protected:
    void SetUp() override { fake::reset(); }

    std::string field(TextField& target, Generator& generate, const std::string& element,
                      int occurrence, const std::string& attribute) {
        const std::u16string units = generate.units(300, true);
        setTextField(target, units);
        // The field holds at most 256 units and ends at its first zero unit.
        std::u16string stored =
            units.substr(0, std::min<std::size_t>(units.size(), kTextFieldLength));
        stored = stored.substr(0, stored.find(u'\0'));
        const std::string expected = expectedFromCodePoints(decodeUtf16(stored));
        placed.push_back({element, occurrence, attribute, expected});
        return expected;
    }

    std::u16string wide(Generator& generate, const std::string& element,
                        const std::string& attribute) {
        const std::u16string units = generate.units(600, false);
        placed.push_back({element, 0, attribute, expectedFromCodePoints(decodeUtf16(units))});
        return units;
    }

    std::string narrow(Generator& generate, const std::string& attribute) {
        std::vector<char32_t> codePoints;
        const std::string text = generate.utf8(codePoints);
        placed.push_back({"root", 0, attribute, expectedFromCodePoints(codePoints)});
        return text;
    }

    Session session;
    std::vector<Placed> placed;
};

TEST_F(WellFormednessTest, RandomTextInEveryFieldParsesAndReadsBack) {
    Generator generate(kSeed);
    int checkedValues = 0;
    for (int document = 0; document < kDocuments; ++document) {
        placed.clear();
        SystemSnapshot snapshot(session);
        refreshSnapshot(snapshot);

        auto& values = fake::reportValues();
        values.agentVersion = narrow(generate, "agent_version");
        values.agentDescription = narrow(generate, "agent_description");
        values.agentCopyright = narrow(generate, "agent_copyright");
        values.agentEdition = narrow(generate, "agent_edition");
        values.servicePack = wide(generate, "os", "spversion");
        values.productName = wide(generate, "os", "name");
        values.fullName = wide(generate, "os", "");

        field(snapshot.operatingSystem.version, generate, "os", 0, "version");
        BiosInfo& bios = snapshot.bios;
        field(bios.name, generate, "bios", 0, "name");
        field(bios.manufacturer, generate, "bios", 0, "manufacturer");
        field(bios.serialNumber, generate, "bios", 0, "serial_number");
        field(bios.smbiosBiosVersion, generate, "bios", 0, "smbios_version");
        field(bios.version, generate, "bios", 0, "version");
        ComputerSystemInfo& computer = snapshot.computerSystem;
        const std::string name = field(computer.name, generate, "computer", 0, "name");
        const std::string domain = field(computer.domain, generate, "computer", 0, "domain");
        placed.push_back({"hostname", 0, "", name});
        placed.push_back({"domain", 0, "", domain});
        field(computer.model, generate, "computer", 0, "model");
        field(computer.manufacturer, generate, "computer", 0, "manufacturer");
        field(computer.primaryOwnerName, generate, "computer", 0, "primary_owner_name");

        // CIM datetimes of random content: only well-formedness, and empty unless 25 units.
        setTextField(snapshot.operatingSystem.lastBootUpTime, generate.units(30, true));
        setTextField(snapshot.operatingSystem.localDateTime, generate.units(30, true));
        const bool bootIs25 = textFieldLength(snapshot.operatingSystem.lastBootUpTime) == 25;
        const bool localIs25 = textFieldLength(snapshot.operatingSystem.localDateTime) == 25;

        snapshot.processors.assign(static_cast<std::size_t>(generate.below(4)), ProcessorInfo{});
        for (std::size_t p = 0; p < snapshot.processors.size(); ++p) {
            ProcessorInfo& processor = snapshot.processors[p];
            const int at = static_cast<int>(p);
            field(processor.deviceId, generate, "processor", at, "device_id");
            field(processor.caption, generate, "processor", at, "caption");
            field(processor.manufacturer, generate, "processor", at, "manufacturer");
            field(processor.name, generate, "processor", at, "name");
            field(processor.version, generate, "processor", at, "version");
        }
        int storage = 0;
        for (DiskInfo& disk : snapshot.disks) {
            disk.inUse = generate.below(5) == 0 ? 1 : 0;
            if (disk.inUse != 0) {
                field(disk.deviceId, generate, "storage", storage, "device_name");
                field(disk.volumeName, generate, "storage", storage, "volume_name");
                field(disk.fileSystem, generate, "storage", storage, "file_system");
                ++storage;
            }
        }

        const std::string xml = renderStatusReport(snapshot);
        Poco::XML::SAXParser parser;
        Collector collector;
        parser.setContentHandler(&collector);
        try {
            parser.parseMemoryNP(xml.data(), xml.size());
        } catch (const Poco::Exception& e) {
            FAIL() << "document " << document << " is not well-formed: " << e.displayText();
        }

        std::map<std::string, std::vector<const ParsedElement*>> byName;
        for (const ParsedElement& element : collector.elements) {
            byName[element.name].push_back(&element);
        }
        ASSERT_EQ(byName["processor"].size(), snapshot.processors.size());
        ASSERT_EQ(byName["storage"].size(), static_cast<std::size_t>(storage));
        for (const Placed& value : placed) {
            const auto& candidates = byName[value.element];
            ASSERT_LT(static_cast<std::size_t>(value.occurrence), candidates.size())
                << value.element;
            const ParsedElement& element = *candidates[static_cast<std::size_t>(value.occurrence)];
            const bool isAttribute = !value.attribute.empty();
            const auto found = element.attributes.find(value.attribute);
            if (isAttribute) {
                ASSERT_NE(found, element.attributes.end())
                    << value.element << " " << value.attribute;
            }
            const std::string& actual = isAttribute ? found->second : element.text;
            EXPECT_EQ(actual, asParsed(value.expectedAsWritten, isAttribute))
                << "document " << document << ", " << value.element << "[" << value.occurrence
                << "] " << (isAttribute ? value.attribute : std::string("text"));
            ++checkedValues;
        }
        const ParsedElement& uptime = *byName["uptime"].at(0);
        if (!bootIs25) {
            EXPECT_EQ(uptime.attributes.at("last_boot_time"), "");
        }
        if (!localIs25) {
            EXPECT_EQ(uptime.attributes.at("local_time"), "");
        }
        if (HasFailure()) {
            FAIL() << "stopping at document " << document << " (seed " << kSeed << ")";
        }
    }
    std::cout << kDocuments << " documents, " << checkedValues << " values read back" << std::endl;
}

// Bytes that are not UTF-8 at all in the agent's own strings: the document stays well-formed.
TEST_F(WellFormednessTest, ArbitraryBytesInTheAgentStringsStillGiveAWellFormedDocument) {
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<int> length(0, 300);
    for (int document = 0; document < kDocuments; ++document) {
        auto& values = fake::reportValues();
        for (std::string* text : {&values.agentVersion, &values.agentDescription,
                                  &values.agentCopyright, &values.agentEdition}) {
            text->clear();
            const int n = length(random);
            for (int i = 0; i < n; ++i) {
                text->push_back(static_cast<char>(byte(random)));
            }
        }
        SystemSnapshot snapshot(session);
        refreshSnapshot(snapshot);
        const std::string xml = renderStatusReport(snapshot);
        ASSERT_EQ(xmlError(xml), "") << "document " << document << " (seed " << kSeed << ")";
    }
}

}  // namespace
}  // namespace quorvane::test
