#include "RawSocket.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace quorvane::test {

namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

void Tally::add(Outcome outcome) {
    switch (outcome) {
        case Outcome::ok:
            ++ok;
            break;
        case Outcome::drop:
            ++drops;
            break;
        case Outcome::error:
            ++errors;
            break;
    }
}

int connectLoopback(std::uint16_t port, double timeoutSeconds, const char* source) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeoutSeconds);
    tv.tv_usec = static_cast<suseconds_t>((timeoutSeconds - static_cast<double>(tv.tv_sec)) * 1e6);
    // On Linux the send time-out also bounds connect().
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (source != nullptr) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        if (inet_pton(AF_INET, source, &from.sin_addr) != 1 ||
            bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
            close(fd);
            return -1;
        }
    }
    const sockaddr_in address = loopback(port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::vector<sockaddr_in> crowdAddresses(const std::vector<std::string>& sources, int perSource) {
    std::vector<sockaddr_in> addresses;
    for (const auto& source : sources) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, source.c_str(), &from.sin_addr);
        for (int i = 0; i < perSource; ++i) {
            addresses.push_back(from);
        }
    }
    return addresses;
}

int startLoopbackConnection(std::uint16_t port, const sockaddr_in& from) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    const sockaddr_in to = loopback(port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
        (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
         errno != EINPROGRESS)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

ReceiveEnd receiveAll(int fd, std::string& received, std::size_t limit) {
    char buffer[16384];
    while (received.size() < limit) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            received.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return ReceiveEnd::closed;
        } else {
            return errno == EAGAIN || errno == EWOULDBLOCK ? ReceiveEnd::timedOut
                                                           : ReceiveEnd::failed;
        }
    }
    return ReceiveEnd::limit;
}

}  // namespace quorvane::test
