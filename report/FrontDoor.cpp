#include "FrontDoor.h"

#include <Poco/Ascii.h>
#include <Poco/Exception.h>
#include <Poco/Net/HTTPMessage.h>
#include <Poco/Net/HTTPServerConnectionFactory.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/StreamSocketImpl.h>
#include <Poco/String.h>
#include <Poco/Thread.h>
#include <Poco/ThreadPool.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "RequestHandlers.h"
#include "RequestHead.h"

namespace quorvane {

namespace {

using Clock = std::chrono::steady_clock;

// A connection whose head the front door has read out of the socket: the connection thread reads
// those bytes first, then the socket, so the dependency's session sees the stream unchanged.
class HeadFirstSocketImpl : public Poco::Net::StreamSocketImpl {
  public:
    explicit HeadFirstSocketImpl(poco_socket_t socket) : StreamSocketImpl(socket) {}

    // The bytes taken so far.
    const std::string& head() const { return head_; }

    // Appends what the socket has: the count, 0 at the end of the stream, -1 when nothing is
    // there now. The descriptor is non-blocking from its accept while the dependency still takes
    // it for blocking, so "nothing now" comes as its time-out; that saves two system calls a
    // connection over switching the mode there and back.
    int receiveMore(std::size_t room) {
        char buffer[4096];
        const int wanted = static_cast<int>(std::min(room, sizeof buffer));
        int count;
        try {
            count = StreamSocketImpl::receiveBytes(buffer, wanted, 0);
        } catch (const Poco::TimeoutException&) {
            return -1;
        }
        if (count > 0) {
            head_.append(buffer, static_cast<std::size_t>(count));
        }
        return count;
    }

    using StreamSocketImpl::receiveBytes;
    int receiveBytes(void* buffer, int length, int flags) override {
        if (served_ < head_.size() && length > 0) {
            const std::size_t count =
                std::min(head_.size() - served_, static_cast<std::size_t>(length));
            std::memcpy(buffer, head_.data() + served_, count);
            served_ += count;
            return static_cast<int>(count);
        }
        return StreamSocketImpl::receiveBytes(buffer, length, flags);
    }

    bool poll(const Poco::Timespan& timeout, int mode) override {
        if ((mode & SELECT_READ) != 0 && served_ < head_.size()) {
            return true;
        }
        return StreamSocketImpl::poll(timeout, mode);
    }

    int available() override {
        return static_cast<int>(head_.size() - served_) + StreamSocketImpl::available();
    }

  private:
    std::string head_;
    std::size_t served_ = 0;
};

// "HTTP/" (any case), digit, ".", digit: the only version token a status line answers.
bool isHttpVersion(const std::string& version) {
    return version.size() == 8 && Poco::icompare(version.substr(0, 5), "HTTP/") == 0 &&
           Poco::Ascii::isDigit(version[5]) && version[6] == '.' &&
           Poco::Ascii::isDigit(version[7]);
}

int millisecondsUntil(Clock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::max<decltype(left)>(left, 0));
}

}  // namespace

struct FrontDoor::Pending {
    Poco::Net::StreamSocket socket;
    HeadFirstSocketImpl* impl;  // the socket's own, to read the head into
    Poco::Net::IPAddress peer;
    Clock::time_point deadline;
    RequestHeadScanner scanner;
};

// In front of the agent's routing: the status line never repeats what the client sent (HTTP/1.0
// is answered as HTTP/1.0, every other HTTP version as HTTP/1.1, a request line without one is a
// bad request), and the server's stop reaches the connections being served.
class FrontDoor::Handlers : public Poco::Net::HTTPRequestHandlerFactory {
  public:
    explicit Handlers(Poco::Net::HTTPRequestHandlerFactory* routes) : routes(routes) {}

    Poco::Net::HTTPRequestHandler* createRequestHandler(
        const Poco::Net::HTTPServerRequest& request) override {
        const std::string& version = request.getVersion();
        if (!isHttpVersion(version)) {
            return new BadRequestHandler;
        }
        request.response().setVersion(Poco::icompare(version, "HTTP/1.0") == 0
                                          ? Poco::Net::HTTPMessage::HTTP_1_0
                                          : Poco::Net::HTTPMessage::HTTP_1_1);
        return routes->createRequestHandler(request);
    }

    // Every connection being served has its socket shut down (closed on Windows).
    void abortConnections() { serverStopped(this, true); }

  private:
    std::unique_ptr<Poco::Net::HTTPRequestHandlerFactory> routes;
};

FrontDoor::FrontDoor(const Poco::Net::ServerSocket& socket,
                     Poco::Net::HTTPRequestHandlerFactory* factory,
                     Poco::Net::HTTPServerParams::Ptr params, FrontDoorLimits limits)
    : socket_(socket), limits_(limits), handlers_(new Handlers(factory)) {
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers(handlers_);
    dispatcher_ = new Poco::Net::TCPServerDispatcher(
        new Poco::Net::HTTPServerConnectionFactory(params, handlers),
        Poco::ThreadPool::defaultPool(), params);
}

FrontDoor::~FrontDoor() {
    stop();
}

void FrontDoor::start() {
    socket_.setBlocking(false);
    watch_.add(socket_.impl()->sockfd());
    thread_ = std::thread(&FrontDoor::run, this);
}

void FrontDoor::stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    stopping_ = true;
    watch_.wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    handlers_->abortConnections();
    // Each stop wakes one idle connection thread; a thread serving a request leaves once its
    // aborted socket fails.
    do {
        dispatcher_->stop();
        Poco::Thread::sleep(dispatcher_->currentThreads() > 0 ? 5 : 0);
    } while (dispatcher_->currentThreads() > 0);
}

// Sleeps until a socket is ready or the oldest pending head reaches its deadline; with nothing
// pending, until a connection comes.
void FrontDoor::run() {
    std::vector<poco_socket_t> ready;
    const poco_socket_t listener = socket_.impl()->sockfd();
    while (!stopping_) {
        watch_.wait(pending_.empty() ? -1 : millisecondsUntil(pending_.front().deadline), ready);
        if (stopping_) {
            break;
        }
        for (const poco_socket_t socket : ready) {
            if (socket == listener) {
                acceptWaiting();
            } else {
                readHead(socket);
            }
        }
        const Clock::time_point now = Clock::now();
        while (!pending_.empty() && pending_.front().deadline <= now) {
            release(0);
        }
    }
    while (!pending_.empty()) {
        release(pending_.size() - 1);
    }
}

void FrontDoor::acceptWaiting() {
    // Bounded, so that heads already pending are read between bursts of new connections.
    for (int i = 0; i < 64; ++i) {
        Poco::Net::SocketAddress peer;
        const poco_socket_t accepted = acceptWaitingConnection(socket_.impl()->sockfd(), peer);
        if (accepted == POCO_INVALID_SOCKET) {
            return;
        }
        auto* impl = new HeadFirstSocketImpl(accepted);
        Poco::Net::StreamSocket socket(impl);
        try {
            // As the dependency's own server does with every connection it accepts.
            socket.setNoDelay(true);
        } catch (const Poco::Exception&) {
            continue;  // reset already
        }
        admit(Pending{socket, impl, peer.host(), Clock::now() + limits_.headDeadline, {}});
    }
}

void FrontDoor::admit(Pending&& connection) {
    const std::size_t full = connectionToClose(pending_, connection.peer, limits_);
    if (full < pending_.size()) {
        release(full);
    }
    // The head often arrives with the connection: then it is never watched.
    switch (readAvailable(connection)) {
        case HeadState::complete:
            handOver(connection.socket);
            return;
        case HeadState::refused:
            return;
        case HeadState::waiting:
            break;
    }
    try {
        watch_.add(connection.socket.impl()->sockfd());
    } catch (const Poco::Exception&) {
        return;  // closed with the connection
    }
    pending_.push_back(std::move(connection));
    pendingCount_ = pending_.size();
}

FrontDoor::HeadState FrontDoor::readAvailable(Pending& connection) {
    HeadFirstSocketImpl& impl = *connection.impl;
    try {
        for (;;) {
            const int count = impl.receiveMore(limits_.maxHeadBytes - impl.head().size());
            if (count > 0) {
                if (connection.scanner.complete(impl.head())) {
                    return HeadState::complete;
                }
                if (impl.head().size() >= limits_.maxHeadBytes) {
                    return HeadState::refused;
                }
            } else if (count == 0) {
                // A head cut short by the end of the stream is read and answered at once too.
                return impl.head().empty() ? HeadState::refused : HeadState::complete;
            } else {
                return HeadState::waiting;
            }
        }
    } catch (const Poco::Exception&) {
        return HeadState::refused;  // reset by the client
    }
}

void FrontDoor::readHead(poco_socket_t socket) {
    const auto found = std::find_if(pending_.begin(), pending_.end(), [socket](const Pending& p) {
        return p.socket.impl()->sockfd() == socket;
    });
    if (found == pending_.end()) {
        return;
    }
    const std::size_t index = static_cast<std::size_t>(found - pending_.begin());
    switch (readAvailable(*found)) {
        case HeadState::complete: {
            const Poco::Net::StreamSocket complete = found->socket;
            release(index);
            handOver(complete);
            break;
        }
        case HeadState::refused:
            release(index);
            break;
        case HeadState::waiting:
            break;
    }
}

// Forgets a watched connection; its socket closes unless it is handed over.
void FrontDoor::release(std::size_t index) {
    watch_.remove(pending_[index].socket.impl()->sockfd());
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(index));
    pendingCount_ = pending_.size();
}

// The dispatcher queues it for a connection thread, or refuses it when its queue is full.
void FrontDoor::handOver(Poco::Net::StreamSocket socket) {
    try {
        socket.setBlocking(true);  // in the descriptor too: it was accepted non-blocking
    } catch (const Poco::Exception&) {
        return;
    }
    dispatcher_->enqueue(socket);
}

}  // namespace quorvane
