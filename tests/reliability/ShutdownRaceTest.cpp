// Refreshes, reports and a shutdown racing, in-process; CI runs this under ThreadSanitizer too.
// Each round follows the agent's shutdown order: stop the server and wait for its connection
// threads, stop the refreshes, and only then destroy the snapshot.
#include <gtest/gtest.h>

#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ReliabilitySupport.h"
#include "fakes/FakePlatform.h"
#include "report/StatusReport.h"

namespace quorvane::test {
namespace {

// A POST whose body follows the head: its connection comes back to the front door after the
// response, to be drained, while the server may be stopping.
Fetched postWithBody(Poco::UInt16 port) {
    Fetched fetched;
    try {
        Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", port));
        socket.setReceiveTimeout(Poco::Timespan(5, 0));
        const std::string head = "POST /getdata HTTP/1.1\r\nHost: x\r\nContent-Length: 200\r\n\r\n";
        const std::string half(100, 'b');
        socket.sendBytes(head.data(), static_cast<int>(head.size()));
        socket.sendBytes(half.data(), static_cast<int>(half.size()));
        std::this_thread::yield();
        socket.sendBytes(half.data(), static_cast<int>(half.size()));
        std::string raw;
        char buffer[8192];
        for (int n; (n = socket.receiveBytes(buffer, sizeof buffer)) > 0;) {
            raw.append(buffer, static_cast<std::size_t>(n));
        }
        const auto bodyAt = raw.find("\r\n\r\n");
        // A response the stop cut short is no report, as for fetchReport.
        if (raw.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && bodyAt != std::string::npos &&
            raw.size() >= 8 && raw.compare(raw.size() - 8, 8, "</root>\n") == 0) {
            fetched.outcome = Outcome::ok;
            fetched.body = raw.substr(bodyAt + 4);
        } else {
            fetched.outcome = raw.empty() ? Outcome::drop : Outcome::error;
        }
    } catch (const Poco::Exception& failure) {
        fetched.outcome = Outcome::drop;  // cut by the stop
        fetched.what = failure.displayText();
    }
    return fetched;
}

TEST(ShutdownRaceTest, StoppingWhileRefreshesAndReportsRunIsClean) {
    constexpr int kRounds = 8;
    fake::reset();
    Session session;
    long served = 0;
    long cutShort = 0;
    long wrong = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto snapshot = std::make_unique<SystemSnapshot>(session);
        refreshSnapshot(*snapshot);
        populateSampleServer(*snapshot);
        auto server = std::make_unique<InProcessServer>(*snapshot);
        const Poco::UInt16 port = server->port();

        std::atomic<bool> stopRefreshing{false};
        std::atomic<bool> stopClients{false};
        std::atomic<long> ok{0};
        std::thread refresher([&] {
            while (!stopRefreshing) {
                refreshSnapshot(*snapshot);
                std::this_thread::yield();
            }
        });
        Tally tally;
        std::atomic<long> malformed{0};
        std::vector<std::thread> clients;
        // More HTTP clients than threads and queue places, so that requests also wait for
        // their turn at the front door; every third posts a body.
        for (int c = 0; c < 14; ++c) {
            clients.emplace_back([&, c] {
                for (int i = 0; i < 400 && !stopClients; ++i) {
                    if (c == 0) {
                        // A report rendered directly, as a connection thread does.
                        if (xmlError(renderStatusReport(*snapshot)).empty()) {
                            ++ok;
                        } else {
                            ++malformed;
                        }
                        continue;
                    }
                    const Fetched fetched =
                        c % 3 == 1 ? postWithBody(port) : fetchReport(port, "/getdata", 5);
                    tally.add(fetched.outcome);
                    if (fetched.outcome == Outcome::ok) {
                        ++ok;
                        if (!xmlError(fetched.body).empty()) {
                            ++malformed;
                        }
                    }
                }
            });
        }
        // Let the race run, then stop the server in the middle of it.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (ok < 40 + round * 10 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // The direct renderer must stop before the snapshot goes; the HTTP clients go on
        // knocking at the stopping server.
        EXPECT_TRUE(server->stop()) << "connection threads still running after 30 s";
        stopClients = true;
        for (auto& client : clients) {
            client.join();
        }
        stopRefreshing = true;
        refresher.join();
        server.reset();
        snapshot.reset();

        served += tally.ok;
        cutShort += tally.drops + tally.errors;
        wrong += malformed;
        EXPECT_EQ(malformed, 0) << "round " << round;
    }
    std::cout << kRounds << " rounds: " << served << " reports over HTTP, " << cutShort
              << " requests cut short by the shutdown, " << wrong << " malformed" << std::endl;
    EXPECT_GT(served, 0);
}

}  // namespace
}  // namespace quorvane::test
