// The Windows back end's session state: the WMI connection. Private to the platform library.
#pragma once

#include "WmiSession.h"
#include "platform/Session.h"

namespace quorvane {

struct SessionState {
    explicit SessionState(WmiSession::Clock clock = nullptr) : wmi(clock) {}
    WmiSession wmi;
};

}  // namespace quorvane
