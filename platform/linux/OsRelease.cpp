#include "OsRelease.h"

#include <string_view>
#include <utility>

#include "SystemFiles.h"
#include "snapshot/TextField.h"
#include "snapshot/TextScan.h"

namespace quorvane {

namespace {

// The defaults the os-release format gives for a file without these keys.
const char kDefaultName[] = "Linux";

// What ends an unquoted shell word within a line; a CR is that of a file with CRLF line ends.
bool isShellBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool isKeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// One shell word: double-quoted parts (where \ escapes $ " \ and `), single-quoted parts and
// unquoted characters (where \ escapes any character), up to the first blank outside quotes.
std::string unquoteValue(std::string_view line, std::size_t position) {
    std::string value;
    std::size_t i = position;
    while (i < line.size() && !isShellBlank(line[i])) {
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

std::string valueOf(const std::map<std::string, std::string>& values, const char* key) {
    const auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
}

}  // namespace

std::map<std::string, std::string> parseOsRelease(const std::string& text) {
    std::map<std::string, std::string> values;
    forEachLine(text, [&values](std::string_view line) {
        std::size_t i = 0;
        while (i < line.size() && isShellBlank(line[i])) {
            ++i;
        }
        const std::size_t keyStart = i;
        while (i < line.size() && isKeyCharacter(line[i])) {
            ++i;
        }
        if (i == keyStart || i >= line.size() || line[i] != '=') {
            return;  // comment, blank line or no assignment
        }
        values[std::string(line.substr(keyStart, i - keyStart))] = unquoteValue(line, i + 1);
    });
    return values;
}

OsNames osNamesFrom(const std::string& text) {
    const std::map<std::string, std::string> values = parseOsRelease(text);
    std::string name = valueOf(values, "NAME");
    if (name.empty()) {
        name = kDefaultName;
    }
    const std::string versionId = valueOf(values, "VERSION_ID");
    if (!versionId.empty()) {
        name += " " + versionId;
    }
    const std::string prettyName = valueOf(values, "PRETTY_NAME");
    OsNames names;
    names.productName = utf8ToUtf16(name);
    names.fullName = utf8ToUtf16(prettyName.empty() ? std::string(kDefaultName) : prettyName);
    return names;
}

FileReadAnswer readSmallFile(const std::string& machinePath) {
    return systemFileReads().query({machinePath}).front();
}

OsReleaseReader::OsReleaseReader(SmallFileReader read) : read_(std::move(read)) {}

const OsNames& OsReleaseReader::refresh(const std::string& root) {
    const SystemFiles tree(root);
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        const FileReadAnswer answer = read_(tree.locate(path));
        if (answer.outcome == BoundedOutcome::Late) {
            return names_;
        }
        if (answer.outcome == BoundedOutcome::Answered && answer.result) {
            names_ = osNamesFrom(std::string(answer.result->text, answer.result->length));
            return names_;
        }
    }
    names_ = OsNames();
    return names_;
}

}  // namespace quorvane
