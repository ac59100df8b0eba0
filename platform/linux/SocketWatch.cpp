#include "platform/SocketWatch.h"

#include <Poco/Exception.h>
#include <dirent.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

namespace quorvane {

// epoll for the sockets, an eventfd to be woken by.
struct SocketWatch::Impl {
    int epoll = -1;
    int wakeUp = -1;
};

SocketWatch::SocketWatch() : impl(std::make_unique<Impl>()) {
    impl->epoll = epoll_create1(EPOLL_CLOEXEC);
    impl->wakeUp = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = impl->wakeUp;
    if (impl->epoll < 0 || impl->wakeUp < 0 ||
        epoll_ctl(impl->epoll, EPOLL_CTL_ADD, impl->wakeUp, &event) != 0) {
        const int error = errno;
        if (impl->epoll >= 0) {
            close(impl->epoll);
        }
        if (impl->wakeUp >= 0) {
            close(impl->wakeUp);
        }
        throw Poco::SystemException("cannot watch sockets", error);
    }
}

SocketWatch::~SocketWatch() {
    close(impl->epoll);
    close(impl->wakeUp);
}

void SocketWatch::add(poco_socket_t socket) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.fd = socket;
    if (epoll_ctl(impl->epoll, EPOLL_CTL_ADD, socket, &event) != 0) {
        throw Poco::SystemException("cannot watch a socket", errno);
    }
}

void SocketWatch::remove(poco_socket_t socket) {
    epoll_ctl(impl->epoll, EPOLL_CTL_DEL, socket, nullptr);
}

void SocketWatch::wait(int timeoutMs, std::vector<poco_socket_t>& ready) {
    ready.clear();
    epoll_event events[64];
    const int count = epoll_wait(impl->epoll, events, 64, timeoutMs < 0 ? -1 : timeoutMs);
    for (int i = 0; i < count; ++i) {
        if (events[i].data.fd == impl->wakeUp) {
            std::uint64_t wakes = 0;
            [[maybe_unused]] const ssize_t drained = read(impl->wakeUp, &wakes, sizeof wakes);
        } else {
            ready.push_back(events[i].data.fd);
        }
    }
}

void SocketWatch::wake() {
    const std::uint64_t one = 1;
    // Only fails when the counter is about to overflow, and then a wake-up is pending anyway.
    [[maybe_unused]] const ssize_t written = write(impl->wakeUp, &one, sizeof one);
}

// Close-on-exec from the start: the agent starts helper processes of its own.
AcceptResult acceptWaitingConnection(poco_socket_t listener, poco_socket_t& socket,
                                     PeerAddress& peer) {
    sockaddr_storage address{};
    socklen_t length;
    do {
        length = sizeof address;
        socket = accept4(listener, reinterpret_cast<sockaddr*>(&address), &length,
                         SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (socket < 0 && errno == EINTR);
    if (socket < 0) {
        switch (errno) {
            case EAGAIN:
#if EWOULDBLOCK != EAGAIN
            case EWOULDBLOCK:
#endif
                return AcceptResult::none;
            case EMFILE:
            case ENFILE:
            case ENOBUFS:
            case ENOMEM:
                return AcceptResult::outOfDescriptors;
            default:
                return AcceptResult::failed;
        }
    }
    peer = peerAddressOf(address);
    return AcceptResult::accepted;
}

std::size_t descriptorsLeft() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::numeric_limits<std::size_t>::max();
    }
    std::size_t open = 0;
    if (DIR* descriptors = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(descriptors)) {
            open += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(descriptors);
        open -= open > 0 ? 1 : 0;  // the directory's own
    }
    const auto soft = static_cast<std::size_t>(limit.rlim_cur);
    return soft > open ? soft - open : 0;
}

}  // namespace quorvane
