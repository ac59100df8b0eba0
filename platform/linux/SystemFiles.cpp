#include "SystemFiles.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "snapshot/TextScan.h"

namespace quorvane {

namespace {

// Bounds every read: the files read here are small, and a broken file must not exhaust memory.
constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;

std::optional<std::string> firstLineValue(const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    const std::string_view value = trimmedView(std::string_view(*text).substr(0, text->find('\n')));
    if (value.empty()) {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace

std::optional<std::string> readFileAt(const std::string& machinePath) {
    const int fd = ::open(machinePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> content = readWhole(fd);
    ::close(fd);
    return content;
}

std::optional<std::string> readWhole(int fd) {
    // Files in /proc and /sys report no size, so the content is read until its end; most fit
    // the first read.
    std::string content;
    char buffer[16384];
    for (;;) {
        // pread from the content read so far: a kept /proc file starts again at 0 with no seek.
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(content.size()));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || content.size() + static_cast<std::size_t>(got) > kMaxFileBytes) {
            return std::nullopt;
        }
        // Only a read of 0 is the end: /proc hands a file of many records over a page at a time.
        if (got == 0) {
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

std::optional<std::string> readValueAt(const std::string& machinePath) {
    return firstLineValue(readFileAt(machinePath));
}

OpenProcFiles::~OpenProcFiles() {
    closeAll();
}

OpenProcFiles::OpenProcFiles(OpenProcFiles&& other) noexcept : files_(std::move(other.files_)) {
    other.files_.clear();
}

OpenProcFiles& OpenProcFiles::operator=(OpenProcFiles&& other) noexcept {
    if (this != &other) {
        closeAll();
        files_ = std::move(other.files_);
        other.files_.clear();
    }
    return *this;
}

void OpenProcFiles::closeAll() {
    for (const auto& [path, file] : files_) {
        ::close(file.fd);
    }
    files_.clear();
}

std::optional<std::string> OpenProcFiles::read(const std::string& machinePath) {
    return read(machinePath, false);
}

std::optional<std::string> OpenProcFiles::readMountTable(const std::string& machinePath) {
    return read(machinePath, true);
}

std::optional<std::string> OpenProcFiles::read(const std::string& machinePath,
                                               bool onlyWhenChanged) {
    const auto found = files_.find(machinePath);
    if (found != files_.end()) {
        OpenFile& file = found->second;
        if (onlyWhenChanged) {
            pollfd watch{file.fd, POLLPRI, 0};
            if (::poll(&watch, 1, 0) == 0) {
                return file.text;
            }
        }
        // After a reported change, the next poll reports any change made while this read runs.
        if (std::optional<std::string> text = readWhole(file.fd)) {
            if (onlyWhenChanged) {
                file.text = *text;
            }
            return text;
        }
        // The open file stopped answering: open it again.
        ::close(file.fd);
        files_.erase(found);
    }
    const int fd = ::open(machinePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> text = readWhole(fd);
    struct statfs fileSystem {};
    if (text && ::fstatfs(fd, &fileSystem) == 0 && fileSystem.f_type == PROC_SUPER_MAGIC) {
        files_[machinePath] = {fd, onlyWhenChanged ? *text : std::string()};
    } else {
        ::close(fd);
    }
    return text;
}

SystemFiles::SystemFiles(std::string root, OpenProcFiles* open)
    : root_(std::move(root)), open_(open) {
    // "/" and "/srv/tree/" become "" and "/srv/tree": every path starts with its own '/'.
    while (!root_.empty() && root_.back() == '/') {
        root_.pop_back();
    }
}

std::string SystemFiles::locate(const std::string& path) const {
    return root_ + path;
}

std::optional<std::string> SystemFiles::readText(const std::string& path) const {
    return readFileAt(locate(path));
}

std::optional<std::string> SystemFiles::readOften(const std::string& path) const {
    return open_ ? open_->read(locate(path)) : readText(path);
}

std::optional<std::string> SystemFiles::readMountTable(const std::string& path) const {
    return open_ ? open_->readMountTable(locate(path)) : readText(path);
}

std::optional<std::string> SystemFiles::readValue(const std::string& path) const {
    return firstLineValue(readText(path));
}

std::optional<std::string> SystemFiles::readLink(const std::string& path) const {
    // readlink alone: std::filesystem::read_symlink asks lstat first, once more per link.
    const std::string machinePath = locate(path);
    char target[4096];
    const ssize_t length = ::readlink(machinePath.c_str(), target, sizeof target);
    if (length < 0 || static_cast<std::size_t>(length) == sizeof target) {
        return std::nullopt;
    }
    return std::string(target, static_cast<std::size_t>(length));
}

std::vector<std::string> SystemFiles::listDirectory(const std::string& path) const {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(locate(path), error);
    if (error) {
        return names;
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> SystemFiles::resolve(const std::string& path) const {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(locate(path), error);
    if (error) {
        return std::nullopt;
    }
    return real.string();
}

}  // namespace quorvane
