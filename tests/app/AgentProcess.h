// Runs the agent executable as a child process for lifecycle tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quorvane::test {

class AgentProcess {
  public:
    explicit AgentProcess(std::vector<std::string> arguments = {});
    ~AgentProcess();

    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    // True once a report can be fetched on port 5782, within `seconds`.
    bool waitUntilServing(double seconds = 10.0);
    void signal(int signalNumber);
    // The exit code, or -1 when it did not end within `seconds` (it is then killed), or
    // 128 + the signal number when a signal ended it.
    int waitForExit(double seconds = 15.0);
    // Everything the process wrote to stdout and stderr.
    std::string output() const;

  private:
    pid_t pid = -1;
    std::string outputPath;
    bool exited = false;
};

}  // namespace quorvane::test
