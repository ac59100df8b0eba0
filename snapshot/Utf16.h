// The program's one UTF-16 decoder: the text fields, the XML writer and the report's datetime all
// step through UTF-16 with it, so they agree on what an unpaired surrogate is.
#pragma once

#include <cstddef>

namespace quorvane {

// The code point that starts at units[i] (i < length); `i` moves past it. A surrogate that is
// not half of a valid pair is one unit on its own and reads as '?', so it never swallows the
// unit after it.
inline char32_t nextUtf16CodePoint(const char16_t* units, std::size_t length, std::size_t& i) {
    const char32_t unit = units[i++];
    if (unit < 0xD800 || unit > 0xDFFF) {
        return unit;
    }
    if (unit <= 0xDBFF && i < length && units[i] >= 0xDC00 && units[i] <= 0xDFFF) {
        const char32_t low = units[i++];
        return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    return U'?';
}

}  // namespace quorvane
