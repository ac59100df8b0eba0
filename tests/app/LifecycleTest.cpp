#include <gtest/gtest.h>

#include <Poco/Exception.h>
#include <signal.h>

#include <atomic>
#include <thread>
#include <vector>

#include "AgentProcess.h"
#include "support/RawHttp.h"

namespace quorvane::test {
namespace {

// SIGHUP is what a closed terminal sends: the counterpart of closing the console.
TEST(LifecycleTest, TerminationSignalsEndTheAgentWithExitCodeZero) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        AgentProcess agent;
        ASSERT_TRUE(agent.waitUntilServing()) << agent.output();
        agent.signal(signalNumber);
        EXPECT_EQ(agent.waitForExit(), 0) << "signal " << signalNumber << "\n" << agent.output();
    }
}

TEST(LifecycleTest, TheFirstReportAlreadyHoldsTheStartUpRefresh) {
    AgentProcess agent;
    ASSERT_TRUE(agent.waitUntilServing()) << agent.output();
    const auto response = get(5782, "/getdata");
    EXPECT_NE(response.body.find(" uc=\"1\""), std::string::npos) << response.body.substr(0, 400);
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(), 0);
}

TEST(LifecycleTest, ASecondAgentOnATakenPortEndsWithSeventy) {
    AgentProcess first;
    ASSERT_TRUE(first.waitUntilServing()) << first.output();
    AgentProcess second;
    EXPECT_EQ(second.waitForExit(), 70);
    EXPECT_NE(second.output().find("Address already in use"), std::string::npos) << second.output();
    // The first one is unaffected.
    EXPECT_TRUE(first.waitUntilServing(2.0));
    first.signal(SIGTERM);
    EXPECT_EQ(first.waitForExit(), 0) << first.output();
}

TEST(LifecycleTest, AnUndefinedOptionIsRefusedByTheCommandLineParser) {
    AgentProcess agent({"--no-such-option"});
    // POCO's Unix server application ends with its configuration-error code.
    EXPECT_EQ(agent.waitForExit(), 78);
    EXPECT_NE(agent.output().find("no-such-option"), std::string::npos) << agent.output();
}

// A second signal (Ctrl+C pressed twice, SIGTERM then SIGINT) arrives while the agent is
// already stopping, with connection, timer and accepting threads still running: it must not
// reach any of them and kill the process.
TEST(LifecycleTest, StoppingWhileClientsKeepRequestingIsOrderlyEvenWithASecondSignal) {
    for (int round = 0; round < 8; ++round) {
        AgentProcess agent;
        ASSERT_TRUE(agent.waitUntilServing()) << agent.output();
        std::atomic<bool> stop{false};
        std::atomic<int> served{0};
        std::vector<std::thread> clients;
        for (int i = 0; i < 4; ++i) {
            clients.emplace_back([&] {
                for (int n = 0; n < 2000 && !stop; ++n) {
                    try {
                        if (get(5782, "/getdata", "HTTP/1.1").statusLine.find(" 200 ") !=
                            std::string::npos) {
                            ++served;
                        }
                    } catch (const Poco::Exception&) {
                        // Refused or reset once the agent is going away.
                    }
                }
            });
        }
        while (served < 20) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        agent.signal(SIGTERM);
        agent.signal(SIGINT);
        const int code = agent.waitForExit(25.0);
        stop = true;
        for (auto& client : clients) {
            client.join();
        }
        EXPECT_EQ(code, 0) << "round " << round << "\n" << agent.output();
    }
}

}  // namespace
}  // namespace quorvane::test
