#include <gtest/gtest.h>

#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Thread.h>

#include <atomic>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "fakes/FakePlatform.h"
#include "platform/Session.h"
#include "report/StatusReport.h"
#include "report/http/RequestHandlers.h"
#include "snapshot/SystemSnapshot.h"
#include "support/RawHttp.h"

namespace quorvane {
namespace {

unsigned refreshCountIn(const std::string& document) {
    const auto at = document.find(" uc=\"");
    return at == std::string::npos ? 0u
                                   : static_cast<unsigned>(std::stoul(document.substr(at + 5)));
}

// Reports rendered in-process and over HTTP while refreshes run: every document is whole and
// shows a refresh count that never goes backwards for any one reader.
TEST(ConcurrencyTest, RefreshesAndReportsExcludeEachOther) {
    fake::reset();
    std::deque<CpuTimesSample> samples;
    for (std::uint64_t i = 0; i < 400; ++i) {
        samples.push_back({i * 30, i * 20, (i + 1) * 100});
    }
    fake::probes().cpuSamples = samples;
    Session session;
    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);

    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    params->setMaxQueued(10);
    params->setMaxThreads(2);
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0), 64);
    Poco::Net::HTTPServer server(new MiniRequestHandlerFactory(&snapshot), socket, params);
    server.start();
    const Poco::UInt16 port = socket.address().port();

    std::atomic<bool> done{false};
    std::thread refresher([&] {
        for (int i = 0; i < 300; ++i) {
            refreshSnapshot(snapshot);
        }
        done = true;
    });
    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&, r] {
            unsigned last = 0;
            int count = 0;
            while (!done || count < 20) {
                const std::string document =
                    r == 0 ? renderStatusReport(snapshot) : test::get(port, "/getdata").body;
                const unsigned uc = refreshCountIn(document);
                if (document.size() < 8 ||
                    document.compare(document.size() - 8, 8, "</root>\n") != 0 || uc < last) {
                    ++failures;
                }
                last = uc;
                ++count;
            }
        });
    }
    refresher.join();
    for (auto& reader : readers) {
        reader.join();
    }
    server.stopAll(true);
    while (server.currentThreads() > 0) {
        Poco::Thread::sleep(5);
    }
    EXPECT_EQ(failures, 0);
    Poco::FastMutex::ScopedLock lock(snapshotMutex);
    EXPECT_EQ(snapshot.refreshCount, 301u);
    EXPECT_EQ(snapshot.cpuUsageIndex, 121);  // 301 values: wrapped once, 121 past slot 0
}

}  // namespace
}  // namespace quorvane
