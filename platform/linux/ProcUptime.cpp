#include "ProcUptime.h"

#include <fstream>
#include <limits>
#include <utility>

namespace quorvane {

std::uint64_t parseProcUptime(const std::string& text) {
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

ProcUptimeReader::ProcUptimeReader(std::string rootDirectory)
    : rootDirectory_(std::move(rootDirectory)) {}

std::uint64_t ProcUptimeReader::seconds() const {
    std::string path = rootDirectory_;
    while (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    std::ifstream file(path + "/proc/uptime");
    std::string line;
    if (!file || !std::getline(file, line)) {
        return 0;
    }
    return parseProcUptime(line);
}

}  // namespace quorvane
