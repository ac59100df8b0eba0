// Linux answers to the report-time operations: the same identity cache over the metadata compiled
// in, the distribution's os-release for the product names (read again only when it changes),
// /proc/uptime for the uptime.
#include "report/ReportOperations.h"

#include "EmbeddedVersionResource.h"
#include "LinuxSession.h"
#include "OsRelease.h"
#include "ProcUptime.h"
#include "platform/AgentIdentity.h"

namespace quorvane {

namespace {

struct ReportTimeSources {
    explicit ReportTimeSources(const std::string& root) : uptime(root), osRelease(root) {}
    ProcUptimeReader uptime;
    OsReleaseReader osRelease;
};

ReportTimeSources& sources() {
    static ReportTimeSources machine("/");
    return machine;
}

}  // namespace

void setReportTimeRoot(const std::string& root) {
    sources() = ReportTimeSources(root);
}

VersionResourceReader& agentVersionResource() {
    static EmbeddedVersionResourceReader reader;
    return reader;
}

// Linux has no service packs.
std::u16string windowsServicePack() {
    return std::u16string();
}

std::u16string windowsProductName() {
    return sources().osRelease.productName();
}

std::u16string windowsFullName() {
    return sources().osRelease.fullName();
}

std::uint64_t systemUptimeSeconds() {
    return sources().uptime.seconds();
}

std::string operatingSystemType() {
    return "linux";
}

}  // namespace quorvane
