#include "QuorvaneAgent.h"

#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/Net.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/ThreadPool.h>
#include <Poco/Timer.h>

#include <string>

#include "UpdateTimerCallback.h"
#include "platform/ListeningSocket.h"
#include "platform/ProcessSetup.h"
#include "platform/Session.h"
#include "platform/SystemLog.h"
#include "platform/Termination.h"
#include "report/http/FrontDoor.h"
#include "report/http/RequestHandlers.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {

namespace {

constexpr Poco::UInt16 kPort = 5782;
constexpr int kBacklog = 64;
constexpr long kRefreshPeriodMs = 5000;
constexpr int kMaxQueued = 10;
constexpr int kMaxThreads = 2;

}  // namespace

QuorvaneAgent::~QuorvaneAgent() = default;

int QuorvaneAgent::main(const std::vector<std::string>&) {
    // A service has no console: its start, its stop and the error that ends it (an exception
    // escaping here, logged by POCO) go to the system's log, where administrators look.
    const bool asService = config().getBool("application.runAsService", false);
    if (asService) {
        logToSystemLog(config().getString("application.baseName"));
    }
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

    // The request head of every connection is read before a connection thread takes it (5 s
    // from the accept, shared fairly between client addresses).
    FrontDoor server(socket, new MiniRequestHandlerFactory(&snapshot), params);
    server.start();
    if (asService) {
        logger().information("The agent serves its status report on TCP port " +
                             std::to_string(kPort) + ".");
    }

    waitForTermination([this] { waitForTerminationRequest(); });

    // Before anything waits for the refresh: handlers wait for its lock, the timer for its end.
    abandonPlatformWaits();
    // Returns once no connection thread is left, so no handler outlives the snapshot.
    server.stop();
    timer.stop();
    session.close();
    uninitializeCom();
    if (asService) {
        logger().information("The agent has stopped.");
    }
    return 0;
}

}  // namespace quorvane
