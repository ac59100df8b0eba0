// The session the application opens at start-up and closes at shutdown.
#pragma once

#include <memory>

#include "platform/WmiConnection.h"

namespace quorvane {

class WmiSession : public WmiConnection {
  public:
    WmiSession();
    ~WmiSession() override;

    bool open();
    void close();

    std::unique_ptr<WmiEnumerator> createInstanceEnum(const char16_t* className) override;
    std::unique_ptr<WmiEnumerator> execQuery(const char16_t* wqlText) override;

  private:
    bool isOpen = false;
};

}  // namespace quorvane
