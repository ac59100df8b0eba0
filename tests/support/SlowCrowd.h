// Slow clients for the reliability tests and the benchmark. Plain POSIX sockets, loopback only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quorvane::test {

// Clients that hold connections without ever completing a request head: each sends one byte of
// a head every `interval` and connects again `pause` after the server closed it (at once when
// zero), `perSource` connections from each of the local `sources` (127.0.0.0/8), until destroyed.
class SlowCrowd {
  public:
    SlowCrowd(std::uint16_t port, const std::vector<std::string>& sources, int perSource,
              std::chrono::milliseconds interval,
              std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    ~SlowCrowd();
    // Connections the server has closed so far.
    long closedByServer() const { return closed_; }

  private:
    void run(std::uint16_t port, std::vector<std::string> sources, int perSource,
             std::chrono::milliseconds interval, std::chrono::milliseconds pause);
    std::atomic<bool> stop_{false};
    std::atomic<long> closed_{0};
    std::thread thread_;
};

}  // namespace quorvane::test
