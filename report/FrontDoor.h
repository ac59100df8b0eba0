// The agent's HTTP server. One thread accepts every connection and reads its request head,
// watching all of them at once; only a connection whose head is complete goes to the server's
// connection threads (the dependency's dispatcher, with its limits of threads and queue). Clients
// that stay silent or trickle their head therefore never hold a connection thread or a queue
// place, and the connections still sending their head are shared fairly between client hosts.
#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/TCPServerDispatcher.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/SocketWatch.h"

namespace quorvane {

struct FrontDoorLimits {
    // From the accept: a head not complete by then is closed without a response.
    std::chrono::milliseconds headDeadline{5000};
    // Connections still sending their head, in all and from one client address. A station sends
    // its head at once, so its connection is pending for one round trip; the caps only bite when
    // clients hold connections open without completing a head.
    std::size_t maxPending = 256;
    std::size_t maxPendingPerAddress = 8;
    // A head this long that is still not complete is closed (the dependency's own limits reject
    // anything it would not read within it with 400).
    std::size_t maxHeadBytes = 32 * 1024;
};

// The pending connection (index into `pending`, oldest first) to close so that one more from
// `newcomer` fits, or `pending.size()` when there is room. The newcomer's own address pays first,
// once it holds its share; when all are taken, the address holding the most pays with its oldest.
template <typename Pending>
std::size_t connectionToClose(const std::vector<Pending>& pending,
                              const Poco::Net::IPAddress& newcomer, const FrontDoorLimits& limits) {
    // The common case, on every accept: the newcomer's own count, without counting the others.
    std::size_t fromNewcomer = 0;
    std::size_t newcomerOldest = pending.size();
    for (std::size_t i = 0; i < pending.size(); ++i) {
        if (pending[i].peer == newcomer && fromNewcomer++ == 0) {
            newcomerOldest = i;
        }
    }
    if (fromNewcomer >= limits.maxPendingPerAddress) {
        return newcomerOldest;
    }
    if (pending.size() < limits.maxPending) {
        return pending.size();
    }
    std::map<Poco::Net::IPAddress, std::size_t> perAddress;
    std::size_t most = 0;
    for (const Pending& connection : pending) {
        most = std::max(most, ++perAddress[connection.peer]);
    }
    for (std::size_t i = 0; i < pending.size(); ++i) {
        if (perAddress[pending[i].peer] == most) {
            return i;
        }
    }
    return pending.size();
}

class FrontDoor {
  public:
    // Serves the bound, listening `socket` with the handlers of `factory` (owned from here), under
    // `params` (threads, queue, time-outs).
    FrontDoor(const Poco::Net::ServerSocket& socket, Poco::Net::HTTPRequestHandlerFactory* factory,
              Poco::Net::HTTPServerParams::Ptr params, FrontDoorLimits limits = {});
    // Stops if still running.
    ~FrontDoor();

    FrontDoor(const FrontDoor&) = delete;
    FrontDoor& operator=(const FrontDoor&) = delete;

    void start();
    // In order: no more accepts and every pending head closed at once; waiting requests dropped;
    // requests being served aborted (their sockets shut down); returns once no connection thread
    // is left.
    void stop();

    // Connections accepted whose head is not complete yet.
    std::size_t pendingHeads() const { return pendingCount_; }

  private:
    struct Pending;
    class Handlers;
    enum class HeadState { waiting, complete, refused };

    void run();
    void acceptWaiting();
    void admit(Pending&& connection);
    // Takes what the client has sent by now (without waiting) and says what it makes.
    HeadState readAvailable(Pending& connection);
    void readHead(poco_socket_t socket);
    void release(std::size_t index);
    void handOver(Poco::Net::StreamSocket socket);

    Poco::Net::ServerSocket socket_;
    const FrontDoorLimits limits_;
    Handlers* handlers_;  // owned by the connection factory below
    Poco::AutoPtr<Poco::Net::TCPServerDispatcher> dispatcher_;
    SocketWatch watch_;
    std::vector<Pending> pending_;  // oldest first; touched by the accepting thread only
    std::atomic<std::size_t> pendingCount_{0};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    bool stopped_ = false;
};

}  // namespace quorvane
