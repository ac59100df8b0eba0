// Test helper for Windows: requests the termination of every running process with the given
// executable name by setting its named event "POCOTRM" followed by its process id in 8
// uppercase hexadecimal digits. Exits 0 when at least one event was set.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: set-termination-event EXECUTABLE-NAME\n");
        return 2;
    }
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE) {
        std::fwprintf(stderr, L"cannot list processes\n");
        return 1;
    }
    int signalled = 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(processes, &entry); more;
         more = Process32NextW(processes, &entry)) {
        if (_wcsicmp(entry.szExeFile, argv[1]) != 0) {
            continue;
        }
        wchar_t eventName[32];
        std::swprintf(eventName, 32, L"POCOTRM%08X", static_cast<unsigned>(entry.th32ProcessID));
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName);
        if (event == nullptr) {
            std::fwprintf(stderr, L"no event %ls\n", eventName);
            continue;
        }
        if (SetEvent(event)) {
            std::wprintf(L"set %ls\n", eventName);
            ++signalled;
        }
        CloseHandle(event);
    }
    CloseHandle(processes);
    return signalled > 0 ? 0 : 1;
}
