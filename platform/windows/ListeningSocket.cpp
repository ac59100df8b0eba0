#include "platform/ListeningSocket.h"

#include <Poco/Net/SocketAddress.h>

namespace quorvane {

// No SO_REUSEADDR here: on Windows it lets a second socket bind a port that is being listened on,
// so a second agent would silently share the port instead of failing. Windows needs no reuse to
// bind again right after a restart.
void bindListeningSocket(Poco::Net::ServerSocket& socket, Poco::UInt16 port, int backlog) {
    socket.bind(Poco::Net::SocketAddress(Poco::Net::IPAddress(), port), false);
    socket.listen(backlog);
}

}  // namespace quorvane
