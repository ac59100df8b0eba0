#pragma once

#include <stdexcept>
#include <string>

namespace quorvane::plugin {

// The report could not be fetched; the text is the reason, naming the agent.
class FetchError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "HOST:PORT", with an IPv6 address in brackets.
std::string agentAddress(const std::string& host, unsigned port);

// One GET of the report, read to the end of the connection (the agent sends no length and
// closes). Every socket operation waits at most timeoutSeconds; a status other than 200, a body
// above a few megabytes or a broken connection throw FetchError.
std::string fetchReport(const std::string& host, unsigned port, unsigned timeoutSeconds);

}  // namespace quorvane::plugin
