// A small XML element tree and the one writer the report uses. Output: declaration, LF line
// ends, one tab per nesting level, attributes sorted by name, markup characters escaped.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {

class XmlElement {
  public:
    explicit XmlElement(std::string name);

    const std::string& name() const { return name_; }

    // An element never holds two attributes of the same name: a second value replaces the first.
    void setAttribute(const std::string& name, std::string value);
    void appendText(const std::string& text);
    XmlElement& appendChild(std::string name);

    const std::vector<std::pair<std::string, std::string>>& attributes() const {
        return attributes_;
    }
    const std::string& text() const { return text_; }
    const std::vector<std::unique_ptr<XmlElement>>& children() const { return children_; }

  private:
    std::string name_;
    std::vector<std::pair<std::string, std::string>> attributes_;
    std::string text_;
    std::vector<std::unique_ptr<XmlElement>> children_;
};

// Writes the whole document for `root`. Characters XML 1.0 does not allow (control characters
// other than tab, LF and CR, U+FFFE, U+FFFF) and malformed UTF-8 become "?", so the result is
// always well-formed.
std::string writeXmlDocument(const XmlElement& root);

// Appends `value` escaped for attribute values and text.
void appendEscapedXml(std::string& out, const std::string& value);

}  // namespace quorvane
