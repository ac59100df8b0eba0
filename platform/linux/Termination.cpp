#include "platform/Termination.h"

#include <pthread.h>
#include <signal.h>

#include "BoundedCall.h"

namespace quorvane {

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

void abandonPlatformWaits() {
    systemStatvfs().stop();
    systemFileReads().stop();
}

}  // namespace quorvane
