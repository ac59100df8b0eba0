#include "RequestHandlers.h"

#include <Poco/Net/HTTPMessage.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/String.h>

#include <ostream>
#include <string>

#include "report/StatusReport.h"

namespace quorvane {

namespace {

// Without a length POCO closes the connection itself, except for HEAD, where it
// computes a length of its own and keeps the connection (holding a connection thread for the
// keep-alive time). Every method is answered alike: one response, then the connection closes.
void closeAfterResponse(Poco::Net::HTTPServerResponse& response) {
    response.setKeepAlive(false);
}

}  // namespace

MiniRequestHandlerFactory::MiniRequestHandlerFactory(SystemSnapshot* snapshot)
    : snapshot(snapshot) {}

MiniRequestHandlerFactory::~MiniRequestHandlerFactory() = default;

Poco::Net::HTTPRequestHandler* MiniRequestHandlerFactory::createRequestHandler(
    const Poco::Net::HTTPServerRequest& request) {
    const std::string target = request.getURI();
    if (Poco::icompare(target, "getdata") != 0) {
        return new DataRequestHandler(snapshot);
    }
    return new NotFileHandler;
}

DataRequestHandler::DataRequestHandler(SystemSnapshot* snapshot) : snapshot(snapshot) {}

void DataRequestHandler::handleRequest(Poco::Net::HTTPServerRequest&,
                                       Poco::Net::HTTPServerResponse& response) {
    // The document is complete before the status line goes out: a failure can still be
    // answered cleanly, and the snapshot lock is never held while a client reads.
    std::string document;
    try {
        document = renderStatusReport(*snapshot);
    } catch (...) {
        response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
        closeAfterResponse(response);
        response.send();
        return;
    }
    closeAfterResponse(response);
    response.add("Pragma", "no-cache");
    response.setContentType("text/xml");
    std::ostream& body = response.send();
    body.write(document.data(), static_cast<std::streamsize>(document.size()));
}

void NotFileHandler::handleRequest(Poco::Net::HTTPServerRequest&,
                                   Poco::Net::HTTPServerResponse& response) {
    response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_NOT_FOUND);
    response.setContentType("text/html");
    closeAfterResponse(response);
    std::ostream& body = response.send();
    body << "<html><head>"
         << "<title>Quorvane Agent</title>"
         << "</head><body>NOT FOUND<br />"
         << "</body></html>";
}

void BadRequestHandler::handleRequest(Poco::Net::HTTPServerRequest&,
                                      Poco::Net::HTTPServerResponse& response) {
    response.setVersion(Poco::Net::HTTPMessage::HTTP_1_1);
    response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_BAD_REQUEST);
    response.erase("Date");
    closeAfterResponse(response);
    response.send();
}

}  // namespace quorvane
