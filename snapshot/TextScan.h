// Scanning of small texts without streams, copies or exceptions: the files of /proc, /sys and /etc
// the refresh reads every period, whose content is never trusted to be well formed.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvane {

// The white space of the C locale, whatever the process locale is, in UTF-8 bytes or UTF-16 units.
template <typename Char>
constexpr bool isSpace(Char c) {
    return c == Char(' ') || (c >= Char('\t') && c <= Char('\r'));
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
    while (position < text.size() && isSpace(text[position])) {
        ++position;
    }
    const std::size_t start = position;
    while (position < text.size() && !isSpace(text[position])) {
        ++position;
    }
    return text.substr(start, position - start);
}

// A word of decimal digits whose value fits in 64 bits; false, leaving `value` as it was, for
// anything else (a sign, a fraction, a number beyond 2^64 - 1).
inline bool parseDecimal(std::string_view word, std::uint64_t& value) {
    constexpr std::uint64_t kMax = UINT64_MAX;
    if (word.empty()) {
        return false;
    }
    std::uint64_t result = 0;
    for (const char c : word) {
        if (c < '0' || c > '9') {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (result > kMax / 10 || (result == kMax / 10 && digit > kMax % 10)) {
            return false;
        }
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

// `text` without leading and trailing white space.
inline std::string_view trimmedView(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace quorvane
