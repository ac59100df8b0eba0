#include "TextField.h"

#include <algorithm>

#include "Utf16.h"
#include "Utf8.h"

namespace quorvane {

void setTextField(TextField& field, const char16_t* text, std::size_t length) {
    const std::size_t n = std::min(length, kTextFieldLength);
    std::copy(text, text + n, field.begin());
    std::fill(field.begin() + n, field.end(), u'\0');
}

void setTextField(TextField& field, const std::u16string& text) {
    setTextField(field, text.data(), text.size());
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
    for (std::size_t i = 0; i < length;) {
        appendUtf8(out, nextUtf16CodePoint(text, length, i));
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& text) {
    return utf16ToUtf8(text.data(), text.size());
}

std::string textFieldToUtf8(const TextField& field) {
    return utf16ToUtf8(field.data(), textFieldLength(field));
}

namespace {

// Decodes UTF-8 into UTF-16 units, handing each unit to `put` until it returns false.
template <typename Put>
void decodeUtf8Units(const char* text, std::size_t size, Put&& put) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < size) {
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(bytes, size, i, cp);
        if (length == 0) {
            if (!put(u'?')) {
                return;
            }
            ++i;
            continue;
        }
        i += length;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            if (!put(static_cast<char16_t>(0xD800 + (cp >> 10))) ||
                !put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)))) {
                return;
            }
        } else if (!put(static_cast<char16_t>(cp))) {
            return;
        }
    }
}

}  // namespace

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    decodeUtf8Units(text.data(), text.size(), [&out](char16_t unit) {
        out.push_back(unit);
        return true;
    });
    return out;
}

void setTextFieldFromUtf8(TextField& field, std::string_view text) {
    std::size_t n = 0;
    decodeUtf8Units(text.data(), text.size(), [&field, &n](char16_t unit) {
        if (n == kTextFieldLength) {
            return false;
        }
        field[n++] = unit;
        return true;
    });
    std::fill(field.begin() + static_cast<std::ptrdiff_t>(n), field.end(), u'\0');
}

}  // namespace quorvane
