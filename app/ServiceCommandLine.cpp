#include "ServiceCommandLine.h"

#include <array>
#include <cstddef>

namespace quorvane {

namespace {

// The options POCO's server application defines on Windows, and whether each takes an
// argument.
struct ServiceOption {
    const wchar_t* name;
    bool takesArgument;
};

constexpr std::array<ServiceOption, 5> kServiceOptions = {{
    {L"registerService", false},
    {L"unregisterService", false},
    {L"displayName", true},
    {L"description", true},
    {L"startup", true},
}};

wchar_t asciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// `name` is a prefix of `optionName`, letters compared without regard to ASCII case.
bool isPrefixOf(const std::wstring& name, const wchar_t* optionName) {
    std::size_t i = 0;
    for (; i < name.size(); ++i) {
        if (optionName[i] == L'\0' || asciiLower(name[i]) != asciiLower(optionName[i])) {
            return false;
        }
    }
    return true;
}

// The option an argument names, as POCO resolves it: on Windows only "/" introduces
// an option; the name ends at the first "=" or ":"; an exact name wins, else the one option it
// is a prefix of. Null for no option, an unknown or an ambiguous one (POCO rejects
// those itself).
const ServiceOption* optionNamedBy(const std::wstring& argument, bool& hasValue) {
    if (argument.empty() || argument[0] != L'/') {
        return nullptr;
    }
    const std::size_t end = argument.find_first_of(L"=:", 1);
    hasValue = end != std::wstring::npos;
    const std::wstring name = argument.substr(1, hasValue ? end - 1 : std::wstring::npos);
    if (name.empty()) {
        return nullptr;
    }
    const ServiceOption* found = nullptr;
    for (const ServiceOption& option : kServiceOptions) {
        if (!isPrefixOf(name, option.name)) {
            continue;
        }
        if (name.size() == std::wstring(option.name).size()) {
            return &option;
        }
        if (found != nullptr) {
            return nullptr;
        }
        found = &option;
    }
    return found;
}

// Calls `visit` with each option the command line gives, in order, as POCO resolves
// them. True when the last option still waits for its value.
template <class Visit>
bool forEachOption(const std::vector<std::wstring>& arguments, Visit visit) {
    // An option that needs an argument and has none takes the next argument as its value.
    bool valuePending = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (valuePending) {
            valuePending = false;
            continue;
        }
        bool hasValue = false;
        const ServiceOption* option = optionNamedBy(arguments[i], hasValue);
        if (option == nullptr) {
            continue;
        }
        visit(*option);
        valuePending = option->takesArgument && !hasValue;
    }
    return valuePending;
}

const ServiceOption& kRegister = kServiceOptions[0];
const ServiceOption& kUnregister = kServiceOptions[1];
const ServiceOption& kStartup = kServiceOptions[4];

}  // namespace

std::vector<std::wstring> withAutomaticStartup(const std::vector<std::wstring>& arguments) {
    bool registering = false;
    bool startupGiven = false;
    const bool valuePending = forEachOption(arguments, [&](const ServiceOption& option) {
        registering = registering || &option == &kRegister;
        startupGiven = startupGiven || &option == &kStartup;
    });
    std::vector<std::wstring> result = arguments;
    // With a value still pending, an appended option would become that value; POCO
    // reports the missing argument instead.
    if (registering && !startupGiven && !valuePending) {
        result.push_back(L"/startup=auto");
    }
    return result;
}

namespace {

const ServiceOption* serviceAction(const std::vector<std::wstring>& arguments) {
    const ServiceOption* action = nullptr;
    forEachOption(arguments, [&](const ServiceOption& option) {
        if (&option == &kRegister || &option == &kUnregister) {
            action = &option;
        }
    });
    return action;
}

}  // namespace

bool registersService(const std::vector<std::wstring>& arguments) {
    return serviceAction(arguments) == &kRegister;
}

bool unregistersService(const std::vector<std::wstring>& arguments) {
    return serviceAction(arguments) == &kUnregister;
}

}  // namespace quorvane
