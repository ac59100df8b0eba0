// The process's time zone set for one scope (TZ, as a POSIX rule such as "QRV-5:30" or a zone
// name), and the one before it restored at the end.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace quorvane {

class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* current = std::getenv("TZ")) {
            saved_ = current;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    std::optional<std::string> saved_;
};

// 5 h 30 min east of UTC, without daylight saving: no local time there passes for UTC.
inline constexpr const char* kZoneEastOfUtc = "QRV-5:30";

}  // namespace quorvane
