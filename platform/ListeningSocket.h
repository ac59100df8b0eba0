// The agent's listening socket, bound so that each system refuses a second agent on its port.
#pragma once

#include <Poco/Net/ServerSocket.h>

namespace quorvane {

// Binds `socket` to `port` on every IPv4 interface and starts listening, so that a second agent
// on the same port fails instead of sharing it.
void bindListeningSocket(Poco::Net::ServerSocket& socket, Poco::UInt16 port, int backlog);

}  // namespace quorvane
