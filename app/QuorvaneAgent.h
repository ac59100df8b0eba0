#pragma once

#include <Poco/Util/ServerApplication.h>

#include <string>
#include <vector>

namespace quorvane {

class QuorvaneAgent : public Poco::Util::ServerApplication {
  public:
    ~QuorvaneAgent() override;

  protected:
    int main(const std::vector<std::string>& args) override;
};

}  // namespace quorvane
