#pragma once

#include <optional>
#include <string>

namespace quorvane::plugin {

// The plugin's exit codes, in the order a station ranks them for display.
enum class State { ok = 0, warning = 1, critical = 2, unknown = 3 };

const char* stateName(State state);

// A threshold range in the Monitoring Plugins syntax: [@]start:end, where "start:" may be left
// out when it is 0, an empty end is +infinity and "~" as start is -infinity. A value outside
// [start, end] alerts; with "@", a value inside it does. Both ends are inclusive.
struct Range {
    double start = 0;
    double end = 0;
    bool inside = false;
    std::string text;  // as given, for the performance data
};

// nullopt when the text is not a range (or its start lies above its end).
std::optional<Range> parseRange(const std::string& text);

// check_disk's form of a free-space threshold, "N%" with N from 0 to 100: alerts under N %, the
// range "N:" (which its text becomes, for the performance data). nullopt for anything else.
std::optional<Range> parsePercentFree(const std::string& text);

bool alerts(const Range& range, double value);

struct Thresholds {
    std::optional<Range> warning;
    std::optional<Range> critical;
};

// CRITICAL when the critical range alerts, else WARNING when the warning range does, else OK.
State evaluate(const Thresholds& thresholds, double value);

}  // namespace quorvane::plugin
