#include "CimDateTime.h"

#include <time.h>

#include <cstdio>

namespace quorvane {

std::optional<std::string> composeCimDateTime(const std::tm& local, long microseconds,
                                              long utcOffsetMinutes) {
    const long year = static_cast<long>(local.tm_year) + 1900;
    const long offset = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
    if (year < 0 || year > 9999 || microseconds < 0 || microseconds > 999999 || offset > 999) {
        return std::nullopt;
    }
    char text[32];
    const int length =
        std::snprintf(text, sizeof text, "%04ld%02d%02d%02d%02d%02d.%06ld%c%03ld", year,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                      microseconds, utcOffsetMinutes < 0 ? '-' : '+', offset);
    if (length != 25) {
        return std::nullopt;
    }
    return std::string(text, 25);
}

std::optional<std::string> localCimDateTime(std::int64_t secondsSinceEpoch, long microseconds) {
    const std::time_t seconds = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        return std::nullopt;
    }
    return composeCimDateTime(local, microseconds, local.tm_gmtoff / 60);
}

std::optional<WallClockTime> wallClockNow() {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return std::nullopt;
    }
    return WallClockTime{static_cast<std::int64_t>(now.tv_sec), now.tv_nsec / 1000};
}

}  // namespace quorvane
