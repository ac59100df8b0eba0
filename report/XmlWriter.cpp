#include "XmlWriter.h"

#include <algorithm>

#include "snapshot/Utf8.h"

namespace quorvane {

XmlElement::XmlElement(std::string name) : name_(std::move(name)) {}

void XmlElement::setAttribute(const std::string& name, std::string value) {
    for (auto& attribute : attributes_) {
        if (attribute.first == name) {
            attribute.second = std::move(value);
            return;
        }
    }
    attributes_.emplace_back(name, std::move(value));
}

void XmlElement::appendText(const std::string& text) {
    text_ += text;
}

XmlElement& XmlElement::appendChild(std::string name) {
    children_.push_back(std::make_unique<XmlElement>(std::move(name)));
    return *children_.back();
}

namespace {

void writeIndent(std::string& out, int level) {
    out.push_back('\n');
    out.append(static_cast<std::size_t>(level), '\t');
}

void writeElement(std::string& out, const XmlElement& element, int level) {
    if (level > 0) {
        writeIndent(out, level);
    }
    out.push_back('<');
    out += element.name();

    std::vector<const std::pair<std::string, std::string>*> sorted;
    sorted.reserve(element.attributes().size());
    for (const auto& attribute : element.attributes()) {
        sorted.push_back(&attribute);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const auto* a, const auto* b) { return a->first < b->first; });
    for (const auto* attribute : sorted) {
        out.push_back(' ');
        out += attribute->first;
        out += "=\"";
        appendEscapedXml(out, attribute->second);
        out.push_back('"');
    }

    if (!element.children().empty()) {
        out.push_back('>');
        if (!element.text().empty()) {
            appendEscapedXml(out, element.text());
        }
        for (const auto& child : element.children()) {
            writeElement(out, *child, level + 1);
        }
        writeIndent(out, level);
        out += "</";
        out += element.name();
        out.push_back('>');
    } else if (!element.text().empty()) {
        out.push_back('>');
        appendEscapedXml(out, element.text());
        out += "</";
        out += element.name();
        out.push_back('>');
    } else {
        out += "/>";
    }
}

}  // namespace

void appendEscapedXml(std::string& out, const std::string& value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    const std::size_t size = value.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\'':
                    out += "&apos;";
                    break;
                case '\t':
                case '\n':
                case '\r':
                    out.push_back(static_cast<char>(c));
                    break;
                default:
                    out.push_back(c < 0x20 ? '?' : static_cast<char>(c));
                    break;
            }
            ++i;
            continue;
        }
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(bytes, size, i, codePoint);
        if (length == 0) {
            out.push_back('?');
            ++i;
        } else if (codePoint == 0xFFFE || codePoint == 0xFFFF) {
            out.push_back('?');
            i += length;
        } else {
            out.append(value, i, length);
            i += length;
        }
    }
}

std::string writeXmlDocument(const XmlElement& root) {
    std::string out;
    out.reserve(8192);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    writeElement(out, root, 0);
    out.push_back('\n');
    return out;
}

}  // namespace quorvane
