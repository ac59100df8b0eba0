// The session the application opens at start-up and closes at shutdown. On Linux it answers
// from the machine's own /proc and /sys through the instance source.
#pragma once

#include <memory>

#include "platform/windows/WmiConnection.h"

namespace quorvane {

namespace linuxsource {
class LinuxInstanceSource;
}

class WmiSession : public WmiConnection {
  public:
    WmiSession();
    ~WmiSession() override;

    WmiSession(const WmiSession&) = delete;
    WmiSession& operator=(const WmiSession&) = delete;

    bool open();
    // May be called on a session that is not open, or twice.
    void close();

    // Both fail while the session is not open.
    std::unique_ptr<WmiEnumerator> createInstanceEnum(const char16_t* className) override;
    std::unique_ptr<WmiEnumerator> execQuery(const char16_t* wqlText) override;

  private:
    std::unique_ptr<linuxsource::LinuxInstanceSource> source;
};

}  // namespace quorvane
