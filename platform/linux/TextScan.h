// Scanning of the small text files in /proc without streams or copies: the refresh reads several
// of them every period.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvane {

// The white space of the C locale.
inline bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Calls fn(line) for every line, without its line end; a last line without one counts too.
template <typename Fn>
void forEachLine(std::string_view text, Fn&& fn) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            fn(text);
            return;
        }
        fn(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
}

// The next word of `text` from `position` on (words are separated by white space); empty when
// there is none. `position` moves past it.
inline std::string_view nextWord(std::string_view text, std::size_t& position) {
    while (position < text.size() && isBlank(text[position])) {
        ++position;
    }
    const std::size_t start = position;
    while (position < text.size() && !isBlank(text[position])) {
        ++position;
    }
    return text.substr(start, position - start);
}

// A word of 1 to 19 decimal digits (so it cannot leave 64 bits); false for anything else.
inline bool parseDecimal(std::string_view word, std::uint64_t& value) {
    if (word.empty() || word.size() > 19) {
        return false;
    }
    std::uint64_t result = 0;
    for (const char c : word) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<std::uint64_t>(c - '0');
    }
    value = result;
    return true;
}

inline std::string_view trimmedView(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace quorvane
