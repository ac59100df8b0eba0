#include "RawHttp.h"

#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Timespan.h>

namespace quorvane::test {

RawResponse exchange(Poco::UInt16 port, const std::string& request, int timeoutSeconds) {
    RawResponse response;
    Poco::Net::StreamSocket socket;
    socket.connect(Poco::Net::SocketAddress("127.0.0.1", port), Poco::Timespan(timeoutSeconds, 0));
    socket.setReceiveTimeout(Poco::Timespan(timeoutSeconds, 0));
    socket.sendBytes(request.data(), static_cast<int>(request.size()));
    char buffer[4096];
    for (;;) {
        int n = 0;
        try {
            n = socket.receiveBytes(buffer, sizeof buffer);
        } catch (const Poco::TimeoutException&) {
            break;
        } catch (const Poco::Net::NetException&) {
            break;
        }
        if (n <= 0) {
            response.closedByServer = (n == 0);
            break;
        }
        response.raw.append(buffer, static_cast<std::size_t>(n));
    }
    const auto headerEnd = response.raw.find("\r\n\r\n");
    const std::string head = response.raw.substr(0, headerEnd);
    if (headerEnd != std::string::npos) {
        response.body = response.raw.substr(headerEnd + 4);
    }
    std::size_t pos = head.find("\r\n");
    response.statusLine = head.substr(0, pos);
    while (pos != std::string::npos) {
        const std::size_t start = pos + 2;
        pos = head.find("\r\n", start);
        const std::string line = head.substr(start, pos == std::string::npos ? pos : pos - start);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') {
                value.erase(0, 1);
            }
            response.headers.emplace(line.substr(0, colon), value);
        }
    }
    return response;
}

RawResponse get(Poco::UInt16 port, const std::string& target, const std::string& version) {
    return exchange(port, "GET " + target + " " + version + "\r\nHost: 127.0.0.1\r\n\r\n");
}

}  // namespace quorvane::test
