// Loopback connections on plain POSIX sockets, for the tests that need the system's own view of a
// connection (a reset, a time-out, a handshake still under way) and for the benchmark's load
// client, which must not measure a library's overhead. Only 127.0.0.1 is ever contacted.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace quorvane::test {

// ok: a 200 response, then the server closed the connection.
// drop: the connection was accepted and then closed or reset before a single byte came back
// (what the server does with a connection it cannot queue). error: anything else.
enum class Outcome { ok, drop, error };

struct Tally {
    std::atomic<long> ok{0};
    std::atomic<long> drops{0};
    std::atomic<long> errors{0};
    void add(Outcome outcome);
    long total() const { return ok + drops + errors; }
};

// A blocking connection to 127.0.0.1:port from the local address `source` (any of 127.0.0.0/8)
// when one is given, Nagle's delay off; every send and receive is bounded by `timeoutSeconds`, on
// Linux the connect too. -1 on failure.
int connectLoopback(std::uint16_t port, double timeoutSeconds, const char* source = nullptr);

// `perSource` copies of each of the local addresses `sources` (127.0.0.0/8): one per connection
// of a crowd.
std::vector<sockaddr_in> crowdAddresses(const std::vector<std::string>& sources, int perSource);

// A connection to 127.0.0.1:port from `from` that does not block: its handshake may still be
// under way (a full backlog holds it up) while the caller goes on with others. -1 on failure.
int startLoopbackConnection(std::uint16_t port, const sockaddr_in& from);

// Sends all of `bytes`; false when the server closed or reset the connection first (errno says
// which).
bool sendAll(int fd, const std::string& bytes);

enum class ReceiveEnd { closed, timedOut, failed, limit };

// Appends what arrives to `received` until the server closes the connection, a receive times out
// or fails (a reset), or `limit` bytes have come.
ReceiveEnd receiveAll(int fd, std::string& received,
                      std::size_t limit = std::numeric_limits<std::size_t>::max());

}  // namespace quorvane::test
