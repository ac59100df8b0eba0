#include <gtest/gtest.h>

#include <Poco/Event.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Thread.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/FakePlatform.h"
#include "platform/Session.h"
#include "report/http/FrontDoor.h"
#include "report/http/RequestHandlers.h"
#include "snapshot/SystemSnapshot.h"
#include "support/RawHttp.h"

namespace quorvane {
namespace {

const char* const kNotFoundPage =
    "<html><head><title>Quorvane Agent</title></head><body>NOT FOUND<br /></body></html>";

// The agent's server pieces, assembled on an ephemeral loopback port.
class EndpointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::reset();
        refreshSnapshot(snapshot);
        Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
        params->setMaxQueued(10);
        params->setMaxThreads(2);
        socket = Poco::Net::ServerSocket(Poco::Net::SocketAddress("127.0.0.1", 0), 64);
        server = std::make_unique<FrontDoor>(socket, new MiniRequestHandlerFactory(&snapshot),
                                             params, limits);
        server->start();
        port = socket.address().port();
    }

    void TearDown() override { server.reset(); }

    static std::size_t headerCount(const test::RawResponse& response, const std::string& name) {
        return response.headers.count(name);
    }

    static std::string header(const test::RawResponse& response, const std::string& name) {
        const auto it = response.headers.find(name);
        return it == response.headers.end() ? std::string("<absent>") : it->second;
    }

    void expectReport(const test::RawResponse& response, const std::string& version) {
        EXPECT_EQ(response.statusLine, version + " 200 OK");
        EXPECT_EQ(header(response, "Content-Type"), "text/xml");
        EXPECT_EQ(header(response, "Pragma"), "no-cache");
        EXPECT_EQ(header(response, "Connection"), "Close");
        EXPECT_EQ(headerCount(response, "Content-Length"), 0u);
        EXPECT_EQ(headerCount(response, "Transfer-Encoding"), 0u);
        EXPECT_EQ(headerCount(response, "Server"), 0u);
        EXPECT_EQ(response.body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root ", 0), 0u);
        EXPECT_GE(response.body.size(), 8u);
        EXPECT_EQ(response.body.substr(response.body.size() - 8), "</root>\n");
        EXPECT_TRUE(response.closedByServer);
    }

    void expectNotFound(const test::RawResponse& response,
                        const std::string& version = "HTTP/1.1") {
        EXPECT_EQ(response.statusLine, version + " 404 Not Found");
        EXPECT_EQ(header(response, "Content-Type"), "text/html");
        EXPECT_EQ(header(response, "Connection"), "Close");
        EXPECT_EQ(headerCount(response, "Pragma"), 0u);
        EXPECT_EQ(headerCount(response, "Content-Length"), 0u);
        EXPECT_EQ(response.body, kNotFoundPage);
        EXPECT_TRUE(response.closedByServer);
    }

    // The agent's limits for request heads.
    FrontDoorLimits limits;
    Session session;
    SystemSnapshot snapshot{session};
    Poco::Net::ServerSocket socket;
    std::unique_ptr<FrontDoor> server;
    Poco::UInt16 port = 0;
};

TEST_F(EndpointTest, EveryTargetButTheBareWordReceivesTheReport) {
    expectReport(test::get(port, "/getdata"), "HTTP/1.1");
    expectReport(test::get(port, "/", "HTTP/1.0"), "HTTP/1.0");
    expectReport(test::get(port, "/GETDATA"), "HTTP/1.1");
    expectReport(test::get(port, "/status"), "HTTP/1.1");
    expectReport(test::get(port, "getdata?x=1"), "HTTP/1.1");
    expectReport(test::get(port, "http://127.0.0.1/getdata"), "HTTP/1.1");
}

TEST_F(EndpointTest, TheBareWordGetdataInAnyCaseReceivesTheNotFoundPage) {
    expectNotFound(test::get(port, "getdata"));
    expectNotFound(test::get(port, "GetData"));
    expectNotFound(test::get(port, "GETDATA"));
}

TEST_F(EndpointTest, MethodBodyAndKeepAliveDoNotChangeTheAnswer) {
    expectReport(test::exchange(port,
                                "POST /getdata HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n"
                                "Content-Type: text/plain\r\n\r\nhello"),
                 "HTTP/1.1");
    const auto keepAlive =
        test::exchange(port, "GET /getdata HTTP/1.1\r\nHost: x\r\nConnection: keep-alive\r\n\r\n");
    expectReport(keepAlive, "HTTP/1.1");
    EXPECT_EQ(keepAlive.raw.find("HTTP/1.1", 1), std::string::npos) << "only one response";
}

// The status line never repeats the client's version: HTTP/1.0 is answered as such, every other
// HTTP version as HTTP/1.1, and a request line without one is a bad request.
TEST_F(EndpointTest, TheStatusLineIsHttp10OrHttp11WhateverTheClientSent) {
    expectReport(test::get(port, "/", "HTTP/9.9"), "HTTP/1.1");
    expectReport(test::get(port, "/", "http/1.1"), "HTTP/1.1");
    expectReport(test::exchange(port, "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n"), "HTTP/1.1");
    expectNotFound(test::get(port, "getdata", "HTTP/1.0"), "HTTP/1.0");
    for (const char* versionless : {"GET /x\r\nHost: x\r\n\r\n", "GET / FTP/1.0\r\n\r\n"}) {
        const auto bad = test::exchange(port, versionless);
        EXPECT_EQ(bad.statusLine, "HTTP/1.1 400 Bad Request") << versionless;
        EXPECT_EQ(header(bad, "Connection"), "Close");
        EXPECT_EQ(bad.body, "");
        EXPECT_TRUE(bad.closedByServer);
    }
}

// HEAD gets a length of POCO's own and would keep the connection (and a connection
// thread) for the keep-alive time; it must end like every other method. A pipelined second
// request on the same connection is not answered.
TEST_F(EndpointTest, HeadIsAnsweredOnceAndTheConnectionCloses) {
    const std::string second = "GET /getdata HTTP/1.1\r\nHost: x\r\n\r\n";
    const auto report =
        test::exchange(port, "HEAD /getdata HTTP/1.1\r\nHost: x\r\n\r\n" + second, 3);
    EXPECT_EQ(report.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(header(report, "Content-Type"), "text/xml");
    EXPECT_EQ(header(report, "Pragma"), "no-cache");
    EXPECT_EQ(header(report, "Connection"), "Close");
    EXPECT_EQ(report.body, "");
    EXPECT_TRUE(report.closedByServer);

    const auto notFound = test::exchange(
        port, "HEAD getdata HTTP/1.1\r\nHost: x\r\nConnection: keep-alive\r\n\r\n" + second, 3);
    EXPECT_EQ(notFound.statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(header(notFound, "Content-Type"), "text/html");
    EXPECT_EQ(header(notFound, "Connection"), "Close");
    EXPECT_EQ(notFound.body, "");
    EXPECT_TRUE(notFound.closedByServer);
}

TEST_F(EndpointTest, ReportShowsTheSnapshotItIsGiven) {
    setTextField(snapshot.computerSystem.name, u"LOOPBACK-HOST");
    const auto response = test::get(port, "/getdata");
    EXPECT_NE(response.body.find("<hostname>LOOPBACK-HOST</hostname>"), std::string::npos);
    EXPECT_NE(response.body.find(" uc=\"1\""), std::string::npos);
}

TEST_F(EndpointTest, FailureWhileProducingTheReportGivesACleanServerError) {
    fake::reportValues().throwFromUptime = true;
    const auto failed = test::get(port, "/getdata");
    EXPECT_EQ(failed.statusLine, "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(failed.body, "");
    EXPECT_EQ(header(failed, "Connection"), "Close");
    EXPECT_TRUE(failed.closedByServer);

    // The lock was given up: the next refresh and report go through.
    fake::reportValues().throwFromUptime = false;
    refreshSnapshot(snapshot);
    expectReport(test::get(port, "/getdata"), "HTTP/1.1");
}

TEST_F(EndpointTest, ReportRequestedDuringARefreshShowsThatRefresh) {
    Poco::Event inRefresh;
    fake::probes().duringRefresh = [&inRefresh] {
        inRefresh.set();
        Poco::Thread::sleep(300);
    };
    std::thread refresher([this] { refreshSnapshot(snapshot); });
    inRefresh.wait();
    const auto response = test::get(port, "/getdata");
    refresher.join();
    fake::probes().duringRefresh = nullptr;
    EXPECT_NE(response.body.find(" uc=\"2\""), std::string::npos) << response.body.substr(0, 300);
}

// Everything a connection receives until the server closes it (bounded wait).
std::string receiveAll(Poco::Net::StreamSocket& socket, bool& closedByServer) {
    socket.setReceiveTimeout(Poco::Timespan(10, 0));
    std::string bytes;
    char buffer[4096];
    closedByServer = false;
    try {
        for (int n; (n = socket.receiveBytes(buffer, sizeof buffer)) > 0;) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        closedByServer = true;
    } catch (const Poco::Exception&) {
        // reset or timed out
    }
    return bytes;
}

bool isWholeReport(const std::string& answer) {
    return answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && answer.size() > 8 &&
           answer.compare(answer.size() - 8, 8, "</root>\n") == 0;
}

// Sixteen connections from one host, their requests sent while a refresh holds the report: two
// are served, ten wait in the queue and four at the front door, and none is cut for coming from
// a host that has others pending.
TEST_F(EndpointTest, SixteenConcurrentRequestsFromOneHostAreAllServed) {
    std::vector<Poco::Net::StreamSocket> clients(16);
    for (auto& client : clients) {
        client.connect(Poco::Net::SocketAddress("127.0.0.1", port));
    }
    Poco::Event inRefresh;
    fake::probes().duringRefresh = [&inRefresh] {
        inRefresh.set();
        Poco::Thread::sleep(500);
    };
    std::thread refresher([this] { refreshSnapshot(snapshot); });
    inRefresh.wait();
    const std::string request = "GET /getdata HTTP/1.1\r\nHost: x\r\n\r\n";
    for (auto& client : clients) {
        client.sendBytes(request.data(), static_cast<int>(request.size()));
    }
    int served = 0;
    for (auto& client : clients) {
        bool closed = false;
        served += isWholeReport(receiveAll(client, closed)) && closed ? 1 : 0;
    }
    refresher.join();
    fake::probes().duringRefresh = nullptr;
    EXPECT_EQ(served, 16);
}

// The server reads no body, yet a client still sending one after the response gets the whole
// response and the end of the stream, not a reset; a head too large to read gets a status line.
TEST_F(EndpointTest, AStreamedBodyAndAnOversizedHeadGetTheirWholeAnswer) {
    Poco::Net::StreamSocket post(Poco::Net::SocketAddress("127.0.0.1", port));
    const std::string head = "POST /getdata HTTP/1.1\r\nHost: x\r\nContent-Length: 5000\r\n\r\n";
    post.sendBytes(head.data(), static_cast<int>(head.size()));
    const std::string piece(1000, 'b');
    for (int i = 0; i < 5; ++i) {
        Poco::Thread::sleep(100);
        post.sendBytes(piece.data(), static_cast<int>(piece.size()));
    }
    bool closed = false;
    const std::string answer = receiveAll(post, closed);
    EXPECT_TRUE(isWholeReport(answer)) << answer.substr(0, 200);
    EXPECT_TRUE(closed) << "ended with a reset";

    std::string fields;
    for (int i = 0; i < 5; ++i) {
        fields += "X-Large-" + std::to_string(i) + ": " + std::string(8000, 'v') + "\r\n";
    }
    const auto tooLarge = test::exchange(port, "GET /getdata HTTP/1.1\r\n" + fields + "\r\n");
    EXPECT_EQ(tooLarge.statusLine, "HTTP/1.1 431 Request Header Fields Too Large");
    EXPECT_EQ(header(tooLarge, "Connection"), "Close");
    EXPECT_TRUE(tooLarge.closedByServer);
}

// A connection that goes away before its head arrives is let go at once, not held open until
// its deadline (5 s): a client that ends its sending side reads the end of the stream well before.
TEST_F(EndpointTest, ConnectionsAreLetGoOnceServedOrClosed) {
    expectReport(test::get(port, "/getdata"), "HTTP/1.1");
    const auto begin = std::chrono::steady_clock::now();
    std::vector<Poco::Net::StreamSocket> early(20);
    for (auto& connection : early) {
        connection.connect(Poco::Net::SocketAddress("127.0.0.1", port));
        connection.shutdownSend();
    }
    for (auto& connection : early) {
        bool closed = false;
        EXPECT_EQ(receiveAll(connection, closed), "");
        EXPECT_TRUE(closed);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took.count(), 4.0) << "held until the head's deadline";
}

// Silent and trickling clients with a short deadline (the connection time-out stays 60 s).
class HeadDeadlineTest : public EndpointTest {
  protected:
    HeadDeadlineTest() { limits.headDeadline = std::chrono::milliseconds(1500); }

    static double secondsSince(std::chrono::steady_clock::time_point begin) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }

    // Neither closed by the server nor answered yet: nothing to read, not even the end.
    static bool stillOpen(Poco::Net::StreamSocket& socket) {
        return !socket.poll(Poco::Timespan(0),
                            Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_ERROR);
    }

    // What a slow connection got: the bytes before the server closed it (bounded wait).
    static std::string received(Poco::Net::StreamSocket& socket) {
        socket.setReceiveTimeout(Poco::Timespan(5, 0));
        std::string bytes;
        char buffer[512];
        try {
            for (int n; (n = socket.receiveBytes(buffer, sizeof buffer)) > 0;) {
                bytes.append(buffer, static_cast<std::size_t>(n));
            }
        } catch (const Poco::TimeoutException&) {
            bytes += "<still open>";
        } catch (const Poco::Exception&) {
            // reset: closed as well
        }
        return bytes;
    }
};

TEST_F(HeadDeadlineTest, SlowHeadsAreClosedWithoutAResponseAndOthersAreServed) {
    const auto begin = std::chrono::steady_clock::now();
    std::vector<Poco::Net::StreamSocket> slow(3);
    for (auto& connection : slow) {
        connection.connect(Poco::Net::SocketAddress("127.0.0.1", port));
    }
    // The third one keeps sending, a byte every 50 ms, well within the 60 s time-out per byte.
    std::atomic<bool> stopTrickling{false};
    std::thread trickler([&slow, &stopTrickling] {
        const std::string head = "GET /getdata HTTP/1.1\r\nHost: x\r\nX-Pad: ";
        try {
            for (std::size_t i = 0; !stopTrickling && i < 200; ++i) {
                slow[2].sendBytes(i < head.size() ? &head[i] : "a", 1);
                Poco::Thread::sleep(50);
            }
        } catch (const Poco::Exception&) {
            // closed by the server
        }
    });
    // No connection thread waits for them: an ordinary client, accepted after them (the accept
    // queue keeps the order of connects), is served while they still send.
    expectReport(test::get(port, "/getdata"), "HTTP/1.1");
    for (auto& connection : slow) {
        EXPECT_TRUE(stillOpen(connection)) << "served only after the slow heads' deadline";
    }
    for (auto& connection : slow) {
        EXPECT_EQ(received(connection), "") << "closed without a response";
    }
    EXPECT_LT(secondsSince(begin), 5.0) << "the trickling client was closed as well";
    stopTrickling = true;
    trickler.join();

    // A head sent in pieces within the deadline is served, and once the head is in, a report
    // that takes longer than the deadline (a refresh holds the lock) is not cut.
    Poco::Net::StreamSocket pieces(Poco::Net::SocketAddress("127.0.0.1", port));
    const std::string first = "GET /getdata HT";
    const std::string rest = "TP/1.1\r\nHost: x\r\n\r\n";
    pieces.sendBytes(first.data(), static_cast<int>(first.size()));
    Poco::Thread::sleep(150);
    Poco::Event inRefresh;
    fake::probes().duringRefresh = [&inRefresh] {
        inRefresh.set();
        Poco::Thread::sleep(2000);
    };
    std::thread refresher([this] { refreshSnapshot(snapshot); });
    inRefresh.wait();
    pieces.sendBytes(rest.data(), static_cast<int>(rest.size()));
    const std::string answer = received(pieces);
    refresher.join();
    fake::probes().duringRefresh = nullptr;
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 200);
    EXPECT_NE(answer.find(" uc=\"2\""), std::string::npos);
    EXPECT_EQ(answer.substr(answer.size() - 8), "</root>\n");
}

}  // namespace
}  // namespace quorvane
