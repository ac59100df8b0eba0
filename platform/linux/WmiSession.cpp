#include "WmiSession.h"

#include "LinuxInstanceSource.h"

namespace quorvane {

WmiSession::WmiSession() = default;
WmiSession::~WmiSession() = default;

bool WmiSession::open() {
    // The agent always reads the machine it runs on.
    source = std::make_unique<linuxsource::LinuxInstanceSource>("/");
    return true;
}

void WmiSession::close() {
    source.reset();
}

std::unique_ptr<WmiEnumerator> WmiSession::createInstanceEnum(const char16_t* className) {
    return source ? source->createInstanceEnum(className) : nullptr;
}

std::unique_ptr<WmiEnumerator> WmiSession::execQuery(const char16_t* wqlText) {
    return source ? source->execQuery(wqlText) : nullptr;
}

}  // namespace quorvane
