#include "ServiceCommandLine.h"

#include <cwctype>

namespace quorvane {

namespace {

// True when `argument` names an option that is a prefix of `optionName` (at least
// `minimumLength` characters long, so that it cannot be mistaken for another option).
bool namesOption(const std::wstring& argument, const std::wstring& optionName,
                 std::size_t minimumLength) {
    if (argument.empty() || (argument[0] != L'/' && argument[0] != L'-')) {
        return false;
    }
    std::size_t start = 1;
    if (argument.size() > 1 && argument[0] == L'-' && argument[1] == L'-') {
        start = 2;
    }
    const std::size_t end = argument.find_first_of(L"=:", start);
    const std::wstring name = argument.substr(start, end == std::wstring::npos ? end : end - start);
    if (name.size() < minimumLength || name.size() > optionName.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::towlower(name[i]) != std::towlower(optionName[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::wstring> withAutomaticStartup(const std::vector<std::wstring>& arguments) {
    bool registering = false;
    bool startupGiven = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        registering = registering || namesOption(arguments[i], L"registerService", 1);
        startupGiven = startupGiven || namesOption(arguments[i], L"startup", 2);
    }
    std::vector<std::wstring> result = arguments;
    if (registering && !startupGiven) {
        result.push_back(L"/startup=auto");
    }
    return result;
}

}  // namespace quorvane
