// Times in WMI's CIM datetime form: "yyyymmddHHMMSS.mmmmmmsUUU", local time followed by the
// offset from UTC in minutes, 25 characters.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace quorvane::linuxsource {

// Nothing when a part does not fit its digits.
std::optional<std::string> formatCimDateTime(const std::tm& local, long microseconds,
                                             long utcOffsetMinutes);

// A moment in the process's time zone.
std::optional<std::string> localCimDateTime(std::int64_t secondsSinceEpoch, long microseconds);

}  // namespace quorvane::linuxsource
