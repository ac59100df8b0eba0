// Linux stand-in for the Windows product names: the distribution's os-release file.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "BoundedCall.h"

namespace quorvane {

// KEY=value assignments of an os-release text, with the file's shell-style quoting undone.
// Comments, blank lines and lines that are not assignments are skipped.
std::map<std::string, std::string> parseOsRelease(const std::string& text);

struct OsNames {
    std::u16string productName = u"Unknown";  // NAME and VERSION_ID: "Debian GNU/Linux 12"
    std::u16string fullName = u"Unknown";     // PRETTY_NAME: "Debian GNU/Linux 12 (bookworm)"
};

// The names an os-release text gives, with the format's defaults for missing keys.
OsNames osNamesFrom(const std::string& text);

// Reads a small file with a deadline: systemFileReads(), unless a test gives another.
using SmallFileReader = std::function<FileReadAnswer(const std::string& machinePath)>;
FileReadAnswer readSmallFile(const std::string& machinePath);

// <root>/etc/os-release, or <root>/usr/lib/os-release when the first cannot be read, read at
// every refresh with a deadline: the file points into /usr, which may be on a server that went
// away. A file that does not answer in time keeps the names last read; without a file both
// names are "Unknown". Not thread-safe; the refresh calls it under snapshotMutex.
class OsReleaseReader {
  public:
    explicit OsReleaseReader(SmallFileReader read = readSmallFile);

    const OsNames& refresh(const std::string& root);
    const OsNames& names() const { return names_; }

  private:
    SmallFileReader read_;
    OsNames names_;
};

}  // namespace quorvane
