// Refreshes, reports and a shutdown racing, in-process; CI runs this under ThreadSanitizer too.
// Each round follows the agent's shutdown order: stop the server and wait for its connection
// threads, stop the refreshes, and only then destroy the snapshot.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include "ReliabilitySupport.h"
#include "fakes/FakePlatform.h"
#include "report/StatusReport.h"

namespace quorvane::test {
namespace {

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
        for (int c = 0; c < 4; ++c) {
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
                    const Fetched fetched = fetchReport(port, "/getdata", 5);
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
