// quorvane-load: the one HTTP client every server in the benchmark table is measured with. Each
// request is a fresh loopback connection: connect, send one GET, read until the server closes.
//
//   quorvane-load load --port P [--path /getdata] [--concurrency N]
//                      (--requests M | --duration SECONDS) [--warmup SECONDS]
//       prints: requests ok drops errors seconds rps p50_us p99_us max_us bytes_per_response
//   quorvane-load startup --agent PATH [--port 5782] [--runs N]
//       spawns the agent N times and prints the time from spawn to the first complete report
//   quorvane-load slow --port P [--idle 2] [--trickle 0] [--interval 5] [--retry 0|1]
//                      [--limit SECONDS]
//       opens `idle` connections that send nothing and `trickle` ones that send a request head
//       one byte every `interval` seconds, then times one ordinary request (with `retry`, again
//       after every drop, until the limit)
//   quorvane-load crowd --port P [--sources 1] [--per-source 12] [--interval 1] [--settle 6]
//                       [--polls 20] [--poll-interval 0.5] [--poll-timeout 2]
//       `per-source` connections from each of `sources` addresses (127.0.1.1, ...) trickle a
//       request head a byte every `interval` seconds and connect again the moment they are cut;
//       after `settle` seconds a station from 127.0.0.2 polls, one attempt each, and counts
//       the polls served within `poll-timeout`; `connections` instead spreads that many over
//       the addresses; `pause` waits that long before a cut client connects again; with
//       `agent-pid`, the CPU of the agent's busiest thread meanwhile
//   quorvane-load flood --port P [--sources 1] [--per-source 12] [--connections N] [--settle 2]
//                       [--polls 20] [--poll-interval 0.5] [--poll-timeout 2] [--agent-pid PID]
//       the same station behind clients that send complete requests, read the response and
//       connect again at once
//   quorvane-load burst --port P [--concurrency 12] [--runs 20]
//       opens `concurrency` connections from 127.0.0.1, then sends a request on each and reads
//       every response; counts the complete reports
//
// Only 127.0.0.1 is ever contacted (from 127.0.0.0/8 addresses); every wait is bounded.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/RawSocket.h"
#include "support/SlowCrowd.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using quorvane::test::Outcome;
using quorvane::test::ReceiveEnd;

struct Options {
    std::string mode;
    int port = 5782;
    std::string path = "/getdata";
    int concurrency = 1;
    long requests = 0;
    double duration = 0;
    double warmup = 0;
    std::string agent;
    int runs = 5;
    int idle = 2;
    int trickle = 0;
    double interval = 5;
    bool retry = false;
    double limit = 70;
    double timeout = 10;  // per request, seconds
    int sources = 1;
    int perSource = 12;
    double settle = 6;
    int polls = 20;
    double pollInterval = 0.5;
    const char* source = nullptr;  // local address the requests come from, if not the default
    int connections = 0;           // spread over the sources, instead of per-source
    int agentPid = 0;
    double pause = 0;  // before a cut slow client connects again
};

int openConnection(const Options& options, double timeoutSeconds, const char* source = nullptr) {
    return quorvane::test::connectLoopback(static_cast<std::uint16_t>(options.port), timeoutSeconds,
                                           source);
}

// One request on a new connection. `received` gets every byte until the server closed.
Outcome request(const Options& options, const std::string& message, std::string& received) {
    received.clear();
    const int fd = openConnection(options, options.timeout, options.source);
    if (fd < 0) {
        return Outcome::error;
    }
    if (!quorvane::test::sendAll(fd, message)) {
        const bool cut = errno == ECONNRESET || errno == EPIPE;
        close(fd);
        return cut ? Outcome::drop : Outcome::error;
    }
    const ReceiveEnd end = quorvane::test::receiveAll(fd, received);
    close(fd);
    if (end == ReceiveEnd::timedOut) {
        return Outcome::error;
    }
    if (received.empty()) {
        // Accepted, then closed or reset without a byte: the server could not queue it.
        return Outcome::drop;
    }
    const bool status200 =
        received.compare(0, 9, "HTTP/1.1 ") == 0 || received.compare(0, 9, "HTTP/1.0 ") == 0;
    if (end != ReceiveEnd::closed || !status200 || received.compare(9, 3, "200") != 0 ||
        received.find("\r\n\r\n") == std::string::npos) {
        return Outcome::error;
    }
    return Outcome::ok;
}

std::string getMessage(const Options& options) {
    return "GET " + options.path +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nUser-Agent: quorvane-load\r\n\r\n";
}

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) {
        return 0;
    }
    const double rank = p * static_cast<double>(sorted.size() - 1);
    const std::size_t index = static_cast<std::size_t>(rank + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

int runLoad(const Options& options) {
    const std::string message = getMessage(options);
    if (options.warmup > 0) {
        const auto warmEnd = Clock::now() + std::chrono::duration<double>(options.warmup);
        std::vector<std::thread> threads;
        for (int t = 0; t < options.concurrency; ++t) {
            threads.emplace_back([&] {
                std::string received;
                while (Clock::now() < warmEnd) {
                    request(options, message, received);
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }

    std::atomic<long> tickets{options.requests};
    quorvane::test::Tally tally;
    std::atomic<unsigned long long> okBytes{0};
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(options.concurrency));
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(options.duration);
    std::vector<std::thread> threads;
    for (int t = 0; t < options.concurrency; ++t) {
        threads.emplace_back([&, t] {
            std::string received;
            auto& mine = latencies[static_cast<std::size_t>(t)];
            for (;;) {
                if (options.requests > 0) {
                    if (tickets.fetch_sub(1) <= 0) {
                        break;
                    }
                } else if (Clock::now() >= end) {
                    break;
                }
                const auto begin = Clock::now();
                const Outcome outcome = request(options, message, received);
                const double micros =
                    std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
                tally.add(outcome);
                if (outcome == Outcome::ok) {
                    okBytes += received.size();
                    mine.push_back(micros);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (const auto& mine : latencies) {
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    const long ok = tally.ok;
    std::printf(
        "requests=%ld ok=%ld drops=%ld errors=%ld seconds=%.3f rps=%.0f p50_us=%.0f p99_us=%.0f "
        "max_us=%.0f bytes_per_response=%llu\n",
        tally.total(), ok, tally.drops.load(), tally.errors.load(), seconds,
        static_cast<double>(ok) / seconds, percentile(all, 0.50), percentile(all, 0.99),
        all.empty() ? 0.0 : all.back(),
        ok > 0 ? okBytes.load() / static_cast<unsigned long long>(ok) : 0ull);
    return tally.errors == 0 ? 0 : 3;
}

// Spawn the agent, poll until one complete report arrives, stop it. Polls every 0.5 ms so the
// figure is not dominated by the polling interval.
int runStartup(const Options& options) {
    const std::string message = getMessage(options);
    std::vector<double> figures;
    for (int run = 0; run < options.runs; ++run) {
        pid_t pid = -1;
        char* argv[] = {const_cast<char*>(options.agent.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const auto begin = Clock::now();
        const int spawned =
            posix_spawn(&pid, options.agent.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            std::fprintf(stderr, "cannot start %s\n", options.agent.c_str());
            return 2;
        }
        const auto deadline = begin + std::chrono::seconds(10);
        double millis = -1;
        std::string received;
        Options quick = options;
        quick.timeout = 2;
        while (Clock::now() < deadline) {
            if (request(quick, message, received) == Outcome::ok &&
                received.find("</root>\n") != std::string::npos) {
                millis = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
                break;
            }
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            usleep(500);
        }
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
                usleep(10000);
            }
            if (waitpid(pid, &status, WNOHANG) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
            }
        }
        if (millis < 0) {
            std::fprintf(stderr, "run %d: no complete report within 10 s\n", run);
            return 3;
        }
        figures.push_back(millis);
        usleep(100000);  // let the port's listening socket go away
    }
    std::sort(figures.begin(), figures.end());
    std::printf("runs=%zu first_report_ms_median=%.1f first_report_ms_max=%.1f\n", figures.size(),
                percentile(figures, 0.5), figures.back());
    return 0;
}

// What a slow connection got from the server by the end of the run.
std::string connectionEnd(int fd) {
    timeval shortWait{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &shortWait, sizeof shortWait);
    char buffer[512];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
        const std::string answer(buffer, static_cast<std::size_t>(n));
        return "response " + answer.substr(0, answer.find("\r\n"));
    }
    if (n == 0) {
        return "closed without a response";
    }
    return errno == ECONNRESET ? "reset without a response" : "still open";
}

// Slow clients hold connections open: `idle` ones send nothing, `trickle` ones send a request
// head one byte every `interval` seconds and never finish it. Then one ordinary client is timed;
// with `retry` it connects again whenever the server drops it (full queue), as a station's next
// poll would, until `limit`.
int runSlow(const Options& options) {
    std::vector<int> idle;
    for (int i = 0; i < options.idle + options.trickle; ++i) {
        const int fd = openConnection(options, options.limit + 5);
        if (fd < 0) {
            std::fprintf(stderr, "cannot open slow connection %d\n", i);
            return 2;
        }
        idle.push_back(fd);
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> tricklers;
    for (int i = 0; i < options.trickle; ++i) {
        const int fd = idle[static_cast<std::size_t>(options.idle + i)];
        tricklers.emplace_back([fd, &stop, &options] {
            const std::string head = "GET /getdata HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ";
            for (std::size_t sent = 0; !stop; ++sent) {
                const char byte = sent < head.size() ? head[sent] : 'a';
                if (send(fd, &byte, 1, MSG_NOSIGNAL) != 1) {
                    return;  // the server gave up on it
                }
                const auto next = Clock::now() + std::chrono::duration<double>(options.interval);
                while (!stop && Clock::now() < next) {
                    usleep(20000);
                }
            }
        });
    }
    // Give the server time to hand the first slow connections to its two connection threads.
    usleep(300000);
    Options third = options;
    const auto begin = Clock::now();
    const auto deadline = begin + std::chrono::duration<double>(options.limit);
    Outcome outcome = Outcome::error;
    int attempts = 0;
    std::string received;
    do {
        third.timeout =
            std::max(0.5, std::chrono::duration<double>(deadline - Clock::now()).count());
        ++attempts;
        outcome = request(third, getMessage(options), received);
        if (outcome == Outcome::drop && options.retry) {
            usleep(100000);
        }
    } while (outcome == Outcome::drop && options.retry && Clock::now() < deadline);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    // The second slow connection may still be open when the third client is served.
    std::string idleAnswer;
    for (const int fd : idle) {
        idleAnswer += (idleAnswer.empty() ? "" : "; ") + connectionEnd(fd);
    }
    stop = true;
    for (auto& trickler : tricklers) {
        trickler.join();
    }
    for (const int fd : idle) {
        close(fd);
    }
    std::printf(
        "idle_connections=%d trickling_connections=%d third_client_wait_s=%.2f "
        "third_client_outcome=%s third_client_attempts=%d idle_connection_end=\"%s\"\n",
        options.idle, options.trickle, seconds,
        outcome == Outcome::ok     ? "served"
        : outcome == Outcome::drop ? "dropped"
        : seconds >= options.limit ? "not served within the limit"
                                   : "error",
        attempts, idleAnswer.c_str());
    return outcome == Outcome::ok ? 0 : 3;
}

// A station behind clients that never complete their request heads and reconnect at once.
// CPU time (ns) of each thread of `pid`, from the scheduler's accounting.
std::map<std::string, unsigned long long> threadTimes(int pid) {
    std::map<std::string, unsigned long long> times;
    if (pid <= 0) {
        return times;
    }
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::FILE* list = popen(("ls " + tasks).c_str(), "r");
    if (list == nullptr) {
        return times;
    }
    char name[64];
    while (std::fscanf(list, "%63s", name) == 1) {
        std::ifstream stat(tasks + "/" + name + "/schedstat");
        unsigned long long ns = 0;
        if (stat >> ns) {
            times[name] = ns;
        }
    }
    pclose(list);
    return times;
}

// The busiest thread's CPU between two samples, in seconds, and the whole process's.
void busiest(const std::map<std::string, unsigned long long>& before,
             const std::map<std::string, unsigned long long>& after, double& thread,
             double& process) {
    thread = process = 0;
    for (const auto& [tid, ns] : after) {
        const auto was = before.find(tid);
        const double used = static_cast<double>(ns - (was == before.end() ? 0 : was->second)) / 1e9;
        thread = std::max(thread, used);
        process += used;
    }
}

// `connections` (or `perSource` each) spread over `sources` addresses 127.0.1.1, ...
std::vector<std::string> crowdSources(const Options& options, int& perSource) {
    std::vector<std::string> sources;
    if (options.connections > 0) {
        for (int i = 0; i < options.connections; ++i) {
            sources.push_back("127.0.1." + std::to_string(1 + i % options.sources));
        }
        perSource = 1;
    } else {
        for (int i = 1; i <= options.sources; ++i) {
            sources.push_back("127.0.1." + std::to_string(i));
        }
        perSource = options.perSource;
    }
    return sources;
}

// Clients that send a complete request, read the response to its end and connect again at once.
class CompleteCrowd {
  public:
    CompleteCrowd(int port, const std::vector<std::string>& sources, int perSource)
        : thread_(&CompleteCrowd::run, this, port, sources, perSource) {}
    ~CompleteCrowd() {
        stop_ = true;
        thread_.join();
    }
    long completed() const { return completed_; }

  private:
    void run(int port, std::vector<std::string> sources, int perSource) {
        struct Slot {
            sockaddr_in from{};
            int fd = -1;
            bool sent = false;
            std::size_t received = 0;
        };
        std::vector<Slot> slots;
        for (const auto& from : quorvane::test::crowdAddresses(sources, perSource)) {
            Slot slot;
            slot.from = from;
            slots.push_back(slot);
        }
        const std::string request = "GET /getdata HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        auto connectSlot = [port](Slot& slot) {
            slot.fd = quorvane::test::startLoopbackConnection(static_cast<std::uint16_t>(port),
                                                              slot.from);
            slot.sent = false;
            slot.received = 0;
        };
        char buffer[16384];
        while (!stop_) {
            std::vector<pollfd> watched;
            for (auto& slot : slots) {
                if (slot.fd < 0) {
                    connectSlot(slot);
                }
                watched.push_back({slot.fd, static_cast<short>(slot.sent ? POLLIN : POLLOUT), 0});
            }
            poll(watched.data(), watched.size(), 20);
            for (std::size_t i = 0; i < slots.size(); ++i) {
                Slot& slot = slots[i];
                if (slot.fd < 0 || watched[i].revents == 0) {
                    continue;
                }
                bool done = false;
                if (!slot.sent) {
                    done = send(slot.fd, request.data(), request.size(), MSG_NOSIGNAL) !=
                           static_cast<ssize_t>(request.size());
                    slot.sent = true;
                } else {
                    const ssize_t n = recv(slot.fd, buffer, sizeof buffer, 0);
                    if (n > 0) {
                        slot.received += static_cast<std::size_t>(n);
                    } else {
                        done = true;
                        completed_ += n == 0 && slot.received > 0 ? 1 : 0;
                    }
                }
                if (done) {
                    close(slot.fd);
                    slot.fd = -1;
                }
            }
        }
        for (auto& slot : slots) {
            if (slot.fd >= 0) {
                close(slot.fd);
            }
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<long> completed_{0};
    std::thread thread_;
};

// What a station got over its polls, and the agent's CPU (seconds) over the same span.
struct StationRun {
    int served = 0;
    double slowest = 0;
    double span = 0;
    double busiestThread = 0;
    double process = 0;
};

// A station polling from 127.0.0.2, one attempt each.
StationRun stationPolls(const Options& options) {
    Options station = options;
    station.timeout = options.limit;
    station.source = "127.0.0.2";
    const std::string message = getMessage(options);
    StationRun run;
    const auto threadsBefore = threadTimes(options.agentPid);
    const auto begin = Clock::now();
    std::string received;
    for (int poll = 0; poll < options.polls; ++poll) {
        const auto start = Clock::now();
        const Outcome outcome = request(station, message, received);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (outcome == Outcome::ok && seconds <= options.limit) {
            ++run.served;
            run.slowest = std::max(run.slowest, seconds);
        }
        const auto next = start + std::chrono::duration<double>(options.pollInterval);
        while (Clock::now() < next) {
            usleep(10000);
        }
    }
    run.span = std::chrono::duration<double>(Clock::now() - begin).count();
    busiest(threadsBefore, threadTimes(options.agentPid), run.busiestThread, run.process);
    return run;
}

int runFlood(const Options& options) {
    int perSource = 0;
    const std::vector<std::string> sources = crowdSources(options, perSource);
    CompleteCrowd crowd(options.port, sources, perSource);
    usleep(static_cast<useconds_t>(options.settle * 1e6));
    const long before = crowd.completed();
    const StationRun run = stationPolls(options);
    std::printf(
        "clients=%zu polls=%d served=%d slowest_served_s=%.3f crowd_requests_per_s=%.0f "
        "busiest_thread_share=%.2f process_share=%.2f\n",
        sources.size() * static_cast<std::size_t>(perSource), options.polls, run.served,
        run.slowest, static_cast<double>(crowd.completed() - before) / run.span,
        run.busiestThread / run.span, run.process / run.span);
    return 0;
}

int runBurst(const Options& options) {
    const std::string message = getMessage(options);
    int ok = 0, total = 0;
    for (int run = 0; run < options.runs; ++run) {
        std::vector<int> fds;
        for (int i = 0; i < options.concurrency; ++i) {
            fds.push_back(openConnection(options, options.timeout));
        }
        usleep(20000);  // every connection accepted before any request is sent
        for (const int fd : fds) {
            if (fd >= 0) {
                quorvane::test::sendAll(fd, message);
            }
        }
        for (const int fd : fds) {
            ++total;
            if (fd < 0) {
                continue;
            }
            std::string received;
            ok += quorvane::test::receiveAll(fd, received) == ReceiveEnd::closed &&
                          received.compare(0, 12, "HTTP/1.1 200") == 0 &&
                          received.find("</root>") != std::string::npos
                      ? 1
                      : 0;
            close(fd);
        }
    }
    std::printf("concurrency=%d runs=%d ok=%d of=%d\n", options.concurrency, options.runs, ok,
                total);
    return 0;
}

// A station behind clients that never complete their request heads and reconnect at once.
int runCrowd(const Options& options) {
    int perSource = 0;
    const std::vector<std::string> sources = crowdSources(options, perSource);
    quorvane::test::SlowCrowd crowd(
        static_cast<std::uint16_t>(options.port), sources, perSource,
        std::chrono::milliseconds(static_cast<long>(options.interval * 1000)),
        std::chrono::milliseconds(static_cast<long>(options.pause * 1000)));
    usleep(static_cast<useconds_t>(options.settle * 1e6));
    const long cutBefore = crowd.closedByServer();
    const StationRun run = stationPolls(options);
    const long cut = crowd.closedByServer() - cutBefore;
    std::printf(
        "slow_connections=%zu sources=%d polls=%d served=%d slowest_served_s=%.3f "
        "slow_connections_cut_per_s=%.0f busiest_thread_share=%.2f process_share=%.2f "
        "busiest_thread_us_per_cut=%.1f\n",
        sources.size() * static_cast<std::size_t>(perSource), options.sources, options.polls,
        run.served, run.slowest, static_cast<double>(cut) / run.span, run.busiestThread / run.span,
        run.process / run.span, cut > 0 ? run.busiestThread * 1e6 / static_cast<double>(cut) : 0.0);
    return 0;
}

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: quorvane-load load|startup|slow|crowd|flood|burst [--port P] [--path T] "
                 "[--concurrency N] [--requests M | --duration S] [--warmup S] [--agent PATH] "
                 "[--runs N] [--idle N] [--trickle N] [--interval S] [--retry 0|1] [--limit S] "
                 "[--sources N] [--per-source N] [--settle S] [--polls N] [--poll-interval S] "
                 "[--poll-timeout S] [--connections N] [--pause S] [--agent-pid PID]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        usage();
    }
    Options options;
    options.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            usage();
        }
        const char* value = argv[++i];
        if (name == "--port") {
            options.port = std::atoi(value);
        } else if (name == "--path") {
            options.path = value;
        } else if (name == "--concurrency") {
            options.concurrency = std::max(1, std::atoi(value));
        } else if (name == "--requests") {
            options.requests = std::atol(value);
        } else if (name == "--duration") {
            options.duration = std::atof(value);
        } else if (name == "--warmup") {
            options.warmup = std::atof(value);
        } else if (name == "--agent") {
            options.agent = value;
        } else if (name == "--runs") {
            options.runs = std::max(1, std::atoi(value));
        } else if (name == "--idle") {
            options.idle = std::max(0, std::atoi(value));
        } else if (name == "--trickle") {
            options.trickle = std::max(0, std::atoi(value));
        } else if (name == "--interval") {
            options.interval = std::max(0.01, std::atof(value));
        } else if (name == "--retry") {
            options.retry = std::atoi(value) != 0;
        } else if (name == "--limit" || name == "--poll-timeout") {
            options.limit = std::atof(value);
        } else if (name == "--sources") {
            options.sources = std::max(1, std::min(250, std::atoi(value)));
        } else if (name == "--per-source") {
            options.perSource = std::max(1, std::atoi(value));
        } else if (name == "--settle") {
            options.settle = std::max(0.0, std::atof(value));
        } else if (name == "--polls") {
            options.polls = std::max(1, std::atoi(value));
        } else if (name == "--connections") {
            options.connections = std::max(0, std::atoi(value));
        } else if (name == "--pause") {
            options.pause = std::max(0.0, std::atof(value));
        } else if (name == "--agent-pid") {
            options.agentPid = std::atoi(value);
        } else if (name == "--poll-interval") {
            options.pollInterval = std::max(0.01, std::atof(value));
        } else {
            usage();
        }
    }
    if (options.mode == "load") {
        if ((options.requests <= 0) == (options.duration <= 0)) {
            usage();
        }
        return runLoad(options);
    }
    if (options.mode == "startup" && !options.agent.empty()) {
        return runStartup(options);
    }
    if (options.mode == "slow") {
        return runSlow(options);
    }
    if (options.mode == "crowd") {
        return runCrowd(options);
    }
    if (options.mode == "flood") {
        return runFlood(options);
    }
    if (options.mode == "burst") {
        return runBurst(options);
    }
    usage();
}
