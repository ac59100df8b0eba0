// Linux answers to the report-time operations: the same identity cache over the metadata compiled
// in, the distribution's os-release for the product names, /proc/uptime for the uptime.
#include "report/ReportOperations.h"

#include "EmbeddedVersionResource.h"
#include "OsRelease.h"
#include "ProcUptime.h"
#include "platform/AgentIdentity.h"

namespace quorvane {

VersionResourceReader& agentVersionResource() {
    static EmbeddedVersionResourceReader reader;
    return reader;
}

// Linux has no service packs.
std::u16string windowsServicePack() {
    return std::u16string();
}

std::u16string windowsProductName() {
    return OsReleaseReader().productName();
}

std::u16string windowsFullName() {
    return OsReleaseReader().fullName();
}

std::uint64_t systemUptimeSeconds() {
    return ProcUptimeReader().seconds();
}

std::string operatingSystemType() {
    return "linux";
}

}  // namespace quorvane
