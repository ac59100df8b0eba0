// The agent's own identity (version, description, copyright, edition) read from its version
// resource and cached in the snapshot. The back end supplies the resource through
// VersionResourceReader; the caching and fallback rules live here once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quorvane {

struct SystemSnapshot;

// The sub-block paths of the four string values; only this language and code page is read.
inline constexpr char16_t kProductNamePath[] = u"\\StringFileInfo\\041104b0\\ProductName";
inline constexpr char16_t kProductVersionPath[] = u"\\StringFileInfo\\041104b0\\ProductVersion";
inline constexpr char16_t kProductEditionPath[] = u"\\StringFileInfo\\041104b0\\ProductEdition";
inline constexpr char16_t kLegalCopyrightPath[] = u"\\StringFileInfo\\041104b0\\LegalCopyRight";

// One read of the version resource, released when destroyed.
class VersionResource {
  public:
    virtual ~VersionResource() = default;
    // dwProductVersionMS and dwProductVersionLS of the fixed part; false when it is absent.
    virtual bool productVersion(std::uint32_t& versionMS, std::uint32_t& versionLS) const = 0;
    // The string value at the full sub-block path, up to its terminator; false when absent.
    virtual bool stringValue(const char16_t* subBlock, std::u16string& value) const = 0;
};

class VersionResourceReader {
  public:
    virtual ~VersionResourceReader() = default;
    // The agent's own version resource, or null when there is none (no path, no resource).
    virtual std::unique_ptr<VersionResource> read() = 0;
};

// The running agent's own version resource; each back end provides it.
VersionResourceReader& agentVersionResource();

// The report-time operations over a given reader. "unknown" is never cached, so a failed read is
// tried again on the next report; the edition is reloaded until a load finds all four values.
std::string agentVersionString(SystemSnapshot& snapshot, VersionResourceReader& reader);
std::string agentDescription(SystemSnapshot& snapshot, VersionResourceReader& reader);
std::string agentCopyright(SystemSnapshot& snapshot, VersionResourceReader& reader);
std::string agentEdition(SystemSnapshot& snapshot, VersionResourceReader& reader);

// Sets description and copyright to "(unknown)", then fills them and the edition only if all
// four string values are present.
void loadAgentVersionStrings(SystemSnapshot& snapshot, VersionResourceReader& reader);

// "%hu.%hu.%hu.%hu" of the two fixed-part words.
std::string formatProductVersion(std::uint32_t versionMS, std::uint32_t versionLS);

}  // namespace quorvane
