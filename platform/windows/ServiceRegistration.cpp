// What /registerService adds to the registration POCO makes, which leaves a service
// that stays down after a crash and may start before WMI at boot.
#include "platform/ServiceRegistration.h"

#include <Poco/Error.h>
#include <Poco/UnicodeConverter.h>

// clang-format off
#include <windows.h>
// clang-format on

#include "platform/SystemLog.h"

namespace quorvane {

namespace {

constexpr DWORD kRestartDelayMs = 5000;
// The service manager may not know a service it has just created yet (Wine's lags behind): the
// open is tried again for up to 2 s.
constexpr int kOpenAttempts = 20;
constexpr DWORD kOpenRetryMs = 100;
constexpr DWORD kFailureCountResetSeconds = 24 * 60 * 60;
// A list of service names, each ended by a zero, the list by another (the literal's own).
const wchar_t kDependencies[] = L"Winmgmt\0";

class ServiceHandle {
  public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_ != nullptr) {
            CloseServiceHandle(handle_);
        }
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;

    SC_HANDLE get() const { return handle_; }

  private:
    SC_HANDLE handle_;
};

std::string lastError(const std::string& what) {
    return what + ": " + Poco::Error::getMessage(static_cast<int>(GetLastError()));
}

std::string configure(SC_HANDLE service) {
    if (!ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              nullptr, nullptr, nullptr, kDependencies, nullptr, nullptr,
                              nullptr)) {
        return lastError("cannot make the service depend on Winmgmt");
    }
    // The last action repeats for every later failure.
    SC_ACTION actions[3] = {{SC_ACTION_RESTART, kRestartDelayMs},
                            {SC_ACTION_RESTART, kRestartDelayMs},
                            {SC_ACTION_RESTART, kRestartDelayMs}};
    SERVICE_FAILURE_ACTIONSW failureActions = {};
    failureActions.dwResetPeriod = kFailureCountResetSeconds;
    failureActions.cActions = 3;
    failureActions.lpsaActions = actions;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions)) {
        return lastError("cannot set the service's restart actions");
    }
    // An error exit (70 when port 5782 is taken) is a failure too, as the Linux unit treats it.
    // A service manager without the setting (Wine) still restarts after a crash.
    SERVICE_FAILURE_ACTIONS_FLAG onErrorExit = {TRUE};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onErrorExit) &&
        GetLastError() != ERROR_INVALID_LEVEL) {
        return lastError("cannot make an error exit restart the service");
    }
    return std::string();
}

}  // namespace

std::string completeServiceRegistration(const std::string& serviceName) {
    std::wstring name;
    Poco::UnicodeConverter::toUTF16(serviceName, name);
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.get() == nullptr) {
        return lastError("cannot open the service manager");
    }
    // Restart actions need the right to start the service as well as to configure it.
    SC_HANDLE opened = nullptr;
    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        opened = OpenServiceW(manager.get(), name.c_str(),
                              SERVICE_CHANGE_CONFIG | SERVICE_START | DELETE);
        if (opened != nullptr || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST ||
            attempt == kOpenAttempts) {
            break;
        }
        Sleep(kOpenRetryMs);
    }
    const ServiceHandle service(opened);
    if (service.get() == nullptr) {
        return lastError("cannot open the service " + serviceName);
    }
    std::string failure = configure(service.get());
    if (failure.empty()) {
        failure = registerEventSource(serviceName);
    }
    if (failure.empty()) {
        return failure;
    }
    // A service that would stay down after a crash is not what was asked for.
    if (!DeleteService(service.get())) {
        return failure + "; " + lastError("nor can its registration be undone");
    }
    return failure + "; the registration is undone";
}

}  // namespace quorvane
