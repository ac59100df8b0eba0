#pragma once

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/ThreadPool.h>

#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::exporter {

enum class LogLevel { debug, info, warn, error };
std::optional<LogLevel> parseLogLevel(const std::string& text);

// Lines in logfmt, as the Prometheus exporters write them: ts=... level=... msg="..." key=value.
class Log {
  public:
    Log(LogLevel level, std::ostream& out) : level_(level), out_(out) {}
    void write(LogLevel level, const std::string& message,
               const std::vector<std::pair<std::string, std::string>>& fields = {});

  private:
    LogLevel level_;
    std::ostream& out_;
    std::mutex mutex_;
};

// An agent to probe: "HOST[:PORT]" with the port 5782 by default, an IPv6 address in brackets
// when a port follows ("[::1]:5782"). Nothing else: no scheme, no path.
struct ProbeTarget {
    std::string host;
    unsigned port = 5782;
};
std::optional<ProbeTarget> parseTarget(const std::string& text);

// How long a probe may take: the scrape time-out Prometheus sends, less a margin for the answer
// to reach it; 10 s less the margin without one.
double probeTimeout(const std::string& scrapeTimeoutHeader);

// The probes and the exporter's own metrics; shared by every connection thread.
class Exporter {
  public:
    Exporter(Log& log, std::string version);

    // The exposition text of one probe: always answerable, quorvane_up 0 when the agent could
    // not be read (the reason goes to the log).
    std::string probe(const ProbeTarget& target, double timeoutSeconds);
    // The exporter's own metrics, process metrics included.
    std::string ownMetrics() const;
    const std::string& version() const { return version_; }

  private:
    void failed(const ProbeTarget& target, const std::string& reason, const std::string& text);

    Log& log_;
    std::string version_;
    std::shared_ptr<prometheus::Registry> registry_;
    prometheus::Counter& probes_;
    prometheus::Family<prometheus::Counter>& failures_;
    std::map<std::string, prometheus::Counter*> failuresByReason_;
    prometheus::Family<prometheus::Counter>& dropped_;
    prometheus::Histogram& durations_;
    prometheus::Gauge& inFlight_;
};

// The HTTP server: GET /probe?target=..., /metrics and /. Each request has a thread of its own
// (up to kMaxConcurrentRequests), so slow agents never hold up other probes.
class ExporterServer {
  public:
    static constexpr int kMaxConcurrentRequests = 1024;

    ExporterServer(Exporter& exporter, const Poco::Net::ServerSocket& socket);
    ~ExporterServer();
    void start() { server_->start(); }
    void stop() { server_->stopAll(true); }

  private:
    Poco::ThreadPool pool_;
    std::unique_ptr<Poco::Net::HTTPServer> server_;
};

}  // namespace quorvane::exporter
