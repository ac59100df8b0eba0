// The agent identity report-time operations, over whichever version resource the back end has.
#include "platform/AgentIdentity.h"
#include "platform/ReportOperations.h"

namespace quorvane {

std::string agentVersionString(SystemSnapshot& snapshot) {
    return agentVersionString(snapshot, agentVersionResource());
}

std::string agentDescription(SystemSnapshot& snapshot) {
    return agentDescription(snapshot, agentVersionResource());
}

std::string agentCopyright(SystemSnapshot& snapshot) {
    return agentCopyright(snapshot, agentVersionResource());
}

std::string agentEdition(SystemSnapshot& snapshot) {
    return agentEdition(snapshot, agentVersionResource());
}

}  // namespace quorvane
