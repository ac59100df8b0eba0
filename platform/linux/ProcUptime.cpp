#include "ProcUptime.h"

#include <limits>
#include <optional>
#include <utility>

namespace quorvane {

std::uint64_t parseProcUptime(std::string_view text) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t seconds = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (seconds > (kMax - digit) / 10) {
            return 0;
        }
        seconds = seconds * 10 + digit;
    }
    // The whole part must end at the fraction, a blank or the end of the text.
    if (i == 0 || (i < text.size() && text[i] != '.' && text[i] != ' ' && text[i] != '\n')) {
        return 0;
    }
    return seconds;
}

ProcUptimeReader::ProcUptimeReader(std::string rootDirectory) : path_(std::move(rootDirectory)) {
    while (!path_.empty() && path_.back() == '/') {
        path_.pop_back();
    }
    path_ += "/proc/uptime";
}

std::uint64_t ProcUptimeReader::seconds() const {
    const std::optional<std::string> text = file_.read(path_);
    if (!text) {
        return 0;
    }
    const std::string_view line(*text);
    return parseProcUptime(line.substr(0, line.find('\n')));
}

}  // namespace quorvane
