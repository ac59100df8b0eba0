// Waiting for many sockets at once, as the HTTP front door does: one thread watches the listening
// socket and every connection still sending its request head, sleeps without a time-out of its
// own, and is woken from another thread when the agent stops.
#pragma once

#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/SocketDefs.h>

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

// Takes the next connection waiting on the (non-blocking) listening socket `listener`; the
// descriptor, non-blocking as well, is the caller's to own. POCO_INVALID_SOCKET when none is
// waiting or it failed.
poco_socket_t acceptWaitingConnection(poco_socket_t listener, Poco::Net::SocketAddress& peer);

}  // namespace quorvane
