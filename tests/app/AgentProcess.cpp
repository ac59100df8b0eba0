#include "AgentProcess.h"

#include <Poco/Net/NetException.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/RawHttp.h"

extern char** environ;

namespace quorvane::test {

AgentProcess::AgentProcess(std::vector<std::string> arguments) {
    char pathTemplate[] = "/tmp/quorvane-agent-output-XXXXXX";
    const int fd = mkstemp(pathTemplate);
    outputPath = pathTemplate;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fd, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> all{QUORVANE_AGENT_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid, QUORVANE_AGENT_PATH, &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
}

AgentProcess::~AgentProcess() {
    if (pid > 0 && !exited) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    unlink(outputPath.c_str());
}

bool AgentProcess::waitUntilServing(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            const auto response = get(5782, "/getdata");
            if (response.statusLine.find(" 200 ") != std::string::npos &&
                response.body.find("</root>") != std::string::npos) {
                return true;
            }
        } catch (const Poco::Exception&) {
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void AgentProcess::signal(int signalNumber) {
    if (pid > 0 && !exited) {
        kill(pid, signalNumber);
    }
}

int AgentProcess::waitForExit(double seconds) {
    if (pid <= 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    for (;;) {
        const pid_t result = waitpid(pid, &status, WNOHANG);
        if (result == pid) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            exited = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    exited = true;
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::string AgentProcess::output() const {
    std::ifstream in(outputPath);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace quorvane::test
