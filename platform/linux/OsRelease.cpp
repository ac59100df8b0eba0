#include "OsRelease.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <utility>

#include "snapshot/TextField.h"

namespace quorvane {

namespace {

// Far larger than any real os-release file; a bigger one is cut here rather than read whole.
constexpr std::streamsize kMaxFileSize = 64 * 1024;

const char16_t kUnknown[] = u"Unknown";
// The defaults the os-release format gives for a file without these keys.
const char kDefaultName[] = "Linux";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool isKeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// One shell word: double-quoted parts (where \ escapes $ " \ and `), single-quoted parts and
// unquoted characters (where \ escapes any character), up to the first blank outside quotes.
std::string unquoteValue(const std::string& line, std::size_t position) {
    std::string value;
    std::size_t i = position;
    while (i < line.size() && !isBlank(line[i])) {
        const char c = line[i];
        if (c == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                const bool escaped = line[i] == '\\' && i + 1 < line.size() &&
                                     (line[i + 1] == '$' || line[i + 1] == '"' ||
                                      line[i + 1] == '\\' || line[i + 1] == '`');
                if (escaped) {
                    ++i;
                }
                value.push_back(line[i]);
            }
            ++i;  // closing quote, or the end of an unterminated value
        } else if (c == '\'') {
            for (++i; i < line.size() && line[i] != '\''; ++i) {
                value.push_back(line[i]);
            }
            ++i;
        } else if (c == '\\' && i + 1 < line.size()) {
            value.push_back(line[i + 1]);
            i += 2;
        } else {
            value.push_back(c);
            ++i;
        }
    }
    return value;
}

bool readFile(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    text.assign(kMaxFileSize, '\0');
    file.read(&text[0], kMaxFileSize);
    text.resize(static_cast<std::size_t>(file.gcount()));
    return !file.bad();
}

std::string underRoot(const std::string& root, const char* path) {
    std::string joined = root;
    while (!joined.empty() && joined.back() == '/') {
        joined.pop_back();
    }
    return joined + path;
}

std::string valueOf(const std::map<std::string, std::string>& values, const char* key) {
    const auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
}

}  // namespace

std::map<std::string, std::string> parseOsRelease(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t i = 0;
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        const std::size_t keyStart = i;
        while (i < line.size() && isKeyCharacter(line[i])) {
            ++i;
        }
        if (i == keyStart || i >= line.size() || line[i] != '=') {
            continue;  // comment, blank line or no assignment
        }
        values[line.substr(keyStart, i - keyStart)] = unquoteValue(line, i + 1);
    }
    return values;
}

OsReleaseReader::OsReleaseReader(std::string rootDirectory)
    : etcPath_(underRoot(rootDirectory, "/etc/os-release")),
      usrLibPath_(underRoot(rootDirectory, "/usr/lib/os-release")) {}

bool OsReleaseReader::FileIdentity::operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

void OsReleaseReader::revalidate() const {
    const std::string* path = &etcPath_;
    struct stat status {};
    if (::stat(etcPath_.c_str(), &status) != 0) {
        path = &usrLibPath_;
        if (::stat(usrLibPath_.c_str(), &status) != 0) {
            path = nullptr;
        }
    }
    std::optional<FileIdentity> identity;
    if (path != nullptr) {
        identity = FileIdentity{status.st_dev, status.st_ino, status.st_size, status.st_mtim,
                                status.st_ctim};
    }
    if (loaded_ && identity_ == identity) {
        return;
    }
    std::string text;
    if (path == nullptr || !readFile(*path, text)) {
        productName_ = kUnknown;
        fullName_ = kUnknown;
        // Nothing usable was read: look again next time even if the stat shows no change.
        identity.reset();
    } else {
        const std::map<std::string, std::string> values = parseOsRelease(text);
        std::string name = valueOf(values, "NAME");
        if (name.empty()) {
            name = kDefaultName;
        }
        const std::string versionId = valueOf(values, "VERSION_ID");
        if (!versionId.empty()) {
            name += " " + versionId;
        }
        productName_ = utf8ToUtf16(name);
        const std::string prettyName = valueOf(values, "PRETTY_NAME");
        fullName_ = utf8ToUtf16(prettyName.empty() ? std::string(kDefaultName) : prettyName);
    }
    identity_ = identity;
    loaded_ = true;
}

std::u16string OsReleaseReader::productName() const {
    revalidate();
    return productName_;
}

std::u16string OsReleaseReader::fullName() const {
    if (!loaded_) {
        revalidate();
    }
    return fullName_;
}

}  // namespace quorvane
