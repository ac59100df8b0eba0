// The exporter: what one report becomes (names, labels, units, values out of range dropped and
// counted), and the answers of its HTTP interface.

#include <gtest/gtest.h>

#include <prometheus/text_serializer.h>

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "Exporter.h"
#include "Report.h"
#include "Translation.h"
#include "support/RawHttp.h"

namespace quorvane::exporter {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void replace(std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

// What a probe of the document answers, read at the given time, the duration fixed at 0.25 s.
std::string probeText(const std::string& document, double scrapeTime) {
    const auto report = plugin::parseReport(document);
    Translation translation = translateReport(*report, scrapeTime);
    std::vector<prometheus::MetricFamily> families = probeFamilies(true, 0.25, translation.dropped);
    families.insert(families.end(), translation.families.begin(), translation.families.end());
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, families);
    return out.str();
}

const std::string kGolden = QUORVANE_GOLDEN_DIR "/populated_report.xml";

TEST(ExporterTranslationTest, GoldenDocumentGivesTheWrittenExposition) {
    // 42 refreshes: the mean is of the last 42 samples, the -1 among them dropped (1190 / 41).
    EXPECT_EQ(probeText(readFile(kGolden), 1796990000.75),
              readFile(QUORVANE_GOLDEN_DIR "/populated_report.prom"));
}

TEST(ExporterTranslationTest, ValuesOutOfRangeAreDroppedAndCounted) {
    std::string document = readFile(kGolden);
    replace(document, "memory_load=\"37\"", "memory_load=\"101\"");
    replace(document, ">123456</uptime>", ">0</uptime>");
    replace(document, "available=\"123456789012\"", "available=\"512110190593\"");  // C: > size
    replace(document, "uc=\"42\"", "uc=\"4000\"");
    // Every sample -1, as the agent's average then wraps to 4294967295.
    std::string history;
    for (int i = 0; i < 180; ++i) {
        history += i == 0 ? "-1" : ",-1";
    }
    const std::size_t open = document.find('>', document.find("<cpu-usage"));
    const std::size_t close = document.find("</cpu-usage>");
    document.replace(open + 1, close - open - 1, history);
    replace(document, "average=\"29\"", "average=\"4294967295\"");

    const std::string text = probeText(document, 1796990000);
    for (const char* absent : {"\nquorvane_memory_load_ratio ", "\nquorvane_boot_time_seconds ",
                               "\nquorvane_cpu_load_ratio ", "\nquorvane_cpu_load_15m_ratio ",
                               "4294967295", "42.94967295"}) {
        EXPECT_EQ(text.find(absent), std::string::npos) << absent << " in\n" << text;
    }
    for (const char* present :
         {"quorvane_probe_dropped_values{field=\"cpu_load_sample\"} 180\n",
          "quorvane_probe_dropped_values{field=\"memory\"} 1\n",
          "quorvane_probe_dropped_values{field=\"uptime\"} 1\n",
          "quorvane_cpu_load_15m_samples 0\n", "quorvane_refreshes_total 4000\n",
          "quorvane_memory_physical_total_bytes 17179869184\n"}) {
        EXPECT_NE(text.find(present), std::string::npos) << present << " not in\n" << text;
    }
}

// A server that accepts, reads the request and then sends its header a byte every 50 ms, for
// as long as the client listens (at most 30 s).
class TricklingServer {
  public:
    TricklingServer() : socket_(Poco::Net::SocketAddress("127.0.0.1", 0)) {
        thread_ = std::thread([this] {
            Poco::Net::StreamSocket client = socket_.acceptConnection();
            char request[4096];
            client.receiveBytes(request, sizeof request);
            const std::string head = "HTTP/1.1 200 OK\r\nX-Slow: ";
            client.sendBytes(head.data(), static_cast<int>(head.size()));
            for (int i = 0; i < 600 && !stop_; ++i) {
                try {
                    if (client.sendBytes("a", 1) != 1) {
                        break;
                    }
                } catch (const Poco::Exception&) {
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    ~TricklingServer() {
        stop_ = true;
        thread_.join();
    }
    Poco::UInt16 port() const { return socket_.address().port(); }

  private:
    Poco::Net::ServerSocket socket_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(ExporterHttpTest, AnswersMissingTargetsDeadAgentsAndSlowAgents) {
    std::ostringstream logText;
    Log log(LogLevel::info, logText);
    Exporter exporter(log, "9.9.9.9");
    Poco::Net::ServerSocket listening(Poco::Net::SocketAddress("127.0.0.1", 0));
    const Poco::UInt16 port = listening.address().port();
    ExporterServer server(exporter, listening);
    server.start();

    for (const char* target : {"/probe", "/probe?target=", "/probe?target=[::1",
                               "/probe?target=host:99999", "/probe?target=http://host/"}) {
        const test::RawResponse response = test::get(port, target);
        EXPECT_EQ(response.statusLine, "HTTP/1.1 400 Bad Request") << target;
    }

    // A port nobody listens on: the agent is down.
    Poco::UInt16 closed = 0;
    {
        Poco::Net::ServerSocket probe(Poco::Net::SocketAddress("127.0.0.1", 0));
        closed = probe.address().port();
    }
    const test::RawResponse dead =
        test::get(port, "/probe?target=127.0.0.1:" + std::to_string(closed));
    EXPECT_EQ(dead.statusLine, "HTTP/1.1 200 OK");
    EXPECT_NE(dead.body.find("\nquorvane_up 0\n"), std::string::npos) << dead.body;
    EXPECT_NE(dead.body.find("\nquorvane_probe_duration_seconds "), std::string::npos);
    EXPECT_EQ(dead.body.find("quorvane_agent_info"), std::string::npos);
    EXPECT_NE(logText.str().find("level=warn msg=\"probe failed\" target=127.0.0.1:" +
                                 std::to_string(closed) + " reason=refused"),
              std::string::npos)
        << logText.str();

    // An agent that trickles its header is cut off at the scrape time-out less the margin.
    TricklingServer slow;
    const test::RawResponse cut = test::exchange(
        port, "GET /probe?target=127.0.0.1:" + std::to_string(slow.port()) +
                  " HTTP/1.1\r\nHost: x\r\nX-Prometheus-Scrape-Timeout-Seconds: 1.5\r\n\r\n");
    EXPECT_NE(cut.body.find("\nquorvane_up 0\n"), std::string::npos) << cut.raw;

    const std::string own = test::get(port, "/metrics").body;
    for (const char* line : {"quorvane_exporter_probes_total 2\n",
                             "quorvane_exporter_probe_failures_total{reason=\"refused\"} 1\n",
                             "quorvane_exporter_probe_failures_total{reason=\"timeout\"} 1\n",
                             "quorvane_exporter_build_info{version=\"9.9.9.9\"} 1\n",
                             "process_resident_memory_bytes "}) {
        EXPECT_NE(own.find(line), std::string::npos) << line << " not in\n" << own;
    }
    const std::string index = test::get(port, "/").body;
    EXPECT_NE(index.find("href=\"metrics\""), std::string::npos);
    EXPECT_NE(index.find("href=\"probe?target="), std::string::npos);
    EXPECT_EQ(test::get(port, "/nothing").statusLine, "HTTP/1.1 404 Not Found");
}

}  // namespace
}  // namespace quorvane::exporter
