// What both back ends of the socket watch share: a client's address from what accept filled in.
// Poco/Net/SocketDefs.h (through SocketWatch.h) brings the socket headers of each system.
#include "platform/SocketWatch.h"

#include <cstring>

namespace quorvane {

PeerAddress peerAddressOf(const sockaddr_storage& address) {
    PeerAddress peer;
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        std::memcpy(peer.bytes.data(), &in.sin_addr, sizeof in.sin_addr);
        peer.length = sizeof in.sin_addr;
    } else if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        std::memcpy(peer.bytes.data(), &in6.sin6_addr, sizeof in6.sin6_addr);
        peer.length = sizeof in6.sin6_addr;
    }
    return peer;
}

}  // namespace quorvane
