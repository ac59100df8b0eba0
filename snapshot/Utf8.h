// The program's one UTF-8 decoder: the text fields and the XML writer both read UTF-8 through it,
// so they agree on what is malformed.
#pragma once

#include <cstddef>

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

}  // namespace quorvane
