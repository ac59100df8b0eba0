#include "WindowsSession.h"

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

}  // namespace quorvane
