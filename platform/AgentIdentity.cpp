#include "AgentIdentity.h"

#include "snapshot/SystemSnapshot.h"
#include "snapshot/TextField.h"

namespace quorvane {

namespace {

const char kUnknownVersion[] = "unknown";
const char kUnknownText[] = "(unknown)";

}  // namespace

std::string formatProductVersion(std::uint32_t versionMS, std::uint32_t versionLS) {
    return std::to_string(versionMS >> 16) + "." + std::to_string(versionMS & 0xFFFFu) + "." +
           std::to_string(versionLS >> 16) + "." + std::to_string(versionLS & 0xFFFFu);
}

std::string agentVersionString(SystemSnapshot& snapshot, VersionResourceReader& reader) {
    if (!snapshot.cachedAgentVersion.empty()) {
        return snapshot.cachedAgentVersion;
    }
    const std::unique_ptr<VersionResource> resource = reader.read();
    std::uint32_t versionMS = 0;
    std::uint32_t versionLS = 0;
    if (!resource || !resource->productVersion(versionMS, versionLS)) {
        return kUnknownVersion;
    }
    snapshot.cachedAgentVersion = formatProductVersion(versionMS, versionLS);
    return snapshot.cachedAgentVersion;
}

void loadAgentVersionStrings(SystemSnapshot& snapshot, VersionResourceReader& reader) {
    snapshot.cachedAgentDescription = kUnknownText;
    snapshot.cachedAgentCopyright = kUnknownText;
    const std::unique_ptr<VersionResource> resource = reader.read();
    if (!resource) {
        return;
    }
    // All four must be there before any is used.
    std::u16string name;
    std::u16string version;
    std::u16string edition;
    std::u16string copyright;
    if (!resource->stringValue(kProductNamePath, name) ||
        !resource->stringValue(kProductVersionPath, version) ||
        !resource->stringValue(kProductEditionPath, edition) ||
        !resource->stringValue(kLegalCopyrightPath, copyright)) {
        return;
    }
    snapshot.cachedAgentDescription = utf16ToUtf8(name) + " version " + utf16ToUtf8(version);
    snapshot.cachedAgentEdition = utf16ToUtf8(edition);
    snapshot.cachedAgentCopyright = utf16ToUtf8(copyright);
}

std::string agentDescription(SystemSnapshot& snapshot, VersionResourceReader& reader) {
    if (snapshot.cachedAgentDescription.empty()) {
        loadAgentVersionStrings(snapshot, reader);
    }
    return snapshot.cachedAgentDescription;
}

std::string agentCopyright(SystemSnapshot& snapshot, VersionResourceReader& reader) {
    if (snapshot.cachedAgentCopyright.empty()) {
        loadAgentVersionStrings(snapshot, reader);
    }
    return snapshot.cachedAgentCopyright;
}

std::string agentEdition(SystemSnapshot& snapshot, VersionResourceReader& reader) {
    if (snapshot.cachedAgentEdition.empty()) {
        loadAgentVersionStrings(snapshot, reader);
    }
    return snapshot.cachedAgentEdition;
}

}  // namespace quorvane
