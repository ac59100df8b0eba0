#include "SystemSnapshot.h"

namespace quorvane {

Poco::FastMutex snapshotMutex;

SystemSnapshot::SystemSnapshot(WmiConnection& session) : wmiSession(session) {}

}  // namespace quorvane
