#include "ReliabilitySupport.h"

#include "support/SampleSnapshot.h"

#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/SAX/DefaultHandler.h>
#include <Poco/SAX/InputSource.h>
#include <Poco/SAX/SAXException.h>
#include <Poco/SAX/SAXParser.h>
#include <Poco/Thread.h>
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "report/http/RequestHandlers.h"

namespace quorvane::test {

namespace {
// A server that closes early must not kill the test process with SIGPIPE.
[[maybe_unused]] const bool kIgnoreSigpipe = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();
}  // namespace

Fetched fetchReport(Poco::UInt16 port, const std::string& target, double timeoutSeconds,
                    const std::string& source) {
    Fetched fetched;
    const Poco::Timespan timeout(static_cast<long>(timeoutSeconds * 1e6));
    std::string raw;
    bool connected = false;
    bool closedByServer = false;
    try {
        Poco::Net::StreamSocket socket;
        if (!source.empty()) {
            socket.impl()->bind(Poco::Net::SocketAddress(source, 0), false);
        }
        socket.connect(Poco::Net::SocketAddress("127.0.0.1", port), timeout);
        connected = true;
        socket.setReceiveTimeout(timeout);
        socket.setSendTimeout(timeout);
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        socket.sendBytes(request.data(), static_cast<int>(request.size()));
        char buffer[8192];
        for (;;) {
            const int n = socket.receiveBytes(buffer, sizeof buffer);
            if (n <= 0) {
                closedByServer = true;
                break;
            }
            raw.append(buffer, static_cast<std::size_t>(n));
        }
    } catch (const Poco::TimeoutException&) {
        fetched.what = "timed out after " + std::to_string(raw.size()) + " bytes";
        return fetched;
    } catch (const Poco::Exception& e) {
        // A reset (or a broken pipe) once connected is the server closing on us: a drop when it
        // came before any byte, an error after part of a response (checked below).
        const bool reset =
            dynamic_cast<const Poco::Net::ConnectionResetException*>(&e) != nullptr ||
            e.code() == ECONNRESET || e.code() == EPIPE;
        if (!connected || !reset) {
            fetched.what = e.displayText();
            return fetched;
        }
    }
    if (raw.empty()) {
        fetched.outcome = Outcome::drop;
        fetched.what = "no response";
        return fetched;
    }
    const auto headerEnd = raw.find("\r\n\r\n");
    if (raw.compare(0, 13, "HTTP/1.1 200 ") != 0 || headerEnd == std::string::npos) {
        fetched.what = "not a 200 response: " + raw.substr(0, raw.find("\r\n"));
        return fetched;
    }
    fetched.body = raw.substr(headerEnd + 4);
    static const std::string end = "</root>\n";
    if (!closedByServer || fetched.body.size() < end.size() ||
        fetched.body.compare(fetched.body.size() - end.size(), end.size(), end) != 0) {
        fetched.what = "incomplete document (" + std::to_string(fetched.body.size()) + " bytes)";
        return fetched;
    }
    fetched.outcome = Outcome::ok;
    return fetched;
}

std::string xmlError(const std::string& document) {
    Poco::XML::SAXParser parser;
    Poco::XML::DefaultHandler handler;
    parser.setContentHandler(&handler);
    parser.setErrorHandler(&handler);
    try {
        parser.parseMemoryNP(document.data(), document.size());
    } catch (const Poco::Exception& e) {
        return e.displayText();
    }
    return std::string();
}

InProcessServer::InProcessServer(SystemSnapshot& snapshot, Poco::Timespan connectionTimeout,
                                 FrontDoorLimits limits) {
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    params->setMaxQueued(10);
    params->setMaxThreads(2);
    params->setTimeout(connectionTimeout);
    socket_ = Poco::Net::ServerSocket(Poco::Net::SocketAddress("127.0.0.1", 0), 64);
    server_ = std::make_unique<FrontDoor>(socket_, new MiniRequestHandlerFactory(&snapshot), params,
                                          limits);
    server_->start();
    port_ = socket_.address().port();
}

InProcessServer::~InProcessServer() {
    stop();
}

bool InProcessServer::stop(double seconds) {
    if (stopped_) {
        return true;
    }
    stopped_ = true;
    const auto begin = std::chrono::steady_clock::now();
    server_->stop();
    const bool drained =
        std::chrono::steady_clock::now() - begin <= std::chrono::duration<double>(seconds);
    // Connections still waiting in the backlog are refused from here on.
    socket_.close();
    return drained;
}

pid_t agentChildPid() {
    const pid_t self = getpid();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return -1;
    }
    pid_t found = -1;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') {
            continue;
        }
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (comm) state ppid ...; comm may hold blanks, so split after the last ')'.
        const auto open = line.find('(');
        const auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) {
            continue;
        }
        const std::string comm = line.substr(open + 1, close - open - 1);
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == self && comm == "quorvane-agent" && state != "Z") {
            found = static_cast<pid_t>(pid);
            break;
        }
    }
    closedir(proc);
    return found;
}

long residentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

}  // namespace quorvane::test
