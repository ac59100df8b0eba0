#include "platform/SystemLog.h"

namespace quorvane {

// systemd's journal takes the console's output.
void logToSystemLog(const std::string&) {}

std::string registerEventSource(const std::string&) {
    return std::string();
}

std::string unregisterEventSource(const std::string&) {
    return std::string();
}

}  // namespace quorvane
