// The agent's HTTP server. One thread accepts every connection and reads its request head,
// watching all of them at once; only a connection whose head is complete goes to the server's
// connection threads (POCO's dispatcher, with its limits of threads and queue), and
// complete requests take turns by client address. After the response, a connection whose client
// may still be sending comes back to that thread to be drained before it closes, so the client
// reads the whole response instead of a reset.
#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/TCPServerDispatcher.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

#include "PendingSet.h"
#include "platform/SocketWatch.h"

namespace quorvane {

class ConnectionReturns;

struct FrontDoorLimits {
    // From the accept: a head not complete by then is closed without a response.
    std::chrono::milliseconds headDeadline{5000};
    // Connections the front door holds at once (heads coming, requests waiting for a thread,
    // connections being drained), fewer when the descriptor limit leaves less room. When all are
    // taken, the client address holding the most gives one up; below that, nobody is cut.
    std::size_t maxPending = 256;
    // A head this long that is still not complete is answered with 431 (POCO's own
    // limits reject anything it would not read within it with 400).
    std::size_t maxHeadBytes = 32 * 1024;
    // After the response: how long, and how much, a client that is still sending is read
    // before the connection closes.
    std::chrono::milliseconds drainTime{2000};
    std::size_t drainBytes = 4 * 1024 * 1024;
};

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
    // In order: no more accepts and every connection the front door holds closed at once;
    // waiting requests dropped; requests being served aborted (their sockets shut down);
    // returns once no connection thread is left.
    void stop();

  private:
    struct Connection;
    class Handlers;
    enum class HeadState { waiting, complete, tooLarge, gone };

    void run();
    int millisecondsToWait() const;
    void acceptWaiting();
    void admit(poco_socket_t socket, const PeerAddress& peer);
    // Until the set has room for one more, or (`descriptor`) until one descriptor is free.
    bool makeRoom(bool descriptor);
    // Takes what the client has sent by now (without waiting) and says what it makes.
    HeadState readAvailable(Connection& connection);
    void onReadable(poco_socket_t socket);
    void afterRead(Connection& connection, HeadState state);
    void headComplete(Connection& connection);
    void answerTooLarge(Connection& connection);
    void drain(Connection& connection);
    void takeReturns();
    void handOverWaiting();
    bool dispatcherHasRoom() const;
    void handOver(Connection& connection);
    void close(Connection& connection);
    void pauseListener();
    void resumeListener();

    Poco::Net::ServerSocket socket_;
    FrontDoorLimits limits_;
    const std::size_t inFlightLimit_;  // connection threads and queue places
    const std::size_t maxQueued_;
    Handlers* handlers_;  // owned by the connection factory below
    Poco::AutoPtr<Poco::Net::TCPServerDispatcher> dispatcher_;
    SocketWatch watch_;
    std::shared_ptr<ConnectionReturns> returns_;
    // Touched by the accepting thread only.
    PendingSet set_;
    std::unordered_map<poco_socket_t, std::unique_ptr<Connection>> connections_;
    std::vector<char> drainBuffer_;
    bool listenerWatched_ = false;
    // While the listener is not watched: when to try again at the latest, and what would let
    // it be tried earlier.
    std::chrono::steady_clock::time_point listenerRetry_;
    bool closedSincePause_ = false;
    std::size_t inFlightAtPause_ = 0;
    std::size_t capacity_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    bool stopped_ = false;
};

}  // namespace quorvane
