// Linux stand-in for the Windows product names: the distribution's os-release file.
#pragma once

#include <map>
#include <string>

namespace quorvane {

// KEY=value assignments of an os-release text, with the file's shell-style quoting undone.
// Comments, blank lines and lines that are not assignments are skipped.
std::map<std::string, std::string> parseOsRelease(const std::string& text);

class OsReleaseReader {
  public:
    // Reads <rootDirectory>/etc/os-release, or <rootDirectory>/usr/lib/os-release when the first
    // is missing, on every call.
    explicit OsReleaseReader(std::string rootDirectory = "/");

    // NAME and VERSION_ID joined by a blank ("Debian GNU/Linux 12"); "Unknown" without a file.
    std::u16string productName() const;
    // PRETTY_NAME ("Debian GNU/Linux 12 (bookworm)"); "Unknown" without a file.
    std::u16string fullName() const;

  private:
    bool load(std::map<std::string, std::string>& values) const;

    std::string rootDirectory_;
};

}  // namespace quorvane
