#include "WmiSession.h"

namespace quorvane {

WmiSession::WmiSession() = default;
WmiSession::~WmiSession() = default;

bool WmiSession::open() {
    isOpen = true;
    return true;
}

void WmiSession::close() {
    isOpen = false;
}

// TEMPORARY placeholder until the Linux instance source lands: every enumeration and query
// fails, so every WMI probe reports -1 and leaves its destination untouched.
std::unique_ptr<WmiEnumerator> WmiSession::createInstanceEnum(const char16_t*) {
    return nullptr;
}
std::unique_ptr<WmiEnumerator> WmiSession::execQuery(const char16_t*) {
    return nullptr;
}

}  // namespace quorvane
