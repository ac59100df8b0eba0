#include "platform/Process.h"

#include <Poco/Net/SocketAddress.h>
#include <pthread.h>
#include <signal.h>

#include <clocale>

#include "BoundedCall.h"

namespace quorvane {

void setProcessLocale() {
    std::setlocale(LC_ALL, "");
}

std::string completeServiceRegistration(const std::string&) {
    return std::string();
}

// systemd's journal takes the console's output.
void logToSystemLog(const std::string&) {}

std::string registerEventSource(const std::string&) {
    return std::string();
}

std::string unregisterEventSource(const std::string&) {
    return std::string();
}

// There is no COM on Linux: entering and leaving the apartment always succeed.
bool initializeCom() {
    return true;
}
void uninitializeCom() {}

namespace {

sigset_t terminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
        sigaddset(&signals, signalNumber);
    }
    return signals;
}

}  // namespace

void blockTerminationSignals() {
    const sigset_t signals = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// Every thread blocks the signals (inherited from the entry), so they stay pending until taken
// here; later ones stay pending, unnoticed, until the process ends.
void waitForTermination(const std::function<void()>&) {
    const sigset_t signals = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    int signalNumber = 0;
    while (sigwait(&signals, &signalNumber) != 0) {
    }
}

// Address reuse as usual for a server, but no port sharing: ServerSocket(port, backlog) also sets
// SO_REUSEPORT, with which a second agent would bind the same port and take half the connections.
void bindListeningSocket(Poco::Net::ServerSocket& socket, Poco::UInt16 port, int backlog) {
    socket.bind(Poco::Net::SocketAddress(Poco::Net::IPAddress(), port), true, false);
    socket.listen(backlog);
}

void abandonPlatformWaits() {
    systemStatvfs().stop();
    systemFileReads().stop();
}

}  // namespace quorvane
