// quorvane-exporter: a multi-target Prometheus exporter for Quorvane agents. Prometheus names the
// agent in each scrape (/probe?target=HOST[:PORT]); the exporter reads its report and answers
// with metrics.

#include <signal.h>
#include <sys/resource.h>

#include <Poco/Exception.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "Exporter.h"

namespace {

using namespace quorvane::exporter;

constexpr const char* kDefaultListenAddress = ":15782";

const char* const kHelp =
    "usage: quorvane-exporter [<flags>]\n"
    "\n"
    "Prometheus exporter for Quorvane agents: GET /probe?target=HOST[:PORT] reads that agent's\n"
    "status report (port 5782 by default) and answers with its metrics; GET /metrics gives the\n"
    "exporter's own.\n"
    "\n"
    "Flags:\n"
    "  -h, --help                     Show this help.\n"
    "      --web.listen-address=\":15782\"\n"
    "                                 Address to listen on: [HOST]:PORT; without a host, all.\n"
    "      --log.level=info           Only log messages of this level or above: debug, info,\n"
    "                                 warn, error.\n"
    "      --version                  Show the version.\n";

// "--name=value" or "--name value"; true when argv[i] is the flag, value filled.
bool flagValue(int argc, char** argv, int& i, const std::string& name, std::string& value) {
    const std::string arg = argv[i];
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    if (arg == name) {
        if (i + 1 >= argc) {
            throw std::invalid_argument("flag " + name + " needs a value");
        }
        value = argv[++i];
        return true;
    }
    return false;
}

// [HOST]:PORT. Without a host both IPv6 and IPv4 on every interface, as Go's ":PORT" means.
Poco::Net::ServerSocket listen(const std::string& address) {
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos) {
        throw std::invalid_argument("listen address \"" + address + "\" is not [HOST]:PORT");
    }
    if (colon == 0) {
        const Poco::UInt16 port =
            Poco::Net::SocketAddress("0.0.0.0" + address).port();  // checks the port
        Poco::Net::ServerSocket socket;
        try {
            socket.bind6(Poco::Net::SocketAddress(
                             Poco::Net::IPAddress::wildcard(Poco::Net::IPAddress::IPv6), port),
                         true, false);
        } catch (const Poco::Exception&) {
            socket = Poco::Net::ServerSocket();  // no IPv6 here: IPv4 alone
            socket.bind(Poco::Net::SocketAddress("0.0.0.0", port), true);
        }
        socket.listen(1024);
        return socket;
    }
    Poco::Net::ServerSocket socket;
    socket.bind(Poco::Net::SocketAddress(address), true);
    socket.listen(1024);
    return socket;
}

}  // namespace

int main(int argc, char** argv) {
    std::string listenAddress = kDefaultListenAddress;
    std::string levelName = "info";
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "-h" || arg == "--help") {
                std::cout << kHelp;
                return 0;
            }
            if (arg == "--version") {
                std::cout << "quorvane-exporter " << QUORVANE_EXPORTER_VERSION << "\n";
                return 0;
            }
            if (!flagValue(argc, argv, i, "--web.listen-address", listenAddress) &&
                !flagValue(argc, argv, i, "--log.level", levelName)) {
                throw std::invalid_argument("unknown flag " + arg);
            }
        }
    } catch (const std::invalid_argument& error) {
        std::cerr << "quorvane-exporter: " << error.what() << ", try --help\n";
        return 2;
    }
    const std::optional<LogLevel> level = parseLogLevel(levelName);
    if (!level) {
        std::cerr << "quorvane-exporter: unknown log level " << levelName
                  << " (debug, info, warn, error)\n";
        return 2;
    }
    Log log(*level, std::cerr);

    // Each probe holds two descriptors (Prometheus's connection and the agent's) for as long as
    // it runs; hundreds at once need more than the usual soft limit of 1024.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // The stop signals are taken by the main thread's wait only: blocked before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        Exporter exporter(log, QUORVANE_EXPORTER_VERSION);
        ExporterServer server(exporter, listen(listenAddress));
        server.start();
        log.write(LogLevel::info, "listening",
                  {{"address", listenAddress}, {"version", QUORVANE_EXPORTER_VERSION}});
        int signal = 0;
        sigwait(&stopSignals, &signal);
        log.write(LogLevel::info, "stopping", {{"signal", signal == SIGTERM ? "TERM" : "INT"}});
        server.stop();
    } catch (const std::exception& error) {
        const auto* poco = dynamic_cast<const Poco::Exception*>(&error);
        log.write(LogLevel::error, "cannot serve",
                  {{"address", listenAddress}, {"err", poco ? poco->displayText() : error.what()}});
        return 1;
    }
    return 0;
}
