// Linux stand-in for the Windows product names: the distribution's os-release file.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <map>
#include <optional>
#include <string>

namespace quorvane {

// KEY=value assignments of an os-release text, with the file's shell-style quoting undone.
// Comments, blank lines and lines that are not assignments are skipped.
std::map<std::string, std::string> parseOsRelease(const std::string& text);

// Reads <rootDirectory>/etc/os-release, or <rootDirectory>/usr/lib/os-release when the first is
// missing. The names are kept: the file is read again only when a stat shows it changed (another
// inode, size or time stamp). Not thread-safe; the report calls it under snapshotMutex.
class OsReleaseReader {
  public:
    explicit OsReleaseReader(std::string rootDirectory = "/");

    // NAME and VERSION_ID joined by a blank ("Debian GNU/Linux 12"); "Unknown" without a file.
    // Looks at the file first (one stat).
    std::u16string productName() const;
    // PRETTY_NAME ("Debian GNU/Linux 12 (bookworm)"); "Unknown" without a file. The names as the
    // last productName() saw them: a report asks for the product name just before, so one stat
    // per report keeps both current. Looks at the file only when it was never read.
    std::u16string fullName() const;

  private:
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
        bool operator==(const FileIdentity& other) const;
    };
    void revalidate() const;

    std::string etcPath_;
    std::string usrLibPath_;
    mutable bool loaded_ = false;
    mutable std::optional<FileIdentity> identity_;  // of the file read last; nothing without one
    mutable std::u16string productName_;
    mutable std::u16string fullName_;
};

}  // namespace quorvane
