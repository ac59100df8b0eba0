// The size and free space of mounted file systems: the one place the disk probe asks mounts for
// figures, so the call can be bounded or replaced without touching the probe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

struct FileSystemFigures {
    std::uint64_t size = 0;       // f_blocks times the fragment size, in bytes
    std::uint64_t freeSpace = 0;  // f_bavail (what unprivileged users can still write), in bytes
};

// statvfs of every path of one refresh, answered in order, bounded in time (BoundedStatvfs): a
// mount that does not answer in time keeps the figures of its last answer; nothing for a path
// whose call failed or that never answered.
std::vector<std::optional<FileSystemFigures>> statFileSystems(
    const std::vector<std::string>& machinePaths);

using FileSystemFiguresReader = std::function<std::vector<std::optional<FileSystemFigures>>(
    const std::vector<std::string>& machinePaths)>;

}  // namespace quorvane
