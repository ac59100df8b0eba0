// A minimal HTTP client over a plain socket, so tests see the exact bytes on the wire.
#pragma once

#include <Poco/Types.h>

#include <map>
#include <string>

namespace quorvane::test {

struct RawResponse {
    std::string raw;         // everything received until the server closed the connection
    std::string statusLine;  // without the line end
    std::multimap<std::string, std::string> headers;
    std::string body;
    bool closedByServer = false;
};

// Sends `request` as is to 127.0.0.1:port and reads until the peer closes (bounded by the
// time-out in seconds).
RawResponse exchange(Poco::UInt16 port, const std::string& request, int timeoutSeconds = 10);

RawResponse get(Poco::UInt16 port, const std::string& target,
                const std::string& version = "HTTP/1.1");

}  // namespace quorvane::test
