// The one writer the report uses: it streams the document into a string as the elements are
// given. Output: declaration, LF line ends, one tab per nesting level, attributes sorted by name
// (a second value of a name replaces the first), markup characters escaped. An element with
// children puts its text (if any) right after its start tag; one with text only is written on one
// line; one with neither is written as an empty-element tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class XmlWriter {
  public:
    // Writes into `out`, which it clears; the declaration comes first.
    explicit XmlWriter(std::string& out);

    // Element and attribute names must stay valid until the element ends (the report passes
    // literals). Attributes and text belong to the element started last; text comes before the
    // element's children.
    void start(std::string_view name);
    void attribute(std::string_view name, std::string_view utf8);
    void attribute(std::string_view name, const char16_t* utf16, std::size_t length);
    void attribute(std::string_view name, std::uint64_t value);
    void text(std::string_view utf8);
    void text(const char16_t* utf16, std::size_t length);
    void end();

    // Ends every element still open and the document.
    void finish();

  private:
    struct Attribute {
        std::string_view name;
        std::size_t begin;  // the escaped value in values_
        std::size_t end;
    };
    struct Open {
        std::string_view name;
        bool hasChildren = false;
        bool hasText = false;
    };
    void closeStartTag();
    void beginText();
    void beginAttribute(std::string_view name);

    std::string& out_;
    std::vector<Open> open_;
    bool startTagOpen_ = false;
    std::vector<Attribute> attributes_;
    std::string values_;
};

// Appends `value` escaped for attribute values and text. Characters that XML 1.0 does not allow
// (control characters other than tab, LF and CR, U+FFFE, U+FFFF) and malformed UTF-8 become "?",
// so the result is always well-formed.
void appendEscapedXml(std::string& out, std::string_view value);
// The same from UTF-16; a surrogate that is not part of a pair becomes "?".
void appendEscapedXml(std::string& out, const char16_t* value, std::size_t length);

}  // namespace quorvane
