// The real agent process on port 5782: memory over a long run, hostile input, shutdown under load.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ReliabilitySupport.h"
#include "app/AgentProcess.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUORVANE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVANE_UNDER_ASAN 1
#endif
#endif

namespace quorvane::test {
namespace {

constexpr Poco::UInt16 kAgentPort = 5782;

// Runs `total` report requests from `clients` threads; returns the tally.
void requestReports(long total, int clients, Tally& tally, std::string& firstError) {
    std::atomic<long> tickets{total};
    std::mutex errorMutex;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            while (tickets.fetch_sub(1) > 0) {
                const Fetched fetched = fetchReport(kAgentPort);
                tally.add(fetched.outcome);
                if (fetched.outcome != Outcome::ok) {
                    std::lock_guard<std::mutex> lock(errorMutex);
                    if (firstError.empty()) {
                        firstError = fetched.what;
                    }
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

// The agent always binds 5782; another program on that port (another engineer's agent, say) would
// answer in its place. Wait, bounded, until nothing listens there.
bool agentPortIsFree(double seconds = 60) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = connectLoopback(kAgentPort, 5);
        if (fd < 0) {
            return true;
        }
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

bool stillRunning(pid_t pid) {
    return pid > 0 && kill(pid, 0) == 0;
}

// Resident memory after 100,000 requests within 1 MiB of that after the first 1,000. The first
// thousand warm up what the process keeps for good (allocator arenas of the connection threads,
// their stacks, lazily bound library code); after that, a leak of even 11 bytes per request
// would exceed the margin over 99,000 requests, while page-granular allocator noise stays far
// below it.
TEST(AgentReliabilityTest, ResidentMemoryHoldsOverAHundredThousandRequests) {
#ifdef QUORVANE_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer's quarantine and shadow memory make RSS meaningless; "
                    "LeakSanitizer checks the agent at its exit in the shutdown test instead";
#endif
    ASSERT_TRUE(agentPortIsFree()) << "port 5782 stays taken by another program";
    AgentProcess agent;
    ASSERT_TRUE(agent.waitUntilServing()) << agent.output();
    const pid_t pid = agentChildPid();
    ASSERT_GT(pid, 0);

    Tally tally;
    std::string firstError;
    requestReports(1000, 4, tally, firstError);
    const long afterThousand = residentKilobytes(pid);
    requestReports(99000, 4, tally, firstError);
    const long afterHundredThousand = residentKilobytes(pid);
    std::cout << "VmRSS after 1,000 requests: " << afterThousand
              << " kB; after 100,000: " << afterHundredThousand << " kB; growth "
              << afterHundredThousand - afterThousand << " kB (" << tally.ok << " reports, "
              << tally.drops << " drops, " << tally.errors << " errors)" << std::endl;
    EXPECT_EQ(tally.ok, 100000) << firstError;
    ASSERT_GT(afterThousand, 0);
    EXPECT_LE(afterHundredThousand - afterThousand, 1024);

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(), 0) << agent.output();
}

// ---------------------------------------------------------------------------------------------
// Hostile input.

const std::string kValid = "GET /getdata HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

enum class Ending { readAfterHalfClose, closeAtOnce, stopReading, reset };

struct Hostile {
    const char* kind;
    std::string bytes;
    Ending ending;
};

Hostile makeHostile(int index, std::mt19937& random) {
    auto below = [&random](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    auto garbage = [&](std::size_t length) {
        std::string out;
        for (std::size_t i = 0; i < length; ++i) {
            out.push_back(static_cast<char>(below(256)));
        }
        return out;
    };
    static const std::vector<std::string> badLines = {
        "GET\r\n\r\n",
        "GET /\r\n\r\n",
        " / HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1 trailing words\r\n\r\n",
        std::string("G\0T / HTTP/1.1\r\n\r\n", 18),
        "GET / FTP/1.0\r\n\r\n",
        "GET / HTTP/9.9\r\n\r\n",
        "GET / HTTP/1.1x\r\n\r\n",
        "\r\n\r\n\r\n\r\n",
        "GET / HTTP/1.1\n\n",
        "GET / HTTP/1.1\r\nHost\r\n\r\n",
        "GET / HTTP/1.1\r\n: no name\r\n\r\n",
        "GET " + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n",
        std::string(100, 'M') + " / HTTP/1.1\r\n\r\n",
        "GET /getdata?%ff%fe%00 HTTP/1.1\r\n\r\n",
        "GET http://[::1 HTTP/1.1\r\n\r\n",
        "GET getdata HTTP/1.1\r\n\r\n",
        std::string("\xff\xfe\0G\0E\0T\r\n\r\n", 12),
        "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nZZZ\r\nnot a chunk\r\n",
        "POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\nabc",
        "POST / HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 1000000000\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\nConnection: keep-alive, upgrade\r\n"
        "Upgrade: websocket\r\n\r\n",
    };
    switch (index % 10) {
        case 0:
            return {"garbage bytes", garbage(1 + static_cast<std::size_t>(below(3000))),
                    Ending::readAfterHalfClose};
        case 1:
            return {"bad request line or header",
                    badLines[static_cast<std::size_t>(below(static_cast<int>(badLines.size())))],
                    Ending::readAfterHalfClose};
        case 2: {
            std::string request = "GET / HTTP/1.1\r\n";
            switch (below(4)) {
                case 0:
                    request += std::string(1000, 'N') + ": v\r\n";
                    break;
                case 1:
                    request += "X-Long: " + std::string(20000, 'v') + "\r\n";
                    break;
                case 2:
                    for (int i = 0; i < 200; ++i) {
                        request += "X-" + std::to_string(i) + ": v\r\n";
                    }
                    break;
                default:
                    request += "X-Folded: a\r\n" + std::string(50000, ' ') + "b\r\n";
                    break;
            }
            return {"oversized header", request + "\r\n", Ending::readAfterHalfClose};
        }
        case 3:
            return {
                "partial request, then close",
                kValid.substr(0, static_cast<std::size_t>(below(static_cast<int>(kValid.size())))),
                Ending::closeAtOnce};
        case 4:
            return {"client that stops reading", kValid + kValid + kValid, Ending::stopReading};
        case 5:
            return {"valid request followed by garbage", kValid + garbage(200),
                    Ending::readAfterHalfClose};
        case 6:
            return {"garbage, then reset", garbage(1 + static_cast<std::size_t>(below(500))),
                    Ending::reset};
        case 7:
            return {"connect and close without a byte", std::string(), Ending::closeAtOnce};
        case 8: {
            std::string request = kValid;
            request[static_cast<std::size_t>(below(static_cast<int>(request.size())))] =
                static_cast<char>(below(256));
            return {"one byte of a valid request flipped", request, Ending::readAfterHalfClose};
        }
        default:
            return {"request line split byte by byte", kValid, Ending::readAfterHalfClose};
    }
}

// Sends one hostile exchange; true when the agent answered with something (for the tally).
bool runHostile(const Hostile& hostile) {
    const int fd = connectLoopback(kAgentPort, 5.0);
    if (fd < 0) {
        return false;
    }
    bool answered = false;
    switch (hostile.ending) {
        case Ending::readAfterHalfClose:
            if (std::strcmp(hostile.kind, "request line split byte by byte") == 0) {
                for (const char c : hostile.bytes) {
                    sendAll(fd, std::string(1, c));
                }
            } else {
                sendAll(fd, hostile.bytes);
            }
            shutdown(fd, SHUT_WR);
            {
                std::string received;
                receiveAll(fd, received, 1u << 20);
                answered = !received.empty();
            }
            break;
        case Ending::closeAtOnce:
            sendAll(fd, hostile.bytes);
            break;
        case Ending::stopReading: {
            const int small = 1;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            sendAll(fd, hostile.bytes);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            break;  // closed with unread data: the server sees a reset
        }
        case Ending::reset: {
            sendAll(fd, hostile.bytes);
            const linger abort{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            break;
        }
    }
    close(fd);
    return answered;
}

TEST(AgentReliabilityTest, HostileInputNeverBringsTheAgentDown) {
    constexpr int kRequests = 10000;
    constexpr int kClients = 4;
    ASSERT_TRUE(agentPortIsFree()) << "port 5782 stays taken by another program";
    AgentProcess agent;
    ASSERT_TRUE(agent.waitUntilServing()) << agent.output();
    const pid_t pid = agentChildPid();
    ASSERT_GT(pid, 0);

    std::atomic<int> next{0};
    std::mutex countsMutex;
    std::map<std::string, std::pair<int, int>> counts;  // kind: tried, answered
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(4);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            std::mt19937 random(4242u + static_cast<unsigned>(c));
            for (int i = next++; i < kRequests && std::chrono::steady_clock::now() < deadline;
                 i = next++) {
                const Hostile hostile = makeHostile(i, random);
                const bool answered = runHostile(hostile);
                std::lock_guard<std::mutex> lock(countsMutex);
                auto& entry = counts[hostile.kind];
                ++entry.first;
                entry.second += answered ? 1 : 0;
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    int tried = 0;
    for (const auto& [kind, entry] : counts) {
        std::cout << "  " << kind << ": " << entry.first << " tried, " << entry.second
                  << " answered" << std::endl;
        tried += entry.first;
    }
    std::cout << tried << " hostile requests" << std::endl;
    EXPECT_EQ(tried, kRequests) << "the run hit its time bound";
    EXPECT_TRUE(stillRunning(pid)) << agent.output();

    const Fetched after = fetchReport(kAgentPort);
    EXPECT_EQ(after.outcome, Outcome::ok) << after.what;
    EXPECT_EQ(xmlError(after.body), "");

    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(), 0) << agent.output();
}

// ---------------------------------------------------------------------------------------------
// The descriptor limit.

// Connections that send nothing, from `sources` 127.0.2.1... (`perSource` each); non-blocking,
// so that those the backlog holds back are completed by the system meanwhile.
std::vector<int> silentConnections(int sources, int perSource) {
    std::vector<std::string> addresses;
    for (int s = 1; s <= sources; ++s) {
        addresses.push_back("127.0.2." + std::to_string(s));
    }
    std::vector<int> connections;
    for (const auto& from : crowdAddresses(addresses, perSource)) {
        const int fd = startLoopbackConnection(kAgentPort, from);
        if (fd >= 0) {
            connections.push_back(fd);
        }
    }
    return connections;
}

long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) {
        ticks += i >= 14 ? std::stol(field) : 0;  // utime, stime
    }
    return ticks;
}

int openDescriptors(pid_t pid) {
    int count = 0;
    if (DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* entry = readdir(fds)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(fds);
    }
    return count;
}

// Station polls from 127.0.0.2, one attempt each; and the agent's CPU meanwhile, as a share of
// the time they took.
int stationPolls(pid_t pid, double& cpuShare) {
    const long before = cpuTicks(pid);
    const auto begin = std::chrono::steady_clock::now();
    int served = 0;
    for (int poll = 0; poll < 10; ++poll) {
        served += fetchReport(kAgentPort, "/getdata", 2, "127.0.0.2").outcome == Outcome::ok;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    cpuShare = static_cast<double>(cpuTicks(pid) - before) /
               static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
    return served;
}

// The agent started with a soft limit of 64 descriptors, behind 300 silent connections from 50
// addresses, and then with the limit lowered below what it holds: the pending set, sized from
// the limit at start, never runs the process out of descriptors, and when something else does,
// the accepting thread does not spin on the failing accept. The station is served throughout,
// and a silent connection is closed at the 5 s head deadline, not sooner, not later.
TEST(AgentReliabilityTest, AtALowDescriptorLimitTheStationIsServedWithoutASpin) {
    ASSERT_TRUE(agentPortIsFree()) << "port 5782 stays taken by another program";
    rlimit own{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
    ASSERT_GE(own.rlim_cur, 512u) << "the test itself holds 350 connections";
    rlimit low = own;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    AgentProcess agent;  // inherits the limit
    setrlimit(RLIMIT_NOFILE, &own);
    ASSERT_TRUE(agent.waitUntilServing()) << agent.output();
    const pid_t pid = agentChildPid();
    ASSERT_GT(pid, 0);

    std::vector<int> silent = silentConnections(50, 6);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double cpu = 0;
    EXPECT_EQ(stationPolls(pid, cpu), 10);
    EXPECT_LT(cpu, 0.3) << "share of a core";

    // Out of descriptors: lowered below what the agent holds now, with new connections coming.
    rlimit lower{};
    lower.rlim_cur = static_cast<rlim_t>(openDescriptors(pid) - 4);
    lower.rlim_max = own.rlim_max;
    ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, &lower, nullptr), 0);
    const std::vector<int> more = silentConnections(50, 1);
    silent.insert(silent.end(), more.begin(), more.end());
    EXPECT_EQ(stationPolls(pid, cpu), 10);
    EXPECT_LT(cpu, 0.3) << "share of a core";

    // With the crowd gone, one silent connection is closed at the head deadline.
    for (const int fd : silent) {
        close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int probe = connectLoopback(kAgentPort, 10.0);
    ASSERT_GE(probe, 0);
    const auto connected = std::chrono::steady_clock::now();
    char byte = 0;
    EXPECT_LE(recv(probe, &byte, 1, 0), 0) << "a response to nothing";
    const double closedAfter =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - connected).count();
    close(probe);
    EXPECT_GE(closedAfter, 4.5) << "closed before the head deadline";
    EXPECT_LE(closedAfter, 7.0) << "still open after the head deadline";
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(), 0) << agent.output();
}

// ---------------------------------------------------------------------------------------------

TEST(AgentReliabilityTest, ShutdownUnderLoadFiftyTimes) {
    constexpr int kRounds = 50;
    double slowest = 0;
    int slowerThanOneSecond = 0;
    long served = 0;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_TRUE(agentPortIsFree()) << "port 5782 stays taken by another program";
        AgentProcess agent;
        ASSERT_TRUE(agent.waitUntilServing()) << "round " << round << "\n" << agent.output();
        std::atomic<bool> stop{false};
        std::atomic<int> ok{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < 4; ++c) {
            clients.emplace_back([&] {
                for (int n = 0; n < 5000 && !stop; ++n) {
                    if (fetchReport(kAgentPort, "/getdata", 5).outcome == Outcome::ok) {
                        ++ok;
                    }
                }
            });
        }
        const auto loadDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ok < 10 + round && std::chrono::steady_clock::now() < loadDeadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto begin = std::chrono::steady_clock::now();
        agent.signal(SIGTERM);
        const int code = agent.waitForExit(20.0);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        stop = true;
        for (auto& client : clients) {
            client.join();
        }
        slowest = std::max(slowest, took);
        slowerThanOneSecond += took > 1.0 ? 1 : 0;
        served += ok;
        ASSERT_EQ(code, 0) << "round " << round << "\n" << agent.output();
    }
    std::cout << kRounds << " shutdowns under load: all exit code 0; " << served
              << " reports served meanwhile; slowest shutdown " << slowest << " s; "
              << slowerThanOneSecond << " took more than 1 s" << std::endl;
}

}  // namespace
}  // namespace quorvane::test
