#include "EmbeddedVersionResource.h"

#include <string_view>

#include "AgentMetadata.h"

namespace quorvane {

namespace {

bool samePath(const char16_t* a, const char16_t* b) {
    return std::u16string_view(a) == std::u16string_view(b);
}

// Answers exactly what the Windows resource built from the same metadata holds: the fixed part
// and the four values of the 041104b0 table, nothing else.
class EmbeddedVersionResource : public VersionResource {
  public:
    bool productVersion(std::uint32_t& versionMS, std::uint32_t& versionLS) const override {
        versionMS = (std::uint32_t{metadata::kVersionMajor} << 16) | metadata::kVersionMinor;
        versionLS = (std::uint32_t{metadata::kVersionBuild} << 16) | metadata::kVersionRevision;
        return true;
    }

    bool stringValue(const char16_t* subBlock, std::u16string& value) const override {
        static const struct {
            const char16_t* path;
            const char16_t* value;
        } kValues[] = {
            {kProductNamePath, metadata::kProductName},
            {kProductVersionPath, metadata::kProductVersion},
            {kProductEditionPath, metadata::kProductEdition},
            {kLegalCopyrightPath, metadata::kLegalCopyright},
        };
        for (const auto& entry : kValues) {
            if (samePath(subBlock, entry.path)) {
                value = entry.value;
                return true;
            }
        }
        return false;
    }
};

}  // namespace

std::unique_ptr<VersionResource> EmbeddedVersionResourceReader::read() {
    return std::make_unique<EmbeddedVersionResource>();
}

}  // namespace quorvane
