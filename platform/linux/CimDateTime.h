// Times in WMI's CIM datetime form: "yyyymmddHHMMSS.mmmmmmsUUU", local time followed by the
// offset from UTC in minutes, 25 characters.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace quorvane {

// The text of a broken-down local time, its microseconds and its offset; nothing when a part
// does not fit its digits.
std::optional<std::string> composeCimDateTime(const std::tm& local, long microseconds,
                                              long utcOffsetMinutes);

// A moment in the process's time zone.
std::optional<std::string> localCimDateTime(std::int64_t secondsSinceEpoch, long microseconds);

struct WallClockTime {
    std::int64_t seconds = 0;  // since the epoch
    long microseconds = 0;
};

// CLOCK_REALTIME; nothing when it cannot be read.
std::optional<WallClockTime> wallClockNow();
using WallClock = std::function<std::optional<WallClockTime>()>;

}  // namespace quorvane
