// Read access to the files of a system tree: the real one at "/" for the agent, a fixture tree
// in the tests. Every path the readers use is absolute within that tree.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// The files of /proc that every refresh reads, kept open between reads: a read from the start of
// an open /proc file gives its content at that moment, without an open and a close. A mount
// table also tells of every mount, unmount and move in its namespace through poll() (POLLPRI),
// so an unchanged one is not written out again. Files elsewhere (a fixture tree's) are opened
// for every read. Not thread-safe.
class OpenProcFiles {
  public:
    OpenProcFiles() = default;
    ~OpenProcFiles();
    OpenProcFiles(OpenProcFiles&& other) noexcept;
    OpenProcFiles& operator=(OpenProcFiles&& other) noexcept;
    OpenProcFiles(const OpenProcFiles&) = delete;
    OpenProcFiles& operator=(const OpenProcFiles&) = delete;

    // Nothing when the file cannot be read.
    std::optional<std::string> read(const std::string& machinePath);
    std::optional<std::string> readMountTable(const std::string& machinePath);

  private:
    struct OpenFile {
        int fd = -1;
        std::string text;  // a mount table's, as last read
    };
    std::optional<std::string> read(const std::string& machinePath, bool onlyWhenChanged);
    void closeAll();

    std::map<std::string, OpenFile> files_;
};

class SystemFiles {
  public:
    // `open`, when given, keeps the files read through readOften() and readMountTable() open.
    explicit SystemFiles(std::string root, OpenProcFiles* open = nullptr);

    // The path of `path` (absolute within the tree) on the machine.
    std::string locate(const std::string& path) const;

    // The whole file; nothing when it cannot be read.
    std::optional<std::string> readText(const std::string& path) const;
    // The same for a file read at every refresh, and for the mount table.
    std::optional<std::string> readOften(const std::string& path) const;
    std::optional<std::string> readMountTable(const std::string& path) const;

    // The first line with surrounding white space removed; nothing when the file cannot be read
    // or the line is empty.
    std::optional<std::string> readValue(const std::string& path) const;

    // The target of a symbolic link, as written in the link.
    std::optional<std::string> readLink(const std::string& path) const;

    // The names in a directory, sorted; empty when it cannot be listed.
    std::vector<std::string> listDirectory(const std::string& path) const;

    // The path with every symbolic link resolved, as a path on the machine; nothing when it does
    // not exist. Links in a fixture tree are relative, so they stay within it.
    std::optional<std::string> resolve(const std::string& path) const;

  private:
    std::string root_;
    OpenProcFiles* open_;
};

// Reading of files found through resolve(), whose paths are already on the machine.
std::optional<std::string> readFileAt(const std::string& machinePath);
// The whole content of an open file, read from its start whatever its offset; nothing on an
// error or when it is unreasonably large.
std::optional<std::string> readWhole(int fd);
std::optional<std::string> readValueAt(const std::string& machinePath);

}  // namespace quorvane
