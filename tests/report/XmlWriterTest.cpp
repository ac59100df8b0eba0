#include <gtest/gtest.h>

#include <Poco/DOM/AutoPtr.h>
#include <Poco/DOM/DOMWriter.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/Text.h>
#include <Poco/String.h>
#include <Poco/UTF8Encoding.h>
#include <Poco/XML/XMLWriter.h>

#include <sstream>

#include "report/XmlWriter.h"

namespace quorvane {
namespace {

std::string escaped(const std::string& value) {
    std::string out;
    appendEscapedXml(out, value);
    return out;
}

TEST(XmlWriterTest, EscapesMarkupAndKeepsWhiteSpace) {
    EXPECT_EQ(escaped("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
    EXPECT_EQ(escaped("tab\tlf\ncr\r"), "tab\tlf\ncr\r");
    EXPECT_EQ(escaped("caf\xc3\xa9 \xf0\x9f\x98\x80"), "caf\xc3\xa9 \xf0\x9f\x98\x80");
}

TEST(XmlWriterTest, CharactersXmlDoesNotAllowBecomeQuestionMarks) {
    EXPECT_EQ(escaped(std::string("a\x01"
                                  "b\x1f"
                                  "c\x7f",
                                  6)),
              "a?b?c\x7f");
    EXPECT_EQ(escaped(std::string("x\0y", 3)), "x?y");
    EXPECT_EQ(escaped("\xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbd"), "??\xef\xbf\xbd");
    EXPECT_EQ(escaped("bad\xff\xc3"), "bad??");
    EXPECT_EQ(escaped("\xed\xa0\x80"), "???");
}

TEST(XmlWriterTest, LaysOutElementsAsTheReportExpects) {
    std::string document;
    XmlWriter xml(document);
    xml.start("root");
    xml.attribute("zeta", "1");
    xml.attribute("alpha", "2");
    xml.attribute("alpha", "3");  // replaces, never duplicates
    xml.start("os");
    xml.text(u"Win", 3);
    xml.end();
    xml.start("empty");
    xml.text("");
    xml.end();
    xml.start("list");
    xml.text("t&");
    xml.start("item");
    xml.attribute("b", std::uint64_t{42});
    xml.end();
    xml.end();
    xml.start("none");
    xml.finish();
    EXPECT_EQ(document,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<root alpha=\"3\" zeta=\"1\">\n"
              "\t<os>Win</os>\n"
              "\t<empty/>\n"
              "\t<list>t&amp;\n"
              "\t\t<item b=\"42\"/>\n"
              "\t</list>\n"
              "\t<none/>\n"
              "</root>\n");
}

TEST(XmlWriterTest, Utf16TextIsEscapedLikeItsUtf8) {
    const std::u16string text =
        u"a<\u00e9\U0001F600\uFFFE\x01" + std::u16string(1, u'\xD800') + u"z";
    std::string fromUtf16;
    appendEscapedXml(fromUtf16, text.data(), text.size());
    EXPECT_EQ(fromUtf16,
              "a&lt;\xc3\xa9\xf0\x9f\x98\x80??"
              "?z");
}

// POCO's DOM writer with the report's settings writes the same bytes, apart from the
// apostrophe it leaves unescaped and the white space it turns into character references.
TEST(XmlWriterTest, MatchesThePocoDomWriterLayout) {
    using namespace Poco::XML;
    AutoPtr<Document> document = new Document;
    AutoPtr<Element> pocoRoot = document->createElement("root");
    document->appendChild(pocoRoot);
    std::string mine;
    XmlWriter xml(mine);
    xml.start("root");

    const char* names[] = {"uc", "agent_version", "time", "agent_copyright"};
    const char* values[] = {"7", "1.2.3.4", "2026-01-02 03:04:05", "(c) Me & 'You' <x>"};
    for (int i = 0; i < 4; ++i) {
        pocoRoot->setAttribute(names[i], values[i]);
        xml.attribute(names[i], values[i]);
    }
    for (const char* name : {"os", "hostname", "uptime"}) {
        AutoPtr<Element> child = document->createElement(name);
        AutoPtr<Text> text =
            document->createTextNode(std::string(name) == "hostname" ? "" : "v\xc3\xa9");
        child->appendChild(text);
        child->setAttribute("name", "n\"q");
        pocoRoot->appendChild(child);
        xml.start(name);
        xml.attribute("name", "n\"q");
        xml.text(std::string(name) == "hostname" ? "" : "v\xc3\xa9");
        xml.end();
    }
    for (const char* list : {"processors", "storages"}) {
        AutoPtr<Element> parent = document->createElement(list);
        xml.start(list);
        if (std::string(list) == "storages") {
            for (std::uint64_t i = 0; i < 2; ++i) {
                AutoPtr<Element> child = document->createElement("storage");
                child->setAttribute("size", std::to_string(i));
                child->setAttribute("device_name", "C:");
                parent->appendChild(child);
                xml.start("storage");
                xml.attribute("size", i);
                xml.attribute("device_name", "C:");
                xml.end();
            }
        }
        xml.end();
        pocoRoot->appendChild(parent);
    }
    AutoPtr<Element> logs = document->createElement("logs");
    pocoRoot->appendChild(logs);
    xml.start("logs");
    xml.finish();

    Poco::UTF8Encoding encoding;
    DOMWriter writer;
    writer.setEncoding("UTF-8", encoding);
    writer.setNewLine(XMLWriter::NEWLINE_LF);
    writer.setOptions(XMLWriter::WRITE_XML_DECLARATION | XMLWriter::PRETTY_PRINT);
    std::ostringstream out;
    writer.writeNode(out, document);

    std::string expected = out.str();
    Poco::replaceInPlace(expected, std::string("'"), std::string("&apos;"));
    EXPECT_EQ(mine, expected);
}

}  // namespace
}  // namespace quorvane
