#include "MountInfo.h"

#include <map>

#include "SystemFiles.h"
#include "snapshot/TextScan.h"

namespace quorvane {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool parseDeviceNumber(std::string_view text, unsigned& major, unsigned& minor) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == text.size() || colon > 9 ||
        text.size() - colon - 1 > 9 ||
        text.find_first_not_of("0123456789:") != std::string_view::npos ||
        text.find(':', colon + 1) != std::string_view::npos) {
        return false;
    }
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    parseDecimal(text.substr(0, colon), first);
    parseDecimal(text.substr(colon + 1), second);
    major = static_cast<unsigned>(first);
    minor = static_cast<unsigned>(second);
    return true;
}

// Read-only image and optical file systems: Windows counts such volumes as CD-ROM drives, and
// a machine with many mounted images (snap packages) would otherwise fill the disk table.
bool isImageFileSystem(const std::string& type) {
    return type == "iso9660" || type == "udf" || type == "squashfs" || type == "erofs";
}

// File systems that span devices report an anonymous device number (major 0) although a block
// device holds them; they are found through the device they name. Others with major 0 are not
// on a block device of their own, whatever their source says: a FUSE mount may call itself
// "/dev/loop6", and a tmpfs may be given any name.
bool isFoundThroughSource(const std::string& type) {
    return type == "btrfs" || type == "bcachefs";
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

struct BlockDevice {
    std::string sysPath;  // resolved directory of the device in /sys
    bool removable = false;
};

}  // namespace

std::string unescapeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::string decodeLabelLinkName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            hexDigit(name[i + 2]) >= 0 && hexDigit(name[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hexDigit(name[i + 2]) * 16 + hexDigit(name[i + 3])));
            i += 3;
        } else {
            out.push_back(name[i]);
        }
    }
    return out;
}

std::vector<MountEntry> parseMountInfo(const std::string& text) {
    std::vector<MountEntry> entries;
    forEachLine(text, [&entries](std::string_view line) {
        // ID, parent, major:minor, root, mount point, options, optional fields, "-", type,
        // source, super options.
        std::size_t position = 0;
        std::string_view words[6];
        for (std::string_view& word : words) {
            word = nextWord(line, position);
        }
        if (words[5].empty()) {
            return;
        }
        std::string_view word = nextWord(line, position);
        while (!word.empty() && word != "-") {
            word = nextWord(line, position);
        }
        const std::string_view type = nextWord(line, position);
        const std::string_view source = nextWord(line, position);
        if (word.empty() || source.empty()) {
            return;
        }
        MountEntry entry;
        if (!parseDeviceNumber(words[2], entry.major, entry.minor)) {
            return;
        }
        entry.root = unescapeMountField(words[3]);
        entry.mountPoint = unescapeMountField(words[4]);
        entry.fileSystemType = std::string(type);
        entry.source = unescapeMountField(source);
        entries.push_back(std::move(entry));
    });
    return entries;
}

FixedDiskReader::FixedDiskReader(std::string root, BlockDeviceCache* cache, OpenProcFiles* open)
    : root_(std::move(root)), cache_(cache), open_(open) {}

std::optional<std::vector<FixedDisk>> FixedDiskReader::read() const {
    const SystemFiles files(root_, open_);
    const std::optional<std::string> table = files.readMountTable("/proc/self/mountinfo");
    if (!table) {
        return std::nullopt;
    }
    std::vector<FixedDisk> disks;

    // The block device behind a mount. Its device number leads there directly; btrfs and the like
    // are found by the device they name. Network, pseudo and FUSE file systems have neither, which
    // is what excludes them (fuseblk reports its block device's own number).
    auto lookUp = [this, &files](const std::string& link) -> std::optional<BlockDevice> {
        const std::optional<std::string> target = cache_ ? files.readLink(link) : std::nullopt;
        if (target) {
            const auto known = cache_->byLink.find(link);
            if (known != cache_->byLink.end() && known->second.linkTarget == *target) {
                return BlockDevice{known->second.sysPath, known->second.removable};
            }
        }
        const std::optional<std::string> sysPath = files.resolve(link);
        if (!sysPath) {
            return std::nullopt;
        }
        BlockDevice device;
        device.sysPath = *sysPath;
        // A partition's removable flag is its disk's, one directory up.
        const bool partition = readFileAt(*sysPath + "/partition").has_value();
        const std::string disk = partition ? parentOf(*sysPath) : *sysPath;
        device.removable = readValueAt(disk + "/removable") == std::optional<std::string>("1");
        if (target) {
            cache_->byLink[link] = {*target, device.sysPath, device.removable};
        }
        return device;
    };
    auto blockDeviceOf = [&lookUp](const MountEntry& entry) -> std::optional<BlockDevice> {
        if (entry.major != 0) {
            return lookUp("/sys/dev/block/" + std::to_string(entry.major) + ":" +
                          std::to_string(entry.minor));
        }
        if (isFoundThroughSource(entry.fileSystemType) && entry.source.rfind("/dev/", 0) == 0 &&
            baseName(entry.source) != "" && baseName(entry.source) != "." &&
            baseName(entry.source) != "..") {
            return lookUp("/sys/class/block/" + baseName(entry.source));
        }
        return std::nullopt;
    };

    struct Chosen {
        MountEntry entry;
        std::string deviceName;
    };
    std::vector<Chosen> chosen;
    std::map<std::string, std::size_t> byDevice;
    for (const MountEntry& entry : parseMountInfo(*table)) {
        if (isImageFileSystem(entry.fileSystemType)) {
            continue;
        }
        const std::optional<BlockDevice> device = blockDeviceOf(entry);
        if (!device || device->removable) {
            continue;
        }
        const auto seen = byDevice.find(device->sysPath);
        if (seen == byDevice.end()) {
            byDevice.emplace(device->sysPath, chosen.size());
            chosen.push_back({entry, baseName(device->sysPath)});
        } else if (entry.root == "/" && chosen[seen->second].entry.root != "/") {
            // The device's own mount, rather than a bind of one of its directories, names it.
            chosen[seen->second].entry = entry;
        }
    }

    std::map<std::string, std::string> labels;
    for (const std::string& link : files.listDirectory("/dev/disk/by-label")) {
        if (const auto target = files.readLink("/dev/disk/by-label/" + link)) {
            labels.emplace(baseName(*target), decodeLabelLinkName(link));
        }
    }

    for (const Chosen& mount : chosen) {
        FixedDisk disk;
        disk.mountPoint = mount.entry.mountPoint;
        disk.fileSystemType = mount.entry.fileSystemType;
        const auto label = labels.find(mount.deviceName);
        if (label != labels.end()) {
            disk.label = label->second;
        }
        disks.push_back(disk);
    }
    return disks;
}

}  // namespace quorvane
