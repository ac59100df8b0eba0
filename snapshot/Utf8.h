// The program's one UTF-8 decoder and encoder: the text fields and the XML writer both read and
// write UTF-8 through them, so they agree on what is malformed.
#pragma once

#include <cstddef>
#include <string>

namespace quorvane {

// Decodes the sequence that starts at bytes[i] (i < size). Returns its length (1 to 4) and its
// code point, or 0 when it is not a well-formed, shortest-form sequence of a code point that is no
// surrogate and not above U+10FFFF; the caller then treats the one byte at i as malformed.
inline std::size_t decodeUtf8(const unsigned char* bytes, std::size_t size, std::size_t i,
                              char32_t& codePoint) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t extra;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + extra >= size) {
        return 0;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        const unsigned char next = bytes[i + k];
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return extra + 1;
}

// Appends the UTF-8 form of a code point (at most U+10FFFF).
inline void appendUtf8(std::string& out, char32_t cp) {
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

}  // namespace quorvane
