// Linux answers to the report-time operations: the same identity cache over the metadata compiled
// in, the distribution's os-release names as the latest refresh read them, /proc/uptime for the
// uptime. None of them touches a file that could hang: /proc cannot.
#include "platform/ReportOperations.h"

#include "EmbeddedVersionResource.h"
#include "LinuxSession.h"
#include "ProcUptime.h"
#include "platform/AgentIdentity.h"

namespace quorvane {

namespace {

ProcUptimeReader& uptime() {
    static ProcUptimeReader machine("/");
    return machine;
}

OsNames& reportedOsNames() {
    static OsNames names;
    return names;
}

}  // namespace

void setReportTimeRoot(const std::string& root) {
    uptime() = ProcUptimeReader(root);
}

void setReportedOsNames(const OsNames& names) {
    reportedOsNames() = names;
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
    return reportedOsNames().productName;
}

std::u16string windowsFullName() {
    return reportedOsNames().fullName;
}

std::uint64_t systemUptimeSeconds() {
    return uptime().seconds();
}

std::string operatingSystemType() {
    return "linux";
}

}  // namespace quorvane
