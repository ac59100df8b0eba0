#include "platform/ServiceRegistration.h"

namespace quorvane {

// The systemd unit carries the restart and ordering settings.
std::string completeServiceRegistration(const std::string&) {
    return std::string();
}

}  // namespace quorvane
