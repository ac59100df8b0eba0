// Waiting for many sockets at once, as the HTTP front door does: one thread watches the listening
// socket and every connection still sending its request head or being drained after its
// response, sleeps without a time-out of its own, and is woken from another thread when a
// connection comes back to it or the agent stops.
#pragma once

#include <Poco/Net/Net.h>
#include <Poco/Net/SocketDefs.h>

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

namespace quorvane {

class SocketWatch {
  public:
    // Throws Poco::Exception when the system gives no means to watch.
    SocketWatch();
    ~SocketWatch();

    SocketWatch(const SocketWatch&) = delete;
    SocketWatch& operator=(const SocketWatch&) = delete;

    // Watches `socket` for bytes to read or the end of its stream. add, remove and wait are
    // called by the watching thread only.
    void add(poco_socket_t socket);
    void remove(poco_socket_t socket);

    // Waits until a watched socket is ready, wake() is called, or `timeoutMs` passes (negative:
    // no limit). `ready` gets the ready sockets; it stays empty when woken or timed out.
    void wait(int timeoutMs, std::vector<poco_socket_t>& ready);

    // From any thread: ends the wait in progress, or the next one.
    void wake();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// A client's address as the system gave it: the bytes only, so that telling clients apart costs
// a comparison of at most 16 bytes and no allocation.
struct PeerAddress {
    std::array<unsigned char, 16> bytes{};
    unsigned char length = 0;

    bool operator==(const PeerAddress& other) const {
        return length == other.length && bytes == other.bytes;
    }
};

enum class AcceptResult {
    accepted,
    none,              // nothing waiting now
    outOfDescriptors,  // the process or the system has no descriptor left (EMFILE, ENFILE)
    failed,            // this one failed (reset before it was taken, say); others may follow
};

// The address bytes of `address`, as the system filled it in on an accept: those of an IPv4 or
// IPv6 address, none for any other family.
PeerAddress peerAddressOf(const sockaddr_storage& address);

// Takes the next connection waiting on the (non-blocking) listening socket `listener`: on
// `accepted`, `socket` (non-blocking as well) is the caller's to own and `peer` is its address.
AcceptResult acceptWaitingConnection(poco_socket_t listener, poco_socket_t& socket,
                                     PeerAddress& peer);

// How many more descriptors the process may open: its soft limit less what is open now. The
// largest value where sockets have no such limit.
std::size_t descriptorsLeft();

}  // namespace quorvane
