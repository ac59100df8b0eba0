#include "platform/SocketWatch.h"

#include <Poco/Exception.h>

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <limits>

namespace quorvane {

// WSAPoll cannot wait for an event object, so the wake-up is a byte sent over a loopback
// connection of our own, whose reading end is always watched (the first entry).
struct SocketWatch::Impl {
    std::vector<WSAPOLLFD> watched;
    SOCKET wakeRead = INVALID_SOCKET;
    SOCKET wakeWrite = INVALID_SOCKET;
};

namespace {

void closeIfOpen(SOCKET& socket) {
    if (socket != INVALID_SOCKET) {
        closesocket(socket);
        socket = INVALID_SOCKET;
    }
}

}  // namespace

SocketWatch::SocketWatch() : impl(std::make_unique<Impl>()) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    u_long nonBlocking = 1;
    const bool made =
        listener != INVALID_SOCKET &&
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        (impl->wakeWrite = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) != INVALID_SOCKET &&
        connect(impl->wakeWrite, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        (impl->wakeRead = accept(listener, nullptr, nullptr)) != INVALID_SOCKET &&
        ioctlsocket(impl->wakeRead, FIONBIO, &nonBlocking) == 0;
    const int error = WSAGetLastError();
    closeIfOpen(listener);
    if (!made) {
        closeIfOpen(impl->wakeRead);
        closeIfOpen(impl->wakeWrite);
        throw Poco::IOException("cannot watch sockets", error);
    }
    impl->watched.push_back(WSAPOLLFD{impl->wakeRead, POLLRDNORM, 0});
}

SocketWatch::~SocketWatch() {
    closeIfOpen(impl->wakeRead);
    closeIfOpen(impl->wakeWrite);
}

void SocketWatch::add(poco_socket_t socket) {
    impl->watched.push_back(WSAPOLLFD{socket, POLLRDNORM, 0});
}

void SocketWatch::remove(poco_socket_t socket) {
    auto& watched = impl->watched;
    watched.erase(std::remove_if(watched.begin() + 1, watched.end(),
                                 [socket](const WSAPOLLFD& entry) { return entry.fd == socket; }),
                  watched.end());
}

void SocketWatch::wait(int timeoutMs, std::vector<poco_socket_t>& ready) {
    ready.clear();
    auto& watched = impl->watched;
    const int count =
        WSAPoll(watched.data(), static_cast<ULONG>(watched.size()), timeoutMs < 0 ? -1 : timeoutMs);
    if (count <= 0) {
        return;
    }
    if (watched[0].revents != 0) {
        char drained[64];
        while (recv(impl->wakeRead, drained, sizeof drained, 0) > 0) {
        }
    }
    // A peer that is gone shows as hang-up or error rather than as readable: the reader finds out.
    for (std::size_t i = 1; i < watched.size(); ++i) {
        if (watched[i].revents != 0) {
            ready.push_back(watched[i].fd);
        }
    }
}

void SocketWatch::wake() {
    const char one = 1;
    send(impl->wakeWrite, &one, 1, 0);
}

AcceptResult acceptWaitingConnection(poco_socket_t listener, poco_socket_t& socket,
                                     PeerAddress& peer) {
    sockaddr_storage address{};
    int length = sizeof address;
    socket = accept(listener, reinterpret_cast<sockaddr*>(&address), &length);
    if (socket == INVALID_SOCKET) {
        switch (WSAGetLastError()) {
            case WSAEWOULDBLOCK:
                return AcceptResult::none;
            case WSAEMFILE:
            case WSAENOBUFS:
                return AcceptResult::outOfDescriptors;
            default:
                return AcceptResult::failed;
        }
    }
    // Said rather than relied on: the front door's thread must never wait for one connection.
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        closesocket(socket);
        socket = INVALID_SOCKET;
        return AcceptResult::failed;
    }
    peer = peerAddressOf(address);
    return AcceptResult::accepted;
}

// Sockets are kernel objects without a per-process count limit of the kind RLIMIT_NOFILE sets.
std::size_t descriptorsLeft() {
    return std::numeric_limits<std::size_t>::max();
}

}  // namespace quorvane
