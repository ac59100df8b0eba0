// A deadline for the request head of every connection: a client that has not sent its complete
// request line and header within the deadline after it was accepted, however it paces its bytes,
// loses the connection without a response (a connection the server itself kept waiting in its
// queue that long gets a short grace once a connection thread takes it). Stations send their
// request at once; without this, two clients that connect and stay silent, or trickle a byte now
// and then, hold both connection threads for the connection time-out or for as long as they like.
#pragma once

#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/TCPServer.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace quorvane {

class RequestHeadDeadline {
  public:
    // `abortConnection` ends a connection whose head is late the way the server itself aborts
    // its connections on this system (the platform's choice); by default the socket is shut down.
    using AbortConnection = std::function<void(Poco::Net::StreamSocket&)>;
    explicit RequestHeadDeadline(std::chrono::milliseconds deadline,
                                 AbortConnection abortConnection = nullptr);
    // Stops the watch if it still runs.
    ~RequestHeadDeadline();

    RequestHeadDeadline(const RequestHeadDeadline&) = delete;
    RequestHeadDeadline& operator=(const RequestHeadDeadline&) = delete;

    // The server's connection filter: records each connection as it is accepted.
    Poco::Net::TCPServerConnectionFilter::Ptr connectionFilter();

    // Wraps the server's handler factory (taking ownership of it): a request whose head has been
    // read is released from the deadline, then handled by `factory` as before.
    Poco::Net::HTTPRequestHandlerFactory* guard(Poco::Net::HTTPRequestHandlerFactory* factory);

    // Starts the watch thread. Both objects above refer to this one, which must outlive the
    // server that holds them.
    void start();
    // Ends the watch thread and lets go of every connection still held; connections are no longer
    // recorded afterwards.
    void stop();

    // Connections accepted whose head has not come yet (and that the server has not let go).
    std::size_t watched() const;

  private:
    struct Watched {
        Poco::Net::StreamSocket socket;  // a reference of our own: the descriptor stays ours
        std::chrono::steady_clock::time_point deadline;
        bool queuedAtDeadline;  // its deadline passed while it waited in the server's queue
    };

    void accepted(const Poco::Net::StreamSocket& socket);
    void headComplete(const Poco::Net::Socket& socket);
    void watch();

    const std::chrono::milliseconds deadline_;
    const AbortConnection abortConnection_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Watched> connections_;
    bool running_ = false;
    bool stopped_ = false;
    std::thread thread_;

    class Filter;
    class GuardedFactory;
};

}  // namespace quorvane
