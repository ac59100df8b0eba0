#include "SlowCrowd.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "RawSocket.h"

namespace quorvane::test {

SlowCrowd::SlowCrowd(std::uint16_t port, const std::vector<std::string>& sources, int perSource,
                     std::chrono::milliseconds interval, std::chrono::milliseconds pause)
    : thread_(&SlowCrowd::run, this, port, sources, perSource, interval, pause) {}

SlowCrowd::~SlowCrowd() {
    stop_ = true;
    thread_.join();
}

void SlowCrowd::run(std::uint16_t port, std::vector<std::string> sources, int perSource,
                    std::chrono::milliseconds interval, std::chrono::milliseconds pause) {
    struct Slot {
        sockaddr_in from{};
        int fd = -1;
        std::size_t sent = 0;
        std::chrono::steady_clock::time_point again;  // when to connect again after a close
    };
    std::vector<Slot> slots;
    for (const auto& from : crowdAddresses(sources, perSource)) {
        Slot slot;
        slot.from = from;
        slots.push_back(slot);
    }
    const std::string head = "GET /getdata HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ";
    // Not blocking: a connection whose handshake the full backlog drops is retried by the
    // system while the others go on.
    auto connectSlot = [port](Slot& slot) {
        slot.fd = startLoopbackConnection(port, slot.from);
        slot.sent = 0;
    };
    auto nextByte = std::chrono::steady_clock::now();
    while (!stop_) {
        std::vector<pollfd> watched;
        const auto now = std::chrono::steady_clock::now();
        for (auto& slot : slots) {
            if (slot.fd < 0 && now >= slot.again) {
                connectSlot(slot);
            }
            watched.push_back({slot.fd, POLLIN, 0});
        }
        poll(watched.data(), watched.size(), 20);
        for (std::size_t i = 0; i < slots.size(); ++i) {
            char byte;
            if (slots[i].fd >= 0 && (watched[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
                recv(slots[i].fd, &byte, 1, 0) <= 0) {
                close(slots[i].fd);
                slots[i].fd = -1;
                slots[i].again = std::chrono::steady_clock::now() + pause;
                ++closed_;
            }
        }
        if (std::chrono::steady_clock::now() >= nextByte) {
            nextByte += interval;
            for (auto& slot : slots) {
                if (slot.fd >= 0) {
                    const char byte = slot.sent < head.size() ? head[slot.sent] : 'a';
                    if (send(slot.fd, &byte, 1, MSG_NOSIGNAL) == 1) {
                        ++slot.sent;
                    }
                }
            }
        }
    }
    for (auto& slot : slots) {
        if (slot.fd >= 0) {
            close(slot.fd);
        }
    }
}

}  // namespace quorvane::test
