#include "ProcUptime.h"

#include <fcntl.h>
#include <unistd.h>

#include <limits>
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

ProcUptimeReader::~ProcUptimeReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

ProcUptimeReader::ProcUptimeReader(ProcUptimeReader&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_) {
    other.fd_ = -1;
}

ProcUptimeReader& ProcUptimeReader::operator=(ProcUptimeReader&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        path_ = std::move(other.path_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

std::uint64_t ProcUptimeReader::seconds() const {
    char buffer[128];
    ssize_t length = fd_ >= 0 ? ::pread(fd_, buffer, sizeof buffer, 0) : -1;
    if (length <= 0) {
        // Not open yet, or the open file stopped answering: open it again.
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            return 0;
        }
        length = ::pread(fd_, buffer, sizeof buffer, 0);
        if (length <= 0) {
            return 0;
        }
    }
    const std::string_view line(buffer, static_cast<std::size_t>(length));
    return parseProcUptime(line.substr(0, line.find('\n')));
}

}  // namespace quorvane
