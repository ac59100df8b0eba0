#include "platform/ListeningSocket.h"

#include <Poco/Net/SocketAddress.h>

namespace quorvane {

// Address reuse as usual for a server, but no port sharing: ServerSocket(port, backlog) also sets
// SO_REUSEPORT, with which a second agent would bind the same port and take half the connections.
void bindListeningSocket(Poco::Net::ServerSocket& socket, Poco::UInt16 port, int backlog) {
    socket.bind(Poco::Net::SocketAddress(Poco::Net::IPAddress(), port), true, false);
    socket.listen(backlog);
}

}  // namespace quorvane
