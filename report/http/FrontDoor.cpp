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
#include <mutex>
#include <string>
#include <utility>

#include "RequestHandlers.h"
#include "RequestHead.h"

namespace quorvane {

namespace {

using Clock = std::chrono::steady_clock;

// Besides the connections it holds and those in the dispatcher, descriptors the agent opens on
// its own after start-up: a refresh's directory and helper pipes, the time zone file, one spare.
constexpr std::size_t kSpareDescriptors = 16;
constexpr std::size_t kMinPending = 4;
// While the listener is not watched for want of descriptors: tried again at least this often.
constexpr std::chrono::milliseconds kListenerRetry{100};
// Read per readiness of a draining connection, so that one fast sender cannot hold the thread.
constexpr int kDrainReadsPerTurn = 4;

void closeSocket(poco_socket_t socket) {
    Poco::Net::StreamSocket closing(new Poco::Net::StreamSocketImpl(socket));
}

}  // namespace

// Between the connection threads and the front door's thread: connections that come back to be
// drained, and how many connections the dispatcher holds.
class ConnectionReturns {
  public:
    struct Returned {
        poco_socket_t socket;
        PeerAddress peer;
    };

    explicit ConnectionReturns(SocketWatch& watch) : watch_(&watch) {}

    // From a connection thread: the response is out, the client may still be sending.
    void give(poco_socket_t socket, const PeerAddress& peer) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (open_) {
                returned_.push_back({socket, peer});
                watch_->wake();
                return;
            }
        }
        closeSocket(socket);
    }

    // From a connection thread: a connection handed over has ended, so its place is free.
    void finished() {
        inFlight.fetch_sub(1);
        if (waiting.load() > 0 || listenerPaused.load()) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (open_) {
                watch_->wake();
            }
        }
    }

    std::vector<Returned> take() {
        std::vector<Returned> taken;
        std::lock_guard<std::mutex> lock(mutex_);
        taken.swap(returned_);
        return taken;
    }

    // The front door's thread has ended: what comes back from now on closes at once.
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
        for (const Returned& returned : returned_) {
            closeSocket(returned.socket);
        }
        returned_.clear();
    }

    // Handed over and not ended yet: at a connection thread or in the dispatcher's queue.
    std::atomic<std::size_t> inFlight{0};
    // Mirrors of the front door's state, read by finished() to know whether to wake it.
    std::atomic<std::size_t> waiting{0};
    std::atomic<bool> listenerPaused{false};

  private:
    std::mutex mutex_;
    std::vector<Returned> returned_;
    bool open_ = true;
    SocketWatch* watch_;
};

namespace {

// A connection whose head the front door has read out of the socket: the connection thread reads
// those bytes first, then the socket, so POCO's session sees the stream unchanged.
// When POCO closes it after the response, a client that may still be sending gets the
// end of the response (FIN) at once and the connection goes back to the front door to be drained.
class HeadFirstSocketImpl : public Poco::Net::StreamSocketImpl {
  public:
    explicit HeadFirstSocketImpl(poco_socket_t socket) : StreamSocketImpl(socket) {}

    ~HeadFirstSocketImpl() override {
        if (returns_ != nullptr) {
            returns_->finished();  // dropped from the dispatcher's queue, never served
        }
    }

    // The bytes taken so far.
    const std::string& head() const { return head_; }

    // Appends what the socket has: the count, 0 at the end of the stream, -1 when nothing is
    // there now. The descriptor is non-blocking from its accept while POCO still takes
    // it for blocking (that saves switching the mode there and back), so the system's "nothing
    // now" is taken here directly rather than as POCO's time-out exception, which
    // would cost more than the rest of an accept.
    int receiveMore(std::size_t room) {
        char buffer[4096];
        const int wanted = static_cast<int>(std::min(room, sizeof buffer));
        int count;
        do {
            count = static_cast<int>(::recv(sockfd(), buffer, wanted, 0));
        } while (count < 0 && lastError() == POCO_EINTR);
        if (count < 0) {
            const int failure = lastError();
            if (failure == POCO_EAGAIN || failure == POCO_EWOULDBLOCK) {
                return -1;
            }
            error(failure);  // throws
        }
        if (count > 0) {
            head_.append(buffer, static_cast<std::size_t>(count));
        }
        return count;
    }

    // From here POCO serves it; `returns` hears when it ends.
    void handOver(std::shared_ptr<ConnectionReturns> returns, const PeerAddress& peer,
                  bool bodyAnnounced) {
        returns_ = std::move(returns);
        peer_ = peer;
        bodyAnnounced_ = bodyAnnounced;
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

    // Closing with unread bytes makes the system answer the client with a reset, which throws
    // away the response the client has not read yet. So a connection whose client announced a
    // body, or has sent more than was read, is drained first; any other closes here and now.
    void close() override {
        const std::shared_ptr<ConnectionReturns> returns = std::move(returns_);
        if (returns == nullptr || sockfd() == POCO_INVALID_SOCKET) {
            StreamSocketImpl::close();
            if (returns != nullptr) {
                returns->finished();
            }
            return;
        }
        bool clientMaySend = bodyAnnounced_;
        try {
            clientMaySend = clientMaySend || StreamSocketImpl::available() > 0;
            if (clientMaySend) {
                shutdownSend();
            }
        } catch (const Poco::Exception&) {
            clientMaySend = false;  // reset already: nothing left to protect
        }
        if (clientMaySend) {
            const poco_socket_t socket = sockfd();
            reset();
            returns->give(socket, peer_);
        } else {
            StreamSocketImpl::close();
        }
        returns->finished();
    }

  private:
    std::string head_;
    std::size_t served_ = 0;
    std::shared_ptr<ConnectionReturns> returns_;
    PeerAddress peer_;
    bool bodyAnnounced_ = false;
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

struct FrontDoor::Connection : PendingEntry {
    Poco::Net::StreamSocket socket;
    HeadFirstSocketImpl* impl = nullptr;  // the socket's own while its head is read
    RequestHeadScanner scanner;
    std::size_t drained = 0;
    bool watched = false;

    poco_socket_t descriptor() const { return socket.impl()->sockfd(); }
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
    : socket_(socket),
      limits_(limits),
      inFlightLimit_(static_cast<std::size_t>(std::max(params->getMaxThreads(), 1) +
                                              std::max(params->getMaxQueued(), 0))),
      maxQueued_(static_cast<std::size_t>(std::max(params->getMaxQueued(), 0))),
      handlers_(new Handlers(factory)),
      returns_(std::make_shared<ConnectionReturns>(watch_)),
      drainBuffer_(64 * 1024) {
    Poco::Net::HTTPRequestHandlerFactory::Ptr handlers(handlers_);
    dispatcher_ = new Poco::Net::TCPServerDispatcher(
        new Poco::Net::HTTPServerConnectionFactory(params, handlers),
        Poco::ThreadPool::defaultPool(), params);
}

FrontDoor::~FrontDoor() {
    stop();
}

void FrontDoor::start() {
    // What the descriptor limit leaves, less the dispatcher's connections and the agent's own.
    const std::size_t left = descriptorsLeft();
    const std::size_t reserve = inFlightLimit_ + kSpareDescriptors;
    capacity_ =
        std::min(limits_.maxPending, left > reserve + kMinPending ? left - reserve : kMinPending);
    socket_.setBlocking(false);
    resumeListener();
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
    returns_->close();
    handlers_->abortConnections();
    // Each stop wakes one idle connection thread; a thread serving a request leaves once its
    // aborted socket fails.
    do {
        dispatcher_->stop();
        Poco::Thread::sleep(dispatcher_->currentThreads() > 0 ? 5 : 0);
    } while (dispatcher_->currentThreads() > 0);
}

// Sleeps until a socket is ready, a connection comes back or the next deadline; with nothing
// held, until a connection comes.
void FrontDoor::run() {
    std::vector<poco_socket_t> ready;
    const poco_socket_t listener = socket_.impl()->sockfd();
    while (!stopping_) {
        watch_.wait(millisecondsToWait(), ready);
        if (stopping_) {
            break;
        }
        takeReturns();
        for (const poco_socket_t socket : ready) {
            if (socket == listener) {
                acceptWaiting();
            } else {
                onReadable(socket);
            }
        }
        const Clock::time_point now = Clock::now();
        for (PendingEntry* head; (head = set_.oldestHead()) != nullptr && head->deadline <= now;) {
            close(*static_cast<Connection*>(head));
        }
        for (PendingEntry* done;
             (done = set_.oldestLingering()) != nullptr && done->deadline <= now;) {
            close(*static_cast<Connection*>(done));
        }
        handOverWaiting();
        if (!listenerWatched_ &&
            (closedSincePause_ || returns_->inFlight < inFlightAtPause_ || now >= listenerRetry_)) {
            resumeListener();
        }
    }
    set_ = PendingSet();
    connections_.clear();
}

int FrontDoor::millisecondsToWait() const {
    Clock::time_point next = Clock::time_point::max();
    if (const PendingEntry* head = set_.oldestHead()) {
        next = head->deadline;
    }
    if (const PendingEntry* done = set_.oldestLingering()) {
        next = std::min(next, done->deadline);
    }
    if (!listenerWatched_) {
        next = std::min(next, listenerRetry_);
    }
    return next == Clock::time_point::max() ? -1 : millisecondsUntil(next);
}

void FrontDoor::acceptWaiting() {
    const poco_socket_t listener = socket_.impl()->sockfd();
    // Bounded, so that connections already held are read between bursts of new ones.
    for (int i = 0; i < 64 && listenerWatched_; ++i) {
        poco_socket_t accepted = POCO_INVALID_SOCKET;
        PeerAddress peer;
        switch (acceptWaitingConnection(listener, accepted, peer)) {
            case AcceptResult::none:
                return;
            case AcceptResult::failed:
                break;
            case AcceptResult::outOfDescriptors:
                // Level-triggered: watching the listener now would wake this thread at once,
                // again and again. One of ours closes to make room, or the listener rests.
                if (!makeRoom(true)) {
                    pauseListener();
                    return;
                }
                break;
            case AcceptResult::accepted:
                admit(accepted, peer);
                break;
        }
    }
}

void FrontDoor::admit(poco_socket_t socket, const PeerAddress& peer) {
    auto connection = std::make_unique<Connection>();
    connection->impl = new HeadFirstSocketImpl(socket);
    connection->socket = Poco::Net::StreamSocket(connection->impl);
    connection->peer = peer;
    try {
        // As POCO's own server does with every connection it accepts.
        connection->socket.setNoDelay(true);
    } catch (const Poco::Exception&) {
        return;  // reset already
    }
    makeRoom(false);
    Connection& admitted = *connection;
    connections_.emplace(socket, std::move(connection));
    set_.addHead(admitted, Clock::now() + limits_.headDeadline);
    // The head often arrives with the connection: then it is never watched.
    afterRead(admitted, readAvailable(admitted));
}

bool FrontDoor::makeRoom(bool descriptor) {
    for (;;) {
        if (!descriptor && set_.size() < capacity_) {
            return true;
        }
        PendingEntry* entry = set_.candidateToGiveUp();
        if (entry == nullptr) {
            return false;
        }
        Connection& candidate = *static_cast<Connection*>(entry);
        // Its head may have come since it was last read: then it is served, not cut.
        if (candidate.state == PendingEntry::State::head &&
            readAvailable(candidate) == HeadState::complete) {
            headComplete(candidate);
            continue;
        }
        close(candidate);
        if (descriptor) {
            return true;
        }
    }
}

FrontDoor::HeadState FrontDoor::readAvailable(Connection& connection) {
    HeadFirstSocketImpl& impl = *connection.impl;
    try {
        for (;;) {
            const int count = impl.receiveMore(limits_.maxHeadBytes - impl.head().size());
            if (count > 0) {
                if (connection.scanner.complete(impl.head())) {
                    return HeadState::complete;
                }
                if (impl.head().size() >= limits_.maxHeadBytes) {
                    return HeadState::tooLarge;
                }
            } else if (count == 0) {
                // A head cut short by the end of the stream is read and answered at once too.
                return impl.head().empty() ? HeadState::gone : HeadState::complete;
            } else {
                return HeadState::waiting;
            }
        }
    } catch (const Poco::Exception&) {
        return HeadState::gone;  // reset by the client
    }
}

void FrontDoor::afterRead(Connection& connection, HeadState state) {
    switch (state) {
        case HeadState::complete:
            headComplete(connection);
            break;
        case HeadState::tooLarge:
            answerTooLarge(connection);
            break;
        case HeadState::gone:
            close(connection);
            break;
        case HeadState::waiting:
            if (!connection.watched) {
                try {
                    watch_.add(connection.descriptor());
                    connection.watched = true;
                } catch (const Poco::Exception&) {
                    close(connection);
                }
            }
            break;
    }
}

void FrontDoor::onReadable(poco_socket_t socket) {
    const auto found = connections_.find(socket);
    if (found == connections_.end()) {
        return;
    }
    Connection& connection = *found->second;
    if (connection.state == PendingEntry::State::lingering) {
        drain(connection);
    } else if (connection.state == PendingEntry::State::head) {
        afterRead(connection, readAvailable(connection));
    }
}

// Served at once when a place is free and nobody waits; otherwise it waits for its turn.
void FrontDoor::headComplete(Connection& connection) {
    if (connection.watched) {
        // More bytes (a body) would wake this thread for nothing until it is served.
        watch_.remove(connection.descriptor());
        connection.watched = false;
    }
    if (set_.waiting() == 0 && dispatcherHasRoom()) {
        set_.remove(connection);
        handOver(connection);
        return;
    }
    set_.headComplete(connection);
    returns_->waiting = set_.waiting();
    handOverWaiting();
}

// Said with a status line rather than a reset; then drained like any other answered connection.
void FrontDoor::answerTooLarge(Connection& connection) {
    static const std::string response =
        "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: Close\r\n\r\n";
    try {
        connection.socket.sendBytes(response.data(), static_cast<int>(response.size()));
        connection.socket.shutdownSend();
    } catch (const Poco::Exception&) {
        close(connection);
        return;
    }
    set_.remove(connection);
    set_.addLingering(connection, Clock::now() + limits_.drainTime);
}

void FrontDoor::drain(Connection& connection) {
    for (int i = 0; i < kDrainReadsPerTurn; ++i) {
        int count;
        try {
            count = connection.socket.impl()->receiveBytes(
                drainBuffer_.data(), static_cast<int>(drainBuffer_.size()), 0);
        } catch (const Poco::TimeoutException&) {
            return;  // nothing now
        } catch (const Poco::Exception&) {
            count = 0;
        }
        if (count < 0) {
            return;  // nothing now
        }
        connection.drained += static_cast<std::size_t>(count);
        if (count == 0 || connection.drained >= limits_.drainBytes) {
            close(connection);
            return;
        }
    }
}

// Connections that come back after their response, to be drained.
void FrontDoor::takeReturns() {
    for (const ConnectionReturns::Returned& returned : returns_->take()) {
        auto connection = std::make_unique<Connection>();
        connection->socket =
            Poco::Net::StreamSocket(new Poco::Net::StreamSocketImpl(returned.socket));
        connection->peer = returned.peer;
        try {
            connection->socket.setBlocking(false);
        } catch (const Poco::Exception&) {
            continue;
        }
        makeRoom(false);
        Connection& back = *connection;
        connections_.emplace(returned.socket, std::move(connection));
        set_.addLingering(back, Clock::now() + limits_.drainTime);
        drain(back);  // often the client has closed already
        if (connections_.count(returned.socket) != 0) {
            afterRead(back, HeadState::waiting);
        }
    }
}

void FrontDoor::handOverWaiting() {
    while (set_.waiting() > 0 && dispatcherHasRoom()) {
        Connection& next = *static_cast<Connection*>(set_.takeNextTurn());
        returns_->waiting = set_.waiting();
        handOver(next);
    }
}

// The dispatcher refuses what its queue cannot take, and its threads take from the queue only
// when they come to it: both counts must have room.
bool FrontDoor::dispatcherHasRoom() const {
    return returns_->inFlight < inFlightLimit_ &&
           static_cast<std::size_t>(dispatcher_->queuedConnections()) < maxQueued_;
}

// `connection` has left the set; here it leaves the front door.
void FrontDoor::handOver(Connection& connection) {
    const Poco::Net::StreamSocket socket = connection.socket;
    HeadFirstSocketImpl* impl = connection.impl;
    const PeerAddress peer = connection.peer;
    connections_.erase(socket.impl()->sockfd());
    try {
        socket.impl()->setBlocking(true);  // in the descriptor too: it was accepted non-blocking
    } catch (const Poco::Exception&) {
        return;
    }
    ++returns_->inFlight;
    impl->handOver(returns_, peer, announcesBody(impl->head()));
    dispatcher_->enqueue(socket);
}

void FrontDoor::close(Connection& connection) {
    if (connection.watched) {
        watch_.remove(connection.descriptor());
    }
    set_.remove(connection);
    if (connection.state == PendingEntry::State::waiting) {
        returns_->waiting = set_.waiting();
    }
    closedSincePause_ = true;
    connections_.erase(connection.descriptor());  // closes it
}

void FrontDoor::pauseListener() {
    watch_.remove(socket_.impl()->sockfd());
    listenerWatched_ = false;
    listenerRetry_ = Clock::now() + kListenerRetry;
    closedSincePause_ = false;
    inFlightAtPause_ = returns_->inFlight;
    returns_->listenerPaused = true;
}

void FrontDoor::resumeListener() {
    watch_.add(socket_.impl()->sockfd());
    listenerWatched_ = true;
    returns_->listenerPaused = false;
}

}  // namespace quorvane
