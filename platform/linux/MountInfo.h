// The fixed disks from /proc/self/mountinfo, /sys/dev/block and the labels udev publishes in
// /dev/disk/by-label. Their sizes come from FileSystemFigures.h.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class OpenProcFiles;

struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;        // the directory of the file system mounted here ("/" unless a bind)
    std::string mountPoint;  // unescaped
    std::string fileSystemType;
    std::string source;  // unescaped
};

// Malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(const std::string& text);

// mountinfo writes space, tab, newline and backslash as \040, \011, \012 and \134.
std::string unescapeMountField(std::string_view field);

// udev writes unsafe characters of a label link's name as \xHH.
std::string decodeLabelLinkName(const std::string& name);

struct FixedDisk {
    std::string mountPoint;
    std::string fileSystemType;
    std::optional<std::string> label;
};

// What /sys said about the block devices behind mounts, kept between reads: a device's link in
// /sys is read again every time (one readlink), the rest is looked up again only when the link
// points elsewhere.
struct BlockDeviceCache {
    struct Device {
        std::string linkTarget;
        std::string sysPath;  // resolved directory of the device in /sys
        bool removable = false;
    };
    std::map<std::string, Device> byLink;
};

// Local, non-removable, block-device-backed file systems, each device once (a bind mount of a
// device already listed is not another disk), in mount order.
class FixedDiskReader {
  public:
    // `open`, when given, keeps the mount table open and reads it again only when it changed.
    explicit FixedDiskReader(std::string root, BlockDeviceCache* cache = nullptr,
                             OpenProcFiles* open = nullptr);
    // Nothing when the mount table cannot be read.
    std::optional<std::vector<FixedDisk>> read() const;

  private:
    std::string root_;
    BlockDeviceCache* cache_;
    OpenProcFiles* open_;
};

}  // namespace quorvane
