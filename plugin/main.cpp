// check_quorvane: a check plugin for Nagios, Icinga and Naemon that reads one agent's status
// report with one request and judges one of its figures.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
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
    "  -w, --warning=RANGE    WARNING outside RANGE (empty: no threshold)\n"
    "  -c, --critical=RANGE   CRITICAL outside RANGE (empty: no threshold)\n"
    "      --include=DISK     storage: only this disk (repeatable; the report's device name)\n"
    "      --exclude=DISK     storage: not this disk (repeatable)\n"
    "  -v, --verbose          more detail: the report's origin and the thresholds as read\n"
    "  -h, --help             this text\n"
    "  -V, --version          the version (the agent's: one project)\n"
    "\n"
    "Modes (without -w and -c a mode is OK whatever the value):\n"
    "  cpu        the 15-minute processor load average in %; the latest sample as perfdata\n"
    "  memory     the memory load in %; used and total bytes as perfdata\n"
    "  storage    each fixed disk's free space in %, with check_disk's thresholds\n"
    "             (-w 20% -c 10%: WARNING under 20 % free, CRITICAL under 10 %) or ranges\n"
    "             (-w 20: -c 10: is the same); the worst disk decides and is named;\n"
    "             a disk of size 0 (figures unreadable) or an included disk that is missing\n"
    "             is UNKNOWN, below WARNING and CRITICAL\n"
    "  uptime     the seconds since boot; e.g. -w 3600: -c 600: to see a recent reboot\n"
    "  inventory  OK whenever the agent answers: OS, BIOS, computer, processors and agent\n"
    "             as long output\n"
    "\n"
    "Ranges: a value outside the range alerts (inside it, with @); both ends belong to it.\n"
    "  10 alerts below 0 or above 10, 10: below 10, ~:10 above 10, 10:20 outside 10..20,\n"
    "  @10:20 inside 10..20. A figure out of its range (a load above 100, a wrapped -1)\n"
    "  is UNKNOWN, never judged.\n"
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

CheckResult judge(const Poco::XML::Document& report, const Options& options) {
    const std::string& mode = options.mode;
    if (mode == "cpu") {
        return checkCpu(readCpu(report), options.thresholds);
    }
    if (mode == "memory") {
        return checkMemory(readMemory(report), options.thresholds);
    }
    if (mode == "storage") {
        return checkStorage(readDisks(report), options.thresholds, options.disks);
    }
    if (mode == "uptime") {
        return checkUptime(readUptime(report), options.thresholds);
    }
    return checkInventory(readInventory(report));
}

// -v: where the figures came from and the thresholds as the plugin understood them.
void addVerboseDetail(CheckResult& result, const Options& options, std::size_t bodySize,
                      const Poco::XML::Document& report) {
    std::string origin = "report of " + std::to_string(bodySize) + " bytes from " +
                         agentAddress(options.host, options.port);
    try {
        const ReportStamp stamp = readStamp(report);
        origin += ": agent " + stamp.agentVersion + ", refreshed " +
                  std::to_string(stamp.refreshes) + " times, its clock " + stamp.time;
    } catch (const ReportError& error) {
        origin += std::string(" (") + error.what() + ")";
    }
    result.details.push_back(origin);
    const auto text = [](const std::optional<Range>& range) {
        return range ? range->text : std::string("none");
    };
    result.details.push_back(
        "thresholds: warning " + text(options.thresholds.warning) + ", critical " +
        text(options.thresholds.critical) +
        (options.mode == "storage" ? " (on each disk's free percentage)" : ""));
}

CheckResult check(const Options& options) {
    const std::string body = fetchReport(options.host, options.port, options.timeoutSeconds);
    const std::string agent = agentAddress(options.host, options.port);
    try {
        const auto report = parseReport(body);
        CheckResult result = judge(*report, options);
        if (options.verbosity > 0) {
            addVerboseDetail(result, options, body.size(), *report);
        }
        return result;
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
