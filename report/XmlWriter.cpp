#include "XmlWriter.h"

#include <charconv>

#include "snapshot/Utf16.h"
#include "snapshot/Utf8.h"

namespace quorvane {

namespace {

void writeIndent(std::string& out, std::size_t level) {
    out.push_back('\n');
    out.append(level, '\t');
}

// One code point, already decoded, as the document carries it.
void appendEscapedCodePoint(std::string& out, char32_t cp) {
    switch (cp) {
        case '&':
            out += "&amp;";
            return;
        case '<':
            out += "&lt;";
            return;
        case '>':
            out += "&gt;";
            return;
        case '"':
            out += "&quot;";
            return;
        case '\'':
            out += "&apos;";
            return;
        case '\t':
        case '\n':
        case '\r':
            out.push_back(static_cast<char>(cp));
            return;
        default:
            break;
    }
    if (cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF) {
        out.push_back('?');
    } else {
        appendUtf8(out, cp);
    }
}

}  // namespace

namespace {

// Printable ASCII that needs no escape: copied in runs.
bool isPlain(unsigned char c) {
    return c >= 0x20 && c < 0x7F && c != '&' && c != '<' && c != '>' && c != '"' && c != '\'';
}

}  // namespace

void appendEscapedXml(std::string& out, std::string_view value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
    const std::size_t size = value.size();
    std::size_t i = 0;
    while (i < size) {
        std::size_t run = i;
        while (run < size && isPlain(bytes[run])) {
            ++run;
        }
        if (run > i) {
            out.append(value.data() + i, run - i);
            i = run;
            continue;
        }
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(bytes, size, i, codePoint);
        if (length == 0) {
            out.push_back('?');
            ++i;
        } else if (length > 1 && codePoint != 0xFFFE && codePoint != 0xFFFF) {
            // Well-formed and allowed: copied as it is.
            out.append(value.data() + i, length);
            i += length;
        } else {
            appendEscapedCodePoint(out, codePoint);
            i += length;
        }
    }
}

void appendEscapedXml(std::string& out, const char16_t* value, std::size_t length) {
    // Plain ASCII, the usual content of a field, is gathered and appended in one piece.
    char plain[256];
    std::size_t gathered = 0;
    auto flush = [&] {
        out.append(plain, gathered);
        gathered = 0;
    };
    std::size_t i = 0;
    while (i < length) {
        const char16_t unit = value[i];
        if (unit < 0x80 && isPlain(static_cast<unsigned char>(unit))) {
            if (gathered == sizeof plain) {
                flush();
            }
            plain[gathered++] = static_cast<char>(unit);
            ++i;
            continue;
        }
        flush();
        appendEscapedCodePoint(out, nextUtf16CodePoint(value, length, i));
    }
    flush();
}

XmlWriter::XmlWriter(std::string& out) : out_(out) {
    out_.clear();
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
}

void XmlWriter::closeStartTag() {
    if (!startTagOpen_) {
        return;
    }
    startTagOpen_ = false;
    // Few attributes per element: an insertion sort keeps them in name order, and equal names
    // keep the order they were given in (it is stable), so the last one given wins below.
    for (std::size_t i = 1; i < attributes_.size(); ++i) {
        const Attribute moving = attributes_[i];
        std::size_t j = i;
        for (; j > 0 && moving.name < attributes_[j - 1].name; --j) {
            attributes_[j] = attributes_[j - 1];
        }
        attributes_[j] = moving;
    }
    for (std::size_t i = 0; i < attributes_.size(); ++i) {
        if (i + 1 < attributes_.size() && attributes_[i + 1].name == attributes_[i].name) {
            continue;
        }
        const Attribute& attribute = attributes_[i];
        out_.push_back(' ');
        out_.append(attribute.name);
        out_ += "=\"";
        out_.append(values_, attribute.begin, attribute.end - attribute.begin);
        out_.push_back('"');
    }
    attributes_.clear();
    values_.clear();
}

void XmlWriter::start(std::string_view name) {
    closeStartTag();
    if (!open_.empty()) {
        Open& parent = open_.back();
        if (!parent.hasChildren && !parent.hasText) {
            out_.push_back('>');
        }
        parent.hasChildren = true;
        writeIndent(out_, open_.size());
    }
    out_.push_back('<');
    out_.append(name);
    open_.push_back(Open{name});
    startTagOpen_ = true;
}

void XmlWriter::beginAttribute(std::string_view name) {
    attributes_.push_back(Attribute{name, values_.size(), values_.size()});
}

void XmlWriter::attribute(std::string_view name, std::string_view utf8) {
    beginAttribute(name);
    appendEscapedXml(values_, utf8);
    attributes_.back().end = values_.size();
}

void XmlWriter::attribute(std::string_view name, const char16_t* utf16, std::size_t length) {
    beginAttribute(name);
    appendEscapedXml(values_, utf16, length);
    attributes_.back().end = values_.size();
}

void XmlWriter::attribute(std::string_view name, std::uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    beginAttribute(name);
    values_.append(digits, static_cast<std::size_t>(result.ptr - digits));
    attributes_.back().end = values_.size();
}

// Text goes right after the start tag's '>' (or after earlier text), never on a line of its own.
void XmlWriter::beginText() {
    closeStartTag();
    Open& element = open_.back();
    if (!element.hasChildren && !element.hasText) {
        out_.push_back('>');
    }
    element.hasText = true;
}

void XmlWriter::text(std::string_view utf8) {
    if (utf8.empty()) {
        return;
    }
    beginText();
    appendEscapedXml(out_, utf8);
}

void XmlWriter::text(const char16_t* utf16, std::size_t length) {
    if (length == 0) {
        return;
    }
    beginText();
    appendEscapedXml(out_, utf16, length);
}

void XmlWriter::end() {
    closeStartTag();
    const Open element = open_.back();
    open_.pop_back();
    if (element.hasChildren) {
        writeIndent(out_, open_.size());
    } else if (!element.hasText) {
        out_ += "/>";
        return;
    }
    out_ += "</";
    out_.append(element.name);
    out_.push_back('>');
}

void XmlWriter::finish() {
    while (!open_.empty()) {
        end();
    }
    out_.push_back('\n');
}

}  // namespace quorvane
