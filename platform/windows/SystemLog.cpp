// The agent's messages in the Application event log when it runs as a service, and the event
// source that gives them their texts.
#include "platform/SystemLog.h"

#include <Poco/AutoPtr.h>
#include <Poco/Error.h>
#include <Poco/EventLogChannel.h>
#include <Poco/Logger.h>
#include <Poco/UnicodeConverter.h>

// clang-format off
#include <windows.h>
// clang-format on

namespace quorvane {

namespace {

// Where the event log looks up a source of the Application log.
std::wstring sourceKey(const std::string& serviceName) {
    std::wstring name;
    Poco::UnicodeConverter::toUTF16(serviceName, name);
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + name;
}

std::string failure(const std::string& what, LSTATUS status) {
    return what + ": " + Poco::Error::getMessage(static_cast<int>(status));
}

}  // namespace

void logToSystemLog(const std::string& source) {
    // The channel registers the source when it first writes; the key /registerService or the
    // installer made is kept as it is, message file included.
    Poco::AutoPtr<Poco::EventLogChannel> channel(new Poco::EventLogChannel(source));
    // Every logger there is now (the application's among them) and every later one, which
    // takes the root's channel.
    Poco::Logger::setChannel("", channel);
}

std::string registerEventSource(const std::string& serviceName) {
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        return "cannot find the executable's path for the event source";
    }
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, sourceKey(serviceName).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        return failure("cannot register the event source " + serviceName, status);
    }
    // The message table (categories 1 to 8, event 0x1000) is in this executable.
    const auto bytes = static_cast<DWORD>((length + 1) * sizeof(wchar_t));
    const DWORD categories = 8;
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    for (const wchar_t* name : {L"EventMessageFile", L"CategoryMessageFile"}) {
        if (status == ERROR_SUCCESS) {
            status =
                RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), bytes);
        }
    }
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, L"CategoryCount", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&categories), sizeof categories);
    }
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS
               ? std::string()
               : failure("cannot describe the event source " + serviceName, status);
}

std::string unregisterEventSource(const std::string& serviceName) {
    const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, sourceKey(serviceName).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND
               ? std::string()
               : failure("cannot remove the event source " + serviceName, status);
}

}  // namespace quorvane
