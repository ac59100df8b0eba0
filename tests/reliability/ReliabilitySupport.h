// Helpers shared by the reliability suites: a classifying loopback client, an XML conformance
// check, the server pieces assembled in-process, and process figures from /proc.
#pragma once

#include "support/RawSocket.h"
#include "support/SampleSnapshot.h"
#include "support/SlowCrowd.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Timespan.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Session.h"
#include "report/http/FrontDoor.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane::test {

struct Fetched {
    Outcome outcome = Outcome::error;
    std::string body;
    std::string what;  // why it is not ok
};

// One GET on a new connection to 127.0.0.1:port, every wait bounded by `timeoutSeconds`, from
// the local address `source` (any of 127.0.0.0/8) when one is given; ok only with a complete
// report.
Fetched fetchReport(Poco::UInt16 port, const std::string& target = "/getdata",
                    double timeoutSeconds = 10, const std::string& source = std::string());

// Empty when `document` is well-formed XML for expat (through Poco's SAX parser), else the
// parser's message.
std::string xmlError(const std::string& document);

// The agent's server pieces on an ephemeral 127.0.0.1 port, over the link-time fakes, with the
// agent's limits (2 threads, 10 queued, 60 s connection time-out, the front door's defaults).
class InProcessServer {
  public:
    explicit InProcessServer(SystemSnapshot& snapshot,
                             Poco::Timespan connectionTimeout = Poco::Timespan(60, 0),
                             FrontDoorLimits limits = {});
    ~InProcessServer();

    Poco::UInt16 port() const { return port_; }
    // What the agent does at shutdown: abort open connections, wait until no connection thread
    // is left (false when that took longer than `seconds`), then close the socket.
    bool stop(double seconds = 30);

  private:
    Poco::Net::ServerSocket socket_;
    std::unique_ptr<FrontDoor> server_;
    Poco::UInt16 port_ = 0;
    bool stopped_ = false;
};

// The one quorvane-agent child of this process, found in /proc, or -1.
pid_t agentChildPid();
// VmRSS of a process in kB, or -1.
long residentKilobytes(pid_t pid);

}  // namespace quorvane::test
