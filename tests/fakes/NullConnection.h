#pragma once

#include "platform/windows/WmiConnection.h"

namespace quorvane::fake {

// A session whose every enumeration and query fails.
class NullConnection : public WmiConnection {
  public:
    std::unique_ptr<WmiEnumerator> createInstanceEnum(const char16_t*) override { return nullptr; }
    std::unique_ptr<WmiEnumerator> execQuery(const char16_t*) override { return nullptr; }
};

}  // namespace quorvane::fake
