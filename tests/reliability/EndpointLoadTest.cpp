// The endpoint under load, assembled in-process over the fakes while refreshes run.
#include <gtest/gtest.h>

#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

#include "ReliabilitySupport.h"
#include "fakes/FakePlatform.h"

namespace quorvane::test {
namespace {

class EndpointLoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        fake::reportValues().agentVersion = "1.0.0.0";
        fake::reportValues().productName = u"Windows 10";
        fake::reportValues().fullName = u"Windows 10 Pro";
        fake::reportValues().uptime = 123456;
        refreshSnapshot(snapshot);
        populateSampleServer(snapshot);
        refresher = std::thread([this] {
            while (!stopRefreshing) {
                refreshSnapshot(snapshot);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }

    void TearDown() override {
        stopRefreshing = true;
        refresher.join();
    }

    Session session;
    SystemSnapshot snapshot{session};
    std::atomic<bool> stopRefreshing{false};
    std::thread refresher;
};

TEST_F(EndpointLoadTest, EightClientsTwentyThousandRequestsEachWholeAndWellFormed) {
    InProcessServer server(snapshot);
    constexpr int kClients = 8;
    constexpr int kPerClient = 2500;
    Tally tally;
    std::atomic<long> malformed{0};
    std::mutex firstFailureMutex;
    std::string firstFailure;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&] {
            for (int i = 0; i < kPerClient; ++i) {
                const Fetched fetched = fetchReport(server.port());
                std::string failure = fetched.what;
                if (fetched.outcome == Outcome::ok) {
                    failure = xmlError(fetched.body);
                    if (!failure.empty()) {
                        ++malformed;
                    }
                }
                tally.add(fetched.outcome);
                if (!failure.empty()) {
                    std::lock_guard<std::mutex> lock(firstFailureMutex);
                    if (firstFailure.empty()) {
                        firstFailure = failure;
                    }
                }
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    std::cout << "8 clients: " << tally.ok << " complete reports, " << tally.drops << " drops, "
              << tally.errors << " errors, " << malformed << " not well-formed" << std::endl;
    EXPECT_EQ(tally.ok, kClients * kPerClient) << firstFailure;
    EXPECT_EQ(malformed, 0) << firstFailure;
    EXPECT_TRUE(server.stop());
}

// 50 clients exceed 2 served + 10 queued: the server may drop what it cannot queue, but whatever
// it answers is a whole report, and it goes on serving afterwards.
TEST_F(EndpointLoadTest, FiftyClientsAreServedOrDroppedNeverAnsweredWrongly) {
    InProcessServer server(snapshot);
    constexpr int kClients = 50;
    constexpr int kPerClient = 40;
    Tally tally;
    std::mutex firstErrorMutex;
    std::string firstError;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&] {
            for (int i = 0; i < kPerClient; ++i) {
                const Fetched fetched = fetchReport(server.port());
                tally.add(fetched.outcome);
                if (fetched.outcome == Outcome::error) {
                    std::lock_guard<std::mutex> lock(firstErrorMutex);
                    if (firstError.empty()) {
                        firstError = fetched.what;
                    }
                }
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    std::cout << "50 clients: " << tally.ok << " complete reports, " << tally.drops << " drops, "
              << tally.errors << " errors of " << tally.total() << " requests" << std::endl;
    EXPECT_EQ(tally.total(), kClients * kPerClient);
    EXPECT_GT(tally.ok, 0);
    EXPECT_EQ(tally.errors, 0) << firstError;

    const Fetched after = fetchReport(server.port());
    EXPECT_EQ(after.outcome, Outcome::ok) << after.what;
    EXPECT_EQ(xmlError(after.body), "");
    EXPECT_TRUE(server.stop());
}

// What a slow connection got by now: true when the server closed it without a byte.
bool closedWithoutAResponse(Poco::Net::StreamSocket& socket) {
    socket.setReceiveTimeout(Poco::Timespan(5, 0));
    char byte = 0;
    try {
        return socket.receiveBytes(&byte, 1) == 0;
    } catch (const Poco::TimeoutException&) {
        return false;
    } catch (const Poco::Exception&) {
        return true;  // reset: closed as well
    }
}

// Neither closed by the server nor answered yet: nothing to read, not even the end.
bool stillOpen(Poco::Net::StreamSocket& socket) {
    return !socket.poll(Poco::Timespan(0),
                        Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_ERROR);
}

// Two connections that send nothing and two that send a byte every 200 ms (far within the 60 s
// time-out, which stays) wait at the front door, not in a connection thread: an ordinary client
// is served at once, and the request-head deadline (shortened here to 2 s; the agent's is 5 s)
// then closes all four without a response.
TEST_F(EndpointLoadTest, SilentAndTricklingClientsDoNotDelayAnOrdinaryClient) {
    FrontDoorLimits limits;
    limits.headDeadline = std::chrono::seconds(2);
    InProcessServer server(snapshot, Poco::Timespan(60, 0), limits);
    std::vector<Poco::Net::StreamSocket> slow(4);
    for (auto& socket : slow) {
        socket.connect(Poco::Net::SocketAddress("127.0.0.1", server.port()));
    }
    std::atomic<bool> stopTrickling{false};
    std::vector<std::thread> tricklers;
    for (std::size_t i = 2; i < slow.size(); ++i) {
        tricklers.emplace_back([&stopTrickling, &socket = slow[i]] {
            const std::string head = "GET /getdata HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ";
            try {
                for (std::size_t n = 0; !stopTrickling && n < 100; ++n) {
                    socket.sendBytes(n < head.size() ? &head[n] : "a", 1);
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                }
            } catch (const Poco::Exception&) {
                // closed by the server
            }
        });
    }
    // Accepted after the slow ones: the accept queue keeps the order of connects.
    const Fetched ordinary = fetchReport(server.port(), "/getdata", 20);
    int open = 0;
    for (auto& socket : slow) {
        open += stillOpen(socket) ? 1 : 0;
    }
    int closed = 0;
    for (auto& socket : slow) {
        closed += closedWithoutAResponse(socket) ? 1 : 0;
    }
    stopTrickling = true;
    for (auto& trickler : tricklers) {
        trickler.join();
    }
    EXPECT_EQ(ordinary.outcome, Outcome::ok) << ordinary.what;
    EXPECT_EQ(open, 4) << "served only after the slow heads' deadline";
    EXPECT_EQ(closed, 4);
    EXPECT_TRUE(server.stop());
}

// Clients that trickle their heads and connect again as soon as they are cut, from one address
// and then from 50, more than the pending set holds: a station polling from an address of its own
// is served on every poll, because the set always makes room for a new address and no connection
// thread or queue place ever waits for a head.
TEST_F(EndpointLoadTest, AStationIsServedBehindReconnectingSlowClientsFromOneOrManyAddresses) {
    FrontDoorLimits limits;
    limits.headDeadline = std::chrono::milliseconds(500);
    limits.maxPending = 64;
    InProcessServer server(snapshot, Poco::Timespan(60, 0), limits);
    std::vector<std::string> many;
    for (int i = 1; i <= 50; ++i) {
        many.push_back("127.0.1." + std::to_string(i));
    }
    const struct {
        const char* label;
        std::vector<std::string> sources;
        int perSource;
    } crowds[] = {{"12 from one address", {"127.0.0.1"}, 12}, {"200 from 50 addresses", many, 4}};
    for (const auto& crowd : crowds) {
        SlowCrowd slow(server.port(), crowd.sources, crowd.perSource,
                       std::chrono::milliseconds(100), std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        int served = 0;
        std::string firstFailure;
        for (int poll = 0; poll < 10; ++poll) {
            const Fetched fetched = fetchReport(server.port(), "/getdata", 5, "127.0.0.2");
            served += fetched.outcome == Outcome::ok ? 1 : 0;
            if (fetched.outcome != Outcome::ok && firstFailure.empty()) {
                firstFailure = fetched.what;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::cout << crowd.label << ": the station was served " << served << " of 10 times; "
                  << slow.closedByServer() << " slow connections cut meanwhile" << std::endl;
        EXPECT_EQ(served, 10) << crowd.label << ": " << firstFailure;
        EXPECT_GT(slow.closedByServer(), 0) << crowd.label;
    }
    EXPECT_TRUE(server.stop());
}

}  // namespace
}  // namespace quorvane::test
