#include "LinuxSession.h"

#include <cstdlib>

namespace quorvane {

std::string credentialsDirectory() {
    const char* directory = std::getenv("CREDENTIALS_DIRECTORY");
    return directory != nullptr ? directory : "";
}

Session::Session() = default;
Session::Session(std::unique_ptr<SessionState> state) : state_(std::move(state)) {}
Session::~Session() = default;

// The agent always reads the machine it runs on; nothing can fail before the first probe.
bool Session::open() {
    if (!state_) {
        state_ = std::make_unique<SessionState>();
    }
    // The reports give the uptime of the tree the probes read.
    setReportTimeRoot(state_->root);
    return true;
}

bool Session::retryOpen() {
    return state_ != nullptr;
}

void Session::close() {
    state_.reset();
}

}  // namespace quorvane
