#include "Fetch.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Timespan.h>

#include <istream>

namespace quorvane::plugin {

namespace {

// Far above any report (a few kilobytes; one line per processor and disk), low enough that a
// wrong server cannot make the plugin hold much memory.
constexpr std::size_t kMaxBody = 4 * 1024 * 1024;

}  // namespace

std::string agentAddress(const std::string& host, unsigned port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string fetchReport(const std::string& host, unsigned port, unsigned timeoutSeconds) {
    const std::string agent = agentAddress(host, port);
    const std::string within = " within " + std::to_string(timeoutSeconds) + " s";
    try {
        Poco::Net::HTTPClientSession session(host, static_cast<Poco::UInt16>(port));
        session.setTimeout(Poco::Timespan(static_cast<long>(timeoutSeconds), 0));
        session.setKeepAlive(false);
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/getdata",
                                       Poco::Net::HTTPMessage::HTTP_1_1);
        request.setKeepAlive(false);
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        std::istream& in = session.receiveResponse(response);
        if (response.getStatus() != Poco::Net::HTTPResponse::HTTP_OK) {
            throw FetchError(agent + " answered HTTP " + std::to_string(response.getStatus()) +
                             " " + response.getReason() + " instead of the report");
        }
        // A broken connection must not look like the end of the body: let the stream rethrow.
        in.exceptions(std::ios::badbit);
        std::string body;
        char buffer[16384];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            body.append(buffer, static_cast<std::size_t>(in.gcount()));
            if (body.size() > kMaxBody) {
                throw FetchError(agent + " sent more than " + std::to_string(kMaxBody >> 20) +
                                 " MiB, not a report");
            }
        }
        return body;
    } catch (const FetchError&) {
        throw;
    } catch (const Poco::TimeoutException&) {
        throw FetchError("no answer from " + agent + within);
    } catch (const Poco::Net::ConnectionRefusedException&) {
        throw FetchError("connection to " + agent + " refused");
    } catch (const Poco::Net::HostNotFoundException&) {
        throw FetchError("host " + host + " not found");
    } catch (const Poco::Net::NoAddressFoundException&) {
        throw FetchError("host " + host + " has no address");
    } catch (const Poco::Net::NoMessageException&) {
        throw FetchError(agent + " closed the connection without an answer");
    } catch (const Poco::Exception& error) {
        throw FetchError(agent + ": " + error.displayText());
    } catch (const std::exception& error) {
        throw FetchError(agent + ": " + error.what());
    }
}

}  // namespace quorvane::plugin
