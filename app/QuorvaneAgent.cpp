#include "QuorvaneAgent.h"

#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/Net.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Thread.h>
#include <Poco/ThreadPool.h>
#include <Poco/Timer.h>

#include <chrono>

#include "UpdateTimerCallback.h"
#include "platform/Process.h"
#include "platform/Session.h"
#include "report/RequestHandlers.h"
#include "report/RequestHeadDeadline.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {

namespace {

constexpr Poco::UInt16 kPort = 5782;
constexpr int kBacklog = 64;
constexpr long kRefreshPeriodMs = 5000;
constexpr int kMaxQueued = 10;
constexpr int kMaxThreads = 2;
// A station sends its whole request at once; a client that has not sent its request head this
// long after the accept is holding a connection thread, not asking for a report.
constexpr std::chrono::milliseconds kRequestHeadDeadline(5000);

// HTTPServer::stop does not wait for requests in progress, yet the snapshot is destroyed at
// the end of main. Abort the open connections (their sockets are shut down, so a stalled
// client cannot hold us), then wait until every connection thread has left its handler.
void stopServerAndWaitForHandlers(Poco::Net::HTTPServer& server) {
    server.stopAll(true);
    while (server.currentThreads() > 0) {
        Poco::Thread::sleep(5);
    }
}

}  // namespace

QuorvaneAgent::~QuorvaneAgent() = default;

int QuorvaneAgent::main(const std::vector<std::string>&) {
    setProcessLocale();
    if (!initializeCom()) {
        return 1;
    }

    Session session;
    session.open();

    SystemSnapshot snapshot(session);
    refreshSnapshot(snapshot);

    // Declared before the timer so that it outlives the timer's running period on every way out.
    UpdateTimerCallback updateTarget;
    Poco::Timer timer(kRefreshPeriodMs, kRefreshPeriodMs);
    updateTarget.snapshot = &snapshot;
    timer.start(
        Poco::TimerCallback<UpdateTimerCallback>(updateTarget, &UpdateTimerCallback::onTimer));

    Poco::ThreadPool::defaultPool().addCapacity(2);

    // Reference counted from here, so an exception in a later step cannot leak it.
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    params->setMaxQueued(kMaxQueued);
    params->setMaxThreads(kMaxThreads);

    // Static POCO on Windows does not start the network subsystem by itself; elsewhere a no-op.
    Poco::Net::initializeNetwork();
    Poco::Net::ServerSocket socket;
    bindListeningSocket(socket, kPort, kBacklog);

    // Declared before the server, which refers to it through its filter and factory.
    RequestHeadDeadline headDeadline(kRequestHeadDeadline, abortConnection);
    Poco::Net::HTTPServer server(headDeadline.guard(new MiniRequestHandlerFactory(&snapshot)),
                                 socket, params);
    server.setConnectionFilter(headDeadline.connectionFilter());
    headDeadline.start();
    server.start();

    waitForTermination([this] { waitForTerminationRequest(); });

    // Before anything waits for the refresh: handlers wait for its lock, the timer for its end.
    abandonPlatformWaits();
    stopServerAndWaitForHandlers(server);
    headDeadline.stop();
    timer.stop();
    session.close();
    uninitializeCom();
    return 0;
}

}  // namespace quorvane
