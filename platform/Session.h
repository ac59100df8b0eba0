// The agent's one connection to the system its probes read: WMI in root\cimv2 on Windows, the
// file tree of /proc, /sys and /etc on Linux. The application opens it at start-up and closes it
// at shutdown; the snapshot hands it to the probes. Each back end keeps its own state behind it.
#pragma once

#include <memory>

namespace quorvane {

// Defined by each back end, privately.
struct SessionState;

class Session {
  public:
    Session();
    // A session over a state the caller built (tests point the Linux back end at a fixture
    // tree); open() keeps it.
    explicit Session(std::unique_ptr<SessionState> state);
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // True when the system can be read. The application goes on after false; the probes then
    // fail and keep their destinations.
    bool open();
    // Before every later refresh: a session that open() could not connect tries again, within a
    // bound of a few seconds, so a system service that comes up late is read from then on. True
    // when the system can be read; false after close().
    bool retryOpen();
    // Releases what the session holds; safe when not open, partly open or already closed.
    void close();

    // Null while not open; only the back end looks inside.
    SessionState* state() const { return state_.get(); }

  private:
    std::unique_ptr<SessionState> state_;
};

}  // namespace quorvane
