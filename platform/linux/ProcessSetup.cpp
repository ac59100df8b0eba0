#include "platform/ProcessSetup.h"

#include <clocale>

namespace quorvane {

void setProcessLocale() {
    std::setlocale(LC_ALL, "");
}

// There is no COM on Linux: entering and leaving the apartment always succeed.
bool initializeCom() {
    return true;
}
void uninitializeCom() {}

}  // namespace quorvane
