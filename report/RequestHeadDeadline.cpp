#include "RequestHeadDeadline.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/SocketImpl.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace quorvane {

namespace {

using Clock = std::chrono::steady_clock;

// How soon a connection the server has finished with before its head came (refused from a full
// queue, closed by the client, answered with 400) is let go: until then its descriptor stays open.
// Also how often a connection still queued past its deadline is looked at again.
constexpr std::chrono::milliseconds kSweepInterval(50);

// A connection still waiting in the server's queue at its deadline has not been read yet: the
// server is slow then, not necessarily the client, whose head may be complete. Once a connection
// thread takes it, it has this long more; a head that is already there is read at once.
constexpr std::chrono::milliseconds kTakenGrace(250);

// References to the socket, ours included: 2 while it waits in the server's queue (ours and the
// queued notification's), 3 or more while a connection thread has it (its connection and session
// too), 1 once the server is done with it.
int socketReferenceCount(const Poco::Net::StreamSocket& socket) {
    return socket.impl()->referenceCount();
}

}  // namespace

// Runs on the accepting thread, right after the accept.
class RequestHeadDeadline::Filter : public Poco::Net::TCPServerConnectionFilter {
  public:
    explicit Filter(RequestHeadDeadline& owner) : owner(owner) {}

    bool accept(const Poco::Net::StreamSocket& socket) override {
        owner.accepted(socket);
        return true;
    }

  private:
    RequestHeadDeadline& owner;
};

// Called by the dependency once the request line and header have been read.
class RequestHeadDeadline::GuardedFactory : public Poco::Net::HTTPRequestHandlerFactory {
  public:
    GuardedFactory(RequestHeadDeadline& owner, Poco::Net::HTTPRequestHandlerFactory* factory)
        : owner(owner), factory(factory) {}

    Poco::Net::HTTPRequestHandler* createRequestHandler(
        const Poco::Net::HTTPServerRequest& request) override {
        // The server's requests are HTTPServerRequestImpl objects, which alone know their socket;
        // the object itself is not const, only the view the dependency hands us.
        if (const auto* impl = dynamic_cast<const Poco::Net::HTTPServerRequestImpl*>(&request)) {
            owner.headComplete(const_cast<Poco::Net::HTTPServerRequestImpl*>(impl)->socket());
        }
        return factory->createRequestHandler(request);
    }

  private:
    RequestHeadDeadline& owner;
    std::unique_ptr<Poco::Net::HTTPRequestHandlerFactory> factory;
};

RequestHeadDeadline::RequestHeadDeadline(std::chrono::milliseconds deadline,
                                         AbortConnection abortConnection)
    : deadline_(deadline),
      abortConnection_(abortConnection
                           ? std::move(abortConnection)
                           : [](Poco::Net::StreamSocket& socket) { socket.shutdown(); }) {}

RequestHeadDeadline::~RequestHeadDeadline() {
    stop();
}

Poco::Net::TCPServerConnectionFilter::Ptr RequestHeadDeadline::connectionFilter() {
    return new Filter(*this);
}

Poco::Net::HTTPRequestHandlerFactory* RequestHeadDeadline::guard(
    Poco::Net::HTTPRequestHandlerFactory* factory) {
    return new GuardedFactory(*this, factory);
}

void RequestHeadDeadline::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ || stopped_) {
        return;
    }
    running_ = true;
    thread_ = std::thread(&RequestHeadDeadline::watch, this);
}

void RequestHeadDeadline::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    std::deque<Watched> released;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released.swap(connections_);
    }
}

std::size_t RequestHeadDeadline::watched() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_.size();
}

void RequestHeadDeadline::accepted(const Poco::Net::StreamSocket& socket) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || stopped_) {
        return;
    }
    const bool wasIdle = connections_.empty();
    connections_.push_back({socket, Clock::now() + deadline_, false});
    if (wasIdle) {
        wake_.notify_all();
    }
}

void RequestHeadDeadline::headComplete(const Poco::Net::Socket& socket) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found =
        std::find_if(connections_.begin(), connections_.end(),
                     [&socket](const Watched& watched) { return watched.socket == socket; });
    // Not found: the deadline has just passed and the connection is being shut down.
    if (found != connections_.end()) {
        connections_.erase(found);
    }
}

// Sleeps while no connection waits for its head. Our own reference keeps each descriptor open
// until we let go, so the socket shut down at a deadline is always the one that was accepted,
// never a newer connection that reused its number.
void RequestHeadDeadline::watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopped_) {
        if (connections_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const Clock::time_point now = Clock::now();
        Clock::time_point next = now + kSweepInterval;
        std::vector<Poco::Net::StreamSocket> expired;
        std::vector<Poco::Net::StreamSocket> released;
        for (auto it = connections_.begin(); it != connections_.end();) {
            const int count = socketReferenceCount(it->socket);
            if (count == 1) {
                released.push_back(it->socket);
                it = connections_.erase(it);
                continue;
            }
            if (it->deadline <= now) {
                if (count == 2) {
                    it->queuedAtDeadline = true;
                    it->deadline = now + kSweepInterval;
                } else if (it->queuedAtDeadline) {
                    it->queuedAtDeadline = false;
                    it->deadline = now + kTakenGrace;
                } else {
                    expired.push_back(it->socket);
                    it = connections_.erase(it);
                    continue;
                }
            }
            next = std::min(next, it->deadline);
            ++it;
        }
        lock.unlock();
        // As the server does when it aborts its connections: the thread reading the head sees
        // the end of the stream, nothing can be sent any more, and the client sees the close.
        for (Poco::Net::StreamSocket& socket : expired) {
            try {
                abortConnection_(socket);
            } catch (const Poco::Exception&) {
                // Already reset by the client: nothing left to close.
            }
        }
        expired.clear();
        released.clear();
        lock.lock();
        if (!stopped_ && !connections_.empty()) {
            wake_.wait_until(lock, next);
        }
    }
}

}  // namespace quorvane
