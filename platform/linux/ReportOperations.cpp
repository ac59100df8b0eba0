#include "report/ReportOperations.h"

#include "snapshot/SystemSnapshot.h"

namespace quorvane {

// TEMPORARY placeholders until version naming, the identity cache and the uptime reader land:
// each returns the fallback value of a failed lookup.
std::string agentVersionString(SystemSnapshot&) {
    return "unknown";
}

std::string agentDescription(SystemSnapshot& snapshot) {
    if (snapshot.cachedAgentDescription.empty()) {
        snapshot.cachedAgentDescription = "(unknown)";
        snapshot.cachedAgentCopyright = "(unknown)";
    }
    return snapshot.cachedAgentDescription;
}

std::string agentCopyright(SystemSnapshot& snapshot) {
    if (snapshot.cachedAgentCopyright.empty()) {
        snapshot.cachedAgentDescription = "(unknown)";
        snapshot.cachedAgentCopyright = "(unknown)";
    }
    return snapshot.cachedAgentCopyright;
}

std::string agentEdition(SystemSnapshot& snapshot) {
    return snapshot.cachedAgentEdition;
}

std::u16string windowsServicePack() {
    return std::u16string();
}
std::u16string windowsProductName() {
    return u"Unknown";
}
std::u16string windowsFullName() {
    return u"Unknown";
}
std::uint64_t systemUptimeSeconds() {
    return 0;
}

}  // namespace quorvane
