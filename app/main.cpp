#include "QuorvaneAgent.h"
#include "platform/ServiceRegistration.h"
#include "platform/SystemLog.h"
#include "platform/Termination.h"

#if defined(_WIN32)
#include <string>
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
    const int result = agent.run(static_cast<int>(arguments.size()), pointers.data());
    if (result == 0 && quorvane::unregistersService(arguments)) {
        const std::string failure =
            quorvane::unregisterEventSource(agent.config().getString("application.baseName"));
        if (!failure.empty()) {
            agent.logger().error(failure);
            return 70;
        }
        return 0;
    }
    if (result != 0 || !quorvane::registersService(arguments)) {
        return result;
    }
    // POCO registered the bare service; its restart actions and its dependency on WMI
    // are added here, under the name POCO gave it.
    const std::string failure =
        quorvane::completeServiceRegistration(agent.config().getString("application.baseName"));
    if (!failure.empty()) {
        agent.logger().error(failure);
        return 70;  // as a failed registration ends
    }
    return 0;
}
#else
int main(int argc, char** argv) {
    // Before any thread exists, so that every thread inherits the blocked termination signals.
    quorvane::blockTerminationSignals();
    quorvane::QuorvaneAgent agent;
    return agent.run(argc, argv);
}
#endif
