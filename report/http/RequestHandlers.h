// HTTP routing: the target "getdata" alone receives the 404 page, every other target the report.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>

namespace quorvane {

struct SystemSnapshot;

class MiniRequestHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
  public:
    explicit MiniRequestHandlerFactory(SystemSnapshot* snapshot);
    ~MiniRequestHandlerFactory() override;

    Poco::Net::HTTPRequestHandler* createRequestHandler(
        const Poco::Net::HTTPServerRequest& request) override;

  private:
    SystemSnapshot* snapshot;
};

class DataRequestHandler : public Poco::Net::HTTPRequestHandler {
  public:
    explicit DataRequestHandler(SystemSnapshot* snapshot);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

  private:
    SystemSnapshot* snapshot;
};

class NotFileHandler : public Poco::Net::HTTPRequestHandler {
  public:
    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;
};

// A request line the server cannot answer in kind (no HTTP version): 400, as POCO
// answers the requests it cannot parse.
class BadRequestHandler : public Poco::Net::HTTPRequestHandler {
  public:
    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;
};

}  // namespace quorvane
