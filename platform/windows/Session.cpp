#include "WindowsSession.h"
#include "platform/wmi/WmiConnection.h"

namespace quorvane {

Session::Session() = default;
Session::Session(std::unique_ptr<SessionState> state) : state_(std::move(state)) {}
Session::~Session() = default;

// COM must already be initialised for the process. A session whose connection failed stays
// in place: its enumerations fail, so the probes keep their destinations.
bool Session::open() {
    if (!state_) {
        state_ = std::make_unique<SessionState>();
    }
    return state_->wmi.open();
}

bool Session::retryOpen() {
    return state_ && state_->wmi.retryOpen();
}

void Session::close() {
    if (state_) {
        state_->wmi.close();
        state_.reset();
    }
}

// The WMI probes read through the session's WmiSession; null once it is closed.
WmiConnection* wmiConnectionOf(Session& session) {
    SessionState* state = session.state();
    return state != nullptr ? &state->wmi : nullptr;
}

}  // namespace quorvane
