// Linux answers to the report-time operations: the same identity cache over the metadata compiled
// in, the distribution's os-release for the product names, /proc/uptime for the uptime.
#include "report/ReportOperations.h"

#include "EmbeddedVersionResource.h"
#include "OsRelease.h"
#include "ProcUptime.h"
#include "platform/AgentIdentity.h"

namespace quorvane {

namespace {

VersionResourceReader& agentResource() {
    static EmbeddedVersionResourceReader reader;
    return reader;
}

}  // namespace

std::string agentVersionString(SystemSnapshot& snapshot) {
    return agentVersionString(snapshot, agentResource());
}

std::string agentDescription(SystemSnapshot& snapshot) {
    return agentDescription(snapshot, agentResource());
}

std::string agentCopyright(SystemSnapshot& snapshot) {
    return agentCopyright(snapshot, agentResource());
}

std::string agentEdition(SystemSnapshot& snapshot) {
    return agentEdition(snapshot, agentResource());
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
