#include "Fetch.h"

#include <sys/socket.h>

#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Timespan.h>

#include <condition_variable>
#include <cstdio>
#include <istream>
#include <map>
#include <mutex>
#include <thread>

namespace quorvane::plugin {

namespace {

// Far above any report (a few kilobytes; one line per processor and disk), low enough that a
// wrong server cannot make the plugin hold much memory.
constexpr std::size_t kMaxBody = 4 * 1024 * 1024;

using SteadyClock = std::chrono::steady_clock;

// Socket time-outs bound each wait, not the exchange: a server that trickles a byte at a time
// keeps a fetch going indefinitely. One thread shuts down the sockets whose deadline has passed;
// the blocked read then ends at once. An entry is removed under the same lock before its socket
// is closed, so a descriptor number reused by another connection is never touched.
class Watchdog {
  public:
    static Watchdog& instance() {
        // Never destroyed: the thread may still wait when the process ends.
        static Watchdog* watchdog = new Watchdog;
        return *watchdog;
    }

    using Entry = std::multimap<SteadyClock::time_point, int>::iterator;

    Entry arm(SteadyClock::time_point deadline, int fd) {
        std::lock_guard<std::mutex> lock(mutex_);
        const Entry entry = pending_.emplace(deadline, fd);
        if (entry == pending_.begin()) {
            changed_.notify_one();
        }
        return entry;
    }

    void disarm(Entry entry) {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.erase(entry);
    }

  private:
    Watchdog() {
        std::thread([this] { run(); }).detach();
    }

    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            const auto now = SteadyClock::now();
            for (auto& [deadline, fd] : pending_) {
                if (deadline > now) {
                    break;
                }
                if (fd >= 0) {
                    ::shutdown(fd, SHUT_RDWR);
                    fd = -1;  // done: only its owner removes the entry
                }
            }
            auto next = pending_.begin();
            while (next != pending_.end() && next->second < 0) {
                ++next;
            }
            if (next == pending_.end()) {
                changed_.wait(lock);
            } else {
                changed_.wait_until(lock, next->first);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::multimap<SteadyClock::time_point, int> pending_;
};

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// The exchange itself. With a deadline the socket is watched from the moment it is connected,
// and every wait before that (connecting, sending) is bounded by the time left.
std::string exchange(const std::string& host, unsigned port, Poco::Timespan wait,
                     const SteadyClock::time_point* deadline) {
    const std::string agent = agentAddress(host, port);
    Poco::Net::HTTPClientSession session(host, static_cast<Poco::UInt16>(port));
    session.setTimeout(wait);
    session.setKeepAlive(false);
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/getdata",
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    request.setKeepAlive(false);
    session.sendRequest(request);
    struct Armed {
        Watchdog::Entry entry;
        const SteadyClock::time_point* deadline = nullptr;
        ~Armed() {
            if (deadline != nullptr) {
                Watchdog::instance().disarm(entry);
            }
        }
    } armed;
    if (deadline != nullptr) {
        armed.entry = Watchdog::instance().arm(*deadline, session.socket().impl()->sockfd());
        armed.deadline = deadline;
    }
    Poco::Net::HTTPResponse response;
    std::istream& in = session.receiveResponse(response);
    if (response.getStatus() != Poco::Net::HTTPResponse::HTTP_OK) {
        throw FetchError(agent + " answered HTTP " + std::to_string(response.getStatus()) + " " +
                             response.getReason() + " instead of the report",
                         FetchFailure::status);
    }
    // A broken connection must not look like the end of the body: let the stream rethrow.
    in.exceptions(std::ios::badbit);
    std::string body;
    char buffer[16384];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        body.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (body.size() > kMaxBody) {
            throw FetchError(
                agent + " sent more than " + std::to_string(kMaxBody >> 20) + " MiB, not a report",
                FetchFailure::oversized);
        }
    }
    // A shut-down socket reads as the end of the body: only the deadline tells them apart.
    if (deadline != nullptr && SteadyClock::now() >= *deadline) {
        throw Poco::TimeoutException();
    }
    return body;
}

std::string fetch(const std::string& host, unsigned port, Poco::Timespan wait,
                  const SteadyClock::time_point* deadline, const std::string& within) {
    const std::string agent = agentAddress(host, port);
    try {
        return exchange(host, port, wait, deadline);
    } catch (const FetchError&) {
        throw;
    } catch (const std::exception& error) {
        // Whatever broke once the deadline had passed was the watchdog's shutdown.
        if (deadline != nullptr && SteadyClock::now() >= *deadline) {
            throw FetchError("no answer from " + agent + within, FetchFailure::timeout);
        }
        try {
            throw;
        } catch (const Poco::TimeoutException&) {
            throw FetchError("no answer from " + agent + within, FetchFailure::timeout);
        } catch (const Poco::Net::ConnectionRefusedException&) {
            throw FetchError("connection to " + agent + " refused", FetchFailure::refused);
        } catch (const Poco::Net::HostNotFoundException&) {
            throw FetchError("host " + host + " not found", FetchFailure::unresolved);
        } catch (const Poco::Net::NoAddressFoundException&) {
            throw FetchError("host " + host + " has no address", FetchFailure::unresolved);
        } catch (const Poco::Net::NoMessageException&) {
            throw FetchError(agent + " closed the connection without an answer");
        } catch (const Poco::Exception& error) {
            throw FetchError(agent + ": " + error.displayText());
        } catch (const std::exception& error) {
            throw FetchError(agent + ": " + error.what());
        }
    }
}

}  // namespace

std::string agentAddress(const std::string& host, unsigned port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string fetchReport(const std::string& host, unsigned port, unsigned timeoutSeconds) {
    return fetch(host, port, Poco::Timespan(static_cast<long>(timeoutSeconds), 0), nullptr,
                 " within " + std::to_string(timeoutSeconds) + " s");
}

std::string fetchReportBefore(const std::string& host, unsigned port,
                              SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) {
        throw FetchError("no time left to ask " + agentAddress(host, port), FetchFailure::timeout);
    }
    return fetch(host, port, Poco::Timespan(left.count()), &deadline,
                 " within " + seconds(static_cast<double>(left.count()) / 1e6) + " s");
}

}  // namespace quorvane::plugin
