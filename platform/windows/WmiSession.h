// The agent's one connection to WMI in root\cimv2, opened at start-up and closed at shutdown.
// The COM interfaces are only declared here, so the application's translation unit does not
// take in the Windows headers.
#pragma once

#include <memory>

#include "platform/wmi/WmiConnection.h"

struct IWbemLocator;
struct IWbemServices;

namespace quorvane {

class WmiSession : public WmiConnection {
  public:
    // Milliseconds on a steady clock; each enumeration's time budget is measured with it.
    using Clock = unsigned long long (*)();

    // Without a clock the session uses the system's tick count.
    explicit WmiSession(Clock clock = nullptr);
    // Releases whatever is still held: close() has normally run already and left nothing.
    ~WmiSession() override;

    WmiSession(const WmiSession&) = delete;
    WmiSession& operator=(const WmiSession&) = delete;

    // Sets up the process's COM security and connects to root\cimv2; COM must already be
    // initialised for the process. The connection is made on a thread of its own and waited for
    // a few seconds at most: WMI may still be starting at boot, and ConnectServer can take two
    // minutes. On false nothing is held; a connection still on its way is taken by retryOpen.
    bool open();
    // After an open that did not connect: takes the connection if it has arrived meanwhile, or
    // else tries again, waiting as long as open does. True once connected; false without a
    // successful security set-up (open) or after close. When WMI has not answered for 12 tries
    // in a row (a minute of refreshes) a warning is logged once, and when it answers after that,
    // a note that it did.
    bool retryOpen();
    // Frees and releases what the session holds; safe when partly open, not open or closed. A
    // connection still on its way is released by its own thread when it arrives.
    void close();

    // Both fail (null) while the session is not open.
    std::unique_ptr<WmiEnumerator> enumerateClass(const char16_t* className) override;
    std::unique_ptr<WmiEnumerator> execWqlQuery(const char16_t* wqlText) override;

    IWbemLocator* locator = nullptr;    // one reference owned
    IWbemServices* services = nullptr;  // one reference owned
    wchar_t* namespacePath = nullptr;   // a BSTR, owned

  private:
    struct Attempt;
    static void connectInBackground(const std::shared_ptr<Attempt>& attempt);
    bool tryToConnect();

    int failedTries_ = 0;
    Clock clock_;
    bool securityReady_ = false;
    std::shared_ptr<Attempt> attempt_;  // the connection on its way, if any
};

}  // namespace quorvane
