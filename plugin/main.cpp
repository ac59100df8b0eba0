// check_quorvane: a check plugin for Nagios, Icinga and Naemon that reads one agent's status
// report with one request and judges one of its figures.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "Checks.h"
#include "Fetch.h"
#include "Options.h"
#include "Report.h"

namespace {

using namespace quorvane::plugin;

const char* const kHelp =
    "Checks one Quorvane agent through its XML status report (one HTTP request).\n"
    "\n"
    "Options:\n"
    "  -H, --hostname=HOST    the agent's host name or address\n"
    "  -p, --port=PORT        its port (default 5782)\n"
    "  -t, --timeout=SECONDS  for the whole check (default 10); then UNKNOWN\n"
    "  -m, --mode=MODE        what to check, see below\n"
    "  -w, --warning=RANGE    WARNING outside RANGE\n"
    "  -c, --critical=RANGE   CRITICAL outside RANGE\n"
    "      --include=DISK     storage: only this disk (repeatable; the report's device name)\n"
    "      --exclude=DISK     storage: not this disk (repeatable)\n"
    "  -h, --help             this text\n"
    "  -V, --version          the version (the agent's: one project)\n"
    "\n"
    "Modes (without -w and -c a mode is OK whatever the value):\n"
    "  cpu        the 15-minute processor load average in %; the latest sample as perfdata\n"
    "  memory     the memory load in %; used and total bytes as perfdata\n"
    "  storage    each fixed disk's free space in %; the worst disk decides and is named;\n"
    "             a disk of size 0 (figures unreadable) or an included disk that is missing\n"
    "             is UNKNOWN, below WARNING and CRITICAL\n"
    "  uptime     the seconds since boot; e.g. -w 3600: -c 600: to see a recent reboot\n"
    "  inventory  OK whenever the agent answers: OS, BIOS, computer, processors and agent\n"
    "             as long output\n"
    "\n"
    "Ranges: a value outside the range alerts (inside it, with @); both ends belong to it.\n"
    "  10 alerts below 0 or above 10, 10: below 10, ~:10 above 10, 10:20 outside 10..20,\n"
    "  @10:20 inside 10..20. E.g. storage -w 10: -c 5: warns below 10 % free.\n"
    "\n"
    "Exit: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (the agent unreachable or slow, an HTTP\n"
    "status other than 200, a body that is not a complete report, a missing attribute, a wrong\n"
    "option).\n";

// The time-out covers everything, name resolution included, which no socket time-out bounds:
// the alarm prints the prepared line and ends the process.
std::string timeoutLine;

extern "C" void onAlarm(int) {
    const ssize_t ignored = write(STDOUT_FILENO, timeoutLine.data(), timeoutLine.size());
    (void)ignored;
    _exit(static_cast<int>(State::unknown));
}

std::string modeLabel(const std::string& mode) {
    std::string label = mode;
    for (char& c : label) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return label;
}

int finish(const std::string& mode, const CheckResult& result) {
    const std::string output = formatOutput(mode, result);
    std::fwrite(output.data(), 1, output.size(), stdout);
    std::fflush(stdout);
    return static_cast<int>(result.state);
}

CheckResult unknown(const std::string& reason) {
    CheckResult result;
    result.state = State::unknown;
    result.summary = reason;
    return result;
}

CheckResult check(const Options& options) {
    const std::string body = fetchReport(options.host, options.port, options.timeoutSeconds);
    const std::string agent = agentAddress(options.host, options.port);
    try {
        const auto report = parseReport(body);
        const std::string& mode = options.mode;
        if (mode == "cpu") {
            return checkCpu(readCpu(*report), options.thresholds);
        }
        if (mode == "memory") {
            return checkMemory(readMemory(*report), options.thresholds);
        }
        if (mode == "storage") {
            return checkStorage(readDisks(*report), options.thresholds, options.disks);
        }
        if (mode == "uptime") {
            return checkUptime(readUptime(*report), options.thresholds);
        }
        return checkInventory(readInventory(*report));
    } catch (const ReportError& error) {
        return unknown(agent + " sent no usable report: " + error.what());
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& error) {
        CheckResult result = unknown(error.what());
        result.details.push_back(kUsage);
        return finish("", result);
    }
    if (options.action == Options::Action::help) {
        std::printf("check_quorvane %s\n%s\n\n%s", QUORVANE_PLUGIN_VERSION, kUsage, kHelp);
        return static_cast<int>(State::unknown);  // nothing was checked, as with every plugin
    }
    if (options.action == Options::Action::version) {
        std::printf("check_quorvane %s\n", QUORVANE_PLUGIN_VERSION);
        return static_cast<int>(State::unknown);
    }
    const std::string mode = modeLabel(options.mode);
    timeoutLine =
        formatOutput(mode, unknown("no answer from " + agentAddress(options.host, options.port) +
                                   " within " + std::to_string(options.timeoutSeconds) + " s"));
    signal(SIGALRM, onAlarm);
    alarm(options.timeoutSeconds);
    CheckResult result;
    try {
        result = check(options);
    } catch (const FetchError& error) {
        result = unknown(error.what());
    } catch (const std::exception& error) {
        // Nothing else is expected; still one line and UNKNOWN, not an abort.
        result = unknown(agentAddress(options.host, options.port) + ": " + error.what());
    }
    alarm(0);  // the line is written whole or not at all
    return finish(mode, result);
}
