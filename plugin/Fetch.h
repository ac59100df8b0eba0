#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

namespace quorvane::plugin {

// Why a fetch failed, for a caller that counts failures by kind.
enum class FetchFailure { timeout, refused, unresolved, status, oversized, connection };

// The report could not be fetched; the text is the reason, naming the agent.
class FetchError : public std::runtime_error {
  public:
    explicit FetchError(const std::string& what, FetchFailure failure = FetchFailure::connection)
        : std::runtime_error(what), failure_(failure) {}
    FetchFailure failure() const noexcept { return failure_; }

  private:
    FetchFailure failure_;
};

// "HOST:PORT", with an IPv6 address in brackets.
std::string agentAddress(const std::string& host, unsigned port);

// One GET of the report, read to the end of the connection (the agent sends no length and
// closes). Every socket operation waits at most timeoutSeconds; a status other than 200, a body
// above a few megabytes or a broken connection throw FetchError.
std::string fetchReport(const std::string& host, unsigned port, unsigned timeoutSeconds);

// The same, with the whole exchange bounded by the deadline, however the server paces its
// bytes: at the deadline the connection is shut down and the fetch fails with
// FetchFailure::timeout. Name resolution is the one step no deadline can interrupt.
std::string fetchReportBefore(const std::string& host, unsigned port,
                              std::chrono::steady_clock::time_point deadline);

}  // namespace quorvane::plugin
