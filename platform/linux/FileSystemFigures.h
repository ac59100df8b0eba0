// The size and free space of a mounted file system: the one place the disk probe asks a mount
// for figures, so the call can be bounded or replaced without touching the probe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quorvane::linuxsource {

struct FileSystemFigures {
    std::uint64_t size = 0;       // f_blocks times the fragment size, in bytes
    std::uint64_t freeSpace = 0;  // f_bavail (what unprivileged users can still write), in bytes
};

// statvfs of `machinePath`; nothing when the call fails.
std::optional<FileSystemFigures> statFileSystem(const std::string& machinePath);

using FileSystemFiguresReader =
    std::function<std::optional<FileSystemFigures>(const std::string& machinePath)>;

}  // namespace quorvane::linuxsource
