#include "QuorvaneAgent.h"
#include "platform/Process.h"

#if defined(_WIN32)
#include <vector>

#include "ServiceCommandLine.h"

int wmain(int argc, wchar_t** argv) {
    quorvane::blockTerminationSignals();
    std::vector<std::wstring> arguments(argv, argv + argc);
    arguments = quorvane::withAutomaticStartup(arguments);
    std::vector<wchar_t*> pointers;
    for (auto& argument : arguments) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    quorvane::QuorvaneAgent agent;
    return agent.run(static_cast<int>(arguments.size()), pointers.data());
}
#else
int main(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits the blocked termination signals.
    quorvane::blockTerminationSignals();
    quorvane::QuorvaneAgent agent;
    return agent.run(argc, argv);
}
#endif
