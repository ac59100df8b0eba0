#include "platform/ProcessSetup.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <clocale>

namespace quorvane {

void setProcessLocale() {
    _wsetlocale(LC_ALL, L"");
}

// S_FALSE (already initialised on this thread) is success too; only a failure code, such as
// RPC_E_CHANGED_MODE for a thread in another apartment, is not.
bool initializeCom() {
    return !FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED));
}

void uninitializeCom() {
    CoUninitialize();
}

}  // namespace quorvane
