#include "Exporter.h"

#include <prometheus/text_serializer.h>

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/URI.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <ostream>
#include <sstream>

#include "Fetch.h"
#include "ProcessMetrics.h"
#include "Report.h"
#include "Translation.h"

namespace quorvane::exporter {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr double kDefaultScrapeTimeout = 10;
// Left for the answer to travel back to Prometheus, as the blackbox exporter leaves.
constexpr double kTimeoutMargin = 0.5;

const char* const kLevelNames[] = {"debug", "info", "warn", "error"};

// The reasons a probe fails, as counted in quorvane_exporter_probe_failures_total.
const char* failureReason(plugin::FetchFailure failure) {
    switch (failure) {
        case plugin::FetchFailure::timeout:
            return "timeout";
        case plugin::FetchFailure::refused:
            return "refused";
        case plugin::FetchFailure::unresolved:
            return "unresolved";
        case plugin::FetchFailure::status:
            return "http_status";
        case plugin::FetchFailure::oversized:
            return "oversized";
        case plugin::FetchFailure::connection:
            break;
    }
    return "connection";
}
const char* const kFailureReasons[] = {"timeout",   "refused",    "unresolved",  "http_status",
                                       "oversized", "connection", "not_a_report"};

std::string logfmtValue(const std::string& value) {
    const bool plain = !value.empty() && value.find_first_of(" \"=\\\n\r\t") == std::string::npos;
    if (plain) {
        return value;
    }
    std::string quoted = "\"";
    for (const char c : value) {
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            default:
                quoted += c;
        }
    }
    return quoted + "\"";
}

std::string serialize(const std::vector<prometheus::MetricFamily>& families) {
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, families);
    return out.str();
}

double unixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::optional<LogLevel> parseLogLevel(const std::string& text) {
    for (int level = 0; level < 4; ++level) {
        if (text == kLevelNames[level]) {
            return static_cast<LogLevel>(level);
        }
    }
    return std::nullopt;
}

void Log::write(LogLevel level, const std::string& message,
                const std::vector<std::pair<std::string, std::string>>& fields) {
    if (level < level_) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    std::string line = std::string("ts=") + stamp +
                       " level=" + kLevelNames[static_cast<int>(level)] +
                       " msg=" + logfmtValue(message);
    for (const auto& [key, value] : fields) {
        line += " " + key + "=" + logfmtValue(value);
    }
    line += "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    out_ << line << std::flush;
}

std::optional<ProbeTarget> parseTarget(const std::string& text) {
    ProbeTarget target;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        target.host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') {
                return std::nullopt;
            }
            port = text.substr(close + 2);
            if (port.empty()) {
                return std::nullopt;
            }
        }
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const std::size_t colon = text.find(':');
        target.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (port.empty()) {
            return std::nullopt;
        }
    } else {
        target.host = text;  // a name, an IPv4 address or a bare IPv6 address
    }
    if (target.host.empty() || target.host.find_first_of("/?#@[] \t\r\n") != std::string::npos) {
        return std::nullopt;
    }
    if (!port.empty()) {
        if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        target.port = static_cast<unsigned>(std::stoul(port));
        if (target.port == 0 || target.port > 65535) {
            return std::nullopt;
        }
    }
    return target;
}

double probeTimeout(const std::string& scrapeTimeoutHeader) {
    double scrapeTimeout = kDefaultScrapeTimeout;
    if (!scrapeTimeoutHeader.empty()) {
        char* end = nullptr;
        const double value = std::strtod(scrapeTimeoutHeader.c_str(), &end);
        if (end != scrapeTimeoutHeader.c_str() && *end == '\0' && std::isfinite(value) &&
            value > 0) {
            scrapeTimeout = value;
        }
    }
    // A very short time-out keeps half of itself rather than nothing.
    return std::max(scrapeTimeout - kTimeoutMargin, scrapeTimeout / 2);
}

Exporter::Exporter(Log& log, std::string version)
    : log_(log),
      version_(std::move(version)),
      registry_(std::make_shared<prometheus::Registry>()),
      probes_(prometheus::BuildCounter()
                  .Name("quorvane_exporter_probes_total")
                  .Help("Probes of agents, successful or not.")
                  .Register(*registry_)
                  .Add({})),
      failures_(prometheus::BuildCounter()
                    .Name("quorvane_exporter_probe_failures_total")
                    .Help("Probes that could not read the agent's report, by reason.")
                    .Register(*registry_)),
      dropped_(prometheus::BuildCounter()
                   .Name("quorvane_exporter_dropped_values_total")
                   .Help("Report values left out because they lie outside their range, by field.")
                   .Register(*registry_)),
      durations_(prometheus::BuildHistogram()
                     .Name("quorvane_exporter_probe_duration_seconds")
                     .Help("How long probes took, successful or not.")
                     .Register(*registry_)
                     .Add({}, prometheus::Histogram::BucketBoundaries{0.001, 0.0025, 0.005, 0.01,
                                                                      0.025, 0.05, 0.1, 0.25, 0.5,
                                                                      1, 2.5, 5, 10})),
      inFlight_(prometheus::BuildGauge()
                    .Name("quorvane_exporter_probes_in_flight")
                    .Help("Probes running now.")
                    .Register(*registry_)
                    .Add({})) {
    for (const char* reason : kFailureReasons) {
        failuresByReason_[reason] = &failures_.Add({{"reason", reason}});
    }
    for (const char* field : kRangeCheckedFields) {
        dropped_.Add({{"field", field}});
    }
    prometheus::BuildGauge()
        .Name("quorvane_exporter_build_info")
        .Help("The exporter's version; always 1.")
        .Register(*registry_)
        .Add({{"version", version_}})
        .Set(1);
}

void Exporter::failed(const ProbeTarget& target, const std::string& reason,
                      const std::string& text) {
    failuresByReason_.at(reason)->Increment();
    log_.write(LogLevel::warn, "probe failed",
               {{"target", plugin::agentAddress(target.host, target.port)},
                {"reason", reason},
                {"err", text}});
}

std::string Exporter::probe(const ProbeTarget& target, double timeoutSeconds) {
    const auto started = SteadyClock::now();
    const auto deadline = started + std::chrono::duration_cast<SteadyClock::duration>(
                                        std::chrono::duration<double>(timeoutSeconds));
    inFlight_.Increment();
    Translation translation;
    bool up = false;
    try {
        const std::string body = plugin::fetchReportBefore(target.host, target.port, deadline);
        const auto report = plugin::parseReport(body);
        translation = translateReport(*report, unixNow());
        up = true;
    } catch (const plugin::FetchError& error) {
        failed(target, failureReason(error.failure()), error.what());
    } catch (const plugin::ReportError& error) {
        failed(target, "not_a_report", error.what());
    }
    const double duration = std::chrono::duration<double>(SteadyClock::now() - started).count();
    probes_.Increment();
    durations_.Observe(duration);
    inFlight_.Decrement();
    for (const auto& [field, count] : translation.dropped) {
        if (count > 0) {
            dropped_.Add({{"field", field}}).Increment(count);
            log_.write(LogLevel::debug, "values out of range dropped",
                       {{"target", plugin::agentAddress(target.host, target.port)},
                        {"field", field},
                        {"count", std::to_string(count)}});
        }
    }
    std::vector<prometheus::MetricFamily> families =
        probeFamilies(up, duration, translation.dropped);
    std::move(translation.families.begin(), translation.families.end(),
              std::back_inserter(families));
    return serialize(families);
}

std::string Exporter::ownMetrics() const {
    std::vector<prometheus::MetricFamily> families = registry_->Collect();
    std::vector<prometheus::MetricFamily> process = processFamilies();
    std::move(process.begin(), process.end(), std::back_inserter(families));
    return serialize(families);
}

namespace {

constexpr const char* kExposition = "text/plain; version=0.0.4; charset=utf-8";

const char* const kIndexPage = R"(<!DOCTYPE html>
<html lang="en">
<head><meta charset="utf-8"><title>Quorvane exporter</title></head>
<body>
<h1>Quorvane exporter</h1>
<p>Reads the XML status report of a Quorvane agent and answers with Prometheus metrics.</p>
<form action="probe" method="get">
<label>Target <input type="text" name="target" placeholder="host[:port], port 5782 by default"></label>
<input type="submit" value="Probe">
</form>
<ul>
<li><a href="probe?target=127.0.0.1">probe?target=127.0.0.1</a>: one agent's metrics</li>
<li><a href="metrics">metrics</a>: the exporter's own metrics</li>
</ul>
</body>
</html>
)";

class Handler : public Poco::Net::HTTPRequestHandler {
  public:
    explicit Handler(Exporter& exporter) : exporter_(exporter) {}

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override {
        using Poco::Net::HTTPResponse;
        const Poco::URI uri(request.getURI());
        const std::string& path = uri.getPath();
        if (path != "/" && path != "/probe" && path != "/metrics") {
            return answer(response, HTTPResponse::HTTP_NOT_FOUND, "text/plain; charset=utf-8",
                          "Not found: see / for what this exporter serves.\n");
        }
        if (request.getMethod() != Poco::Net::HTTPRequest::HTTP_GET &&
            request.getMethod() != Poco::Net::HTTPRequest::HTTP_HEAD) {
            response.set("Allow", "GET, HEAD");
            return answer(response, HTTPResponse::HTTP_METHOD_NOT_ALLOWED,
                          "text/plain; charset=utf-8", "Only GET and HEAD.\n");
        }
        if (path == "/") {
            return answer(response, HTTPResponse::HTTP_OK, "text/html; charset=utf-8", kIndexPage);
        }
        if (path == "/metrics") {
            return answer(response, HTTPResponse::HTTP_OK, kExposition, exporter_.ownMetrics());
        }
        std::string targetText;
        bool given = false;
        for (const auto& [name, value] : uri.getQueryParameters()) {
            if (name == "target") {
                targetText = value;
                given = true;
            }
        }
        if (!given || targetText.empty()) {
            return answer(response, HTTPResponse::HTTP_BAD_REQUEST, "text/plain; charset=utf-8",
                          "The target parameter is missing: /probe?target=HOST[:PORT]\n");
        }
        const std::optional<ProbeTarget> target = parseTarget(targetText);
        if (!target) {
            return answer(response, HTTPResponse::HTTP_BAD_REQUEST, "text/plain; charset=utf-8",
                          "The target is not HOST[:PORT]: " + targetText + "\n");
        }
        const double timeout = probeTimeout(request.get("X-Prometheus-Scrape-Timeout-Seconds", ""));
        answer(response, HTTPResponse::HTTP_OK, kExposition, exporter_.probe(*target, timeout));
    }

  private:
    static void answer(Poco::Net::HTTPServerResponse& response,
                       Poco::Net::HTTPResponse::HTTPStatus status, const char* type,
                       const std::string& body) {
        response.setStatusAndReason(status);
        response.setContentType(type);
        response.sendBuffer(body.data(), body.size());
    }

    Exporter& exporter_;
};

class HandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
  public:
    explicit HandlerFactory(Exporter& exporter) : exporter_(exporter) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(
        const Poco::Net::HTTPServerRequest&) override {
        return new Handler(exporter_);
    }

  private:
    Exporter& exporter_;
};

}  // namespace

ExporterServer::ExporterServer(Exporter& exporter, const Poco::Net::ServerSocket& socket)
    : pool_("exporter", 2, kMaxConcurrentRequests, 60) {
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    params->setMaxThreads(kMaxConcurrentRequests);
    params->setMaxQueued(kMaxConcurrentRequests);
    // One request per connection: an idle keep-alive connection would hold a thread.
    params->setKeepAlive(false);
    params->setTimeout(Poco::Timespan(10, 0));
    server_ = std::make_unique<Poco::Net::HTTPServer>(new HandlerFactory(exporter), pool_, socket,
                                                      params);
}

ExporterServer::~ExporterServer() {
    server_->stopAll(true);
    server_.reset();
    pool_.joinAll();
}

}  // namespace quorvane::exporter
