#include "Thresholds.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace quorvane::plugin {

namespace {

// A plain decimal number: optional sign, digits, optional fraction. No exponent, no "inf" or
// "nan", whatever the C library would also accept.
std::optional<double> parseNumber(const std::string& text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    std::size_t digits = 0;
    bool point = false;
    for (std::size_t j = i; j < text.size(); ++j) {
        if (text[j] >= '0' && text[j] <= '9') {
            ++digits;
        } else if (text[j] == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    // from_chars takes no leading '+'.
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    double value = 0;
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

const char* stateName(State state) {
    switch (state) {
        case State::ok:
            return "OK";
        case State::warning:
            return "WARNING";
        case State::critical:
            return "CRITICAL";
        case State::unknown:
            break;
    }
    return "UNKNOWN";
}

std::optional<Range> parseRange(const std::string& text) {
    Range range;
    range.text = text;
    std::string rest = text;
    if (!rest.empty() && rest[0] == '@') {
        range.inside = true;
        rest.erase(0, 1);
    }
    const std::size_t colon = rest.find(':');
    if (colon == std::string::npos) {
        const auto end = parseNumber(rest);
        if (!end) {
            return std::nullopt;
        }
        range.end = *end;
    } else {
        const std::string start = rest.substr(0, colon);
        const std::string end = rest.substr(colon + 1);
        if (start == "~") {
            range.start = -std::numeric_limits<double>::infinity();
        } else if (const auto number = parseNumber(start)) {
            range.start = *number;
        } else {
            return std::nullopt;
        }
        if (end.empty()) {
            range.end = std::numeric_limits<double>::infinity();
        } else if (const auto number = parseNumber(end)) {
            range.end = *number;
        } else {
            return std::nullopt;
        }
    }
    if (range.start > range.end) {
        return std::nullopt;
    }
    return range;
}

std::optional<Range> parsePercentFree(const std::string& text) {
    if (text.size() < 2 || text.back() != '%' || text[0] == '-' || text[0] == '+') {
        return std::nullopt;
    }
    const auto percent = parseNumber(text.substr(0, text.size() - 1));
    if (!percent || *percent > 100) {
        return std::nullopt;
    }
    return parseRange(text.substr(0, text.size() - 1) + ":");
}

bool alerts(const Range& range, double value) {
    const bool within = value >= range.start && value <= range.end;
    return range.inside ? within : !within;
}

State evaluate(const Thresholds& thresholds, double value) {
    if (thresholds.critical && alerts(*thresholds.critical, value)) {
        return State::critical;
    }
    if (thresholds.warning && alerts(*thresholds.warning, value)) {
        return State::warning;
    }
    return State::ok;
}

}  // namespace quorvane::plugin
