// Read access to the files of a system tree: the real one at "/" for the agent, a fixture tree
// in the tests. Every path the readers use is absolute within that tree.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvane::linuxsource {

class SystemFiles {
  public:
    explicit SystemFiles(std::string root);

    // The path of `path` (absolute within the tree) on the machine.
    std::string locate(const std::string& path) const;

    // The whole file; nothing when it cannot be read.
    std::optional<std::string> readText(const std::string& path) const;

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
};

// Reading of files found through resolve(), whose paths are already on the machine.
std::optional<std::string> readFileAt(const std::string& machinePath);
std::optional<std::string> readValueAt(const std::string& machinePath);

// Leading and trailing white space removed.
std::string trimmed(const std::string& text);

}  // namespace quorvane::linuxsource
