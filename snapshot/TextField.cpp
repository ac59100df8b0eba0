#include "TextField.h"

#include <algorithm>

namespace quorvane {

namespace {

bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

void setTextField(TextField& field, const char16_t* text, std::size_t length) {
    const std::size_t n = std::min(length, kTextFieldLength);
    std::copy(text, text + n, field.begin());
    std::fill(field.begin() + n, field.end(), u'\0');
}

void setTextField(TextField& field, const std::u16string& text) {
    setTextField(field, text.data(), text.size());
}

void clearTextField(TextField& field) {
    field.fill(u'\0');
}

std::size_t textFieldLength(const TextField& field) {
    return static_cast<std::size_t>(std::find(field.begin(), field.end(), u'\0') - field.begin());
}

std::u16string textFieldValue(const TextField& field) {
    return std::u16string(field.data(), textFieldLength(field));
}

std::string utf16ToUtf8(const char16_t* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const char32_t unit = text[i];
        if (isHighSurrogate(unit)) {
            if (i + 1 < length && isLowSurrogate(text[i + 1])) {
                const char32_t low = text[i + 1];
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
            } else {
                out.push_back('?');
            }
        } else if (isLowSurrogate(unit)) {
            out.push_back('?');
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& text) {
    return utf16ToUtf8(text.data(), text.size());
}

std::string textFieldToUtf8(const TextField& field) {
    return utf16ToUtf8(field.data(), textFieldLength(field));
}

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        std::size_t extra = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            cp = lead & 0x1F;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            cp = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07;
            minimum = 0x10000;
        } else {
            out.push_back(u'?');
            ++i;
            continue;
        }
        bool valid = i + extra < size;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            const unsigned char next = bytes[i + k];
            if ((next & 0xC0) != 0x80) {
                valid = false;
            } else {
                cp = (cp << 6) | (next & 0x3F);
            }
        }
        if (!valid || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'?');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return out;
}

}  // namespace quorvane
