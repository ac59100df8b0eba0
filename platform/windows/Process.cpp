#include "platform/Process.h"

#include <Poco/Net/SocketAddress.h>

// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <clocale>

namespace quorvane {

void setProcessLocale() {
    _wsetlocale(LC_ALL, L"");
}

// S_FALSE (already initialised on this thread) is success too; only a failure code, such as
// RPC_E_CHANGED_MODE for a thread in another apartment, is not.
bool initializeCom() {
    return !FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED));
}

void uninitializeCom() {
    CoUninitialize();
}

// POCO's console control and service handlers end its wait; there are no signals to
// block.
void blockTerminationSignals() {}

void waitForTermination(const std::function<void()>& applicationWait) {
    applicationWait();
}

// No SO_REUSEADDR here: on Windows it lets a second socket bind a port that is being listened on,
// so a second agent would silently share the port instead of failing. Windows needs no reuse to
// bind again right after a restart.
void bindListeningSocket(Poco::Net::ServerSocket& socket, Poco::UInt16 port, int backlog) {
    socket.bind(Poco::Net::SocketAddress(Poco::Net::IPAddress(), port), false);
    socket.listen(backlog);
}

void abandonPlatformWaits() {}

}  // namespace quorvane
