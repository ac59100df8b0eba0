#include "FileSystemFigures.h"

#include <sys/statvfs.h>

namespace quorvane::linuxsource {

std::optional<FileSystemFigures> statFileSystem(const std::string& machinePath) {
    struct statvfs stats {};
    if (::statvfs(machinePath.c_str(), &stats) != 0) {
        return std::nullopt;
    }
    const std::uint64_t unit = stats.f_frsize != 0 ? stats.f_frsize : stats.f_bsize;
    FileSystemFigures figures;
    figures.size = static_cast<std::uint64_t>(stats.f_blocks) * unit;
    figures.freeSpace = static_cast<std::uint64_t>(stats.f_bavail) * unit;
    return figures;
}

}  // namespace quorvane::linuxsource
