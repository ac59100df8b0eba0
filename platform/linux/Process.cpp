#include "platform/Process.h"

#include <Poco/Net/SocketAddress.h>

#include <clocale>

#include "BoundedStatvfs.h"

namespace quorvane {

void setProcessLocale() {
    std::setlocale(LC_ALL, "");
}

// There is no COM on Linux: entering and leaving the apartment always succeed.
bool initializeCom() {
    return true;
}
void uninitializeCom() {}

// Address reuse as usual for a server, but no port sharing: ServerSocket(port, backlog) also sets
// SO_REUSEPORT, with which a second agent would bind the same port and take half the connections.
void bindListeningSocket(Poco::Net::ServerSocket& socket, Poco::UInt16 port, int backlog) {
    socket.bind(Poco::Net::SocketAddress(Poco::Net::IPAddress(), port), true, false);
    socket.listen(backlog);
}

void abandonPlatformWaits() {
    linuxsource::systemStatvfs().stop();
}

}  // namespace quorvane
