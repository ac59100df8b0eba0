#include "SystemSnapshot.h"

namespace quorvane {

Poco::FastMutex snapshotMutex;

SystemSnapshot::SystemSnapshot(Session& session) : wmiSession(session) {}

}  // namespace quorvane
