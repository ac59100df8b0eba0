#include "Options.h"

#include <getopt.h>

#include <charconv>
#include <optional>

namespace quorvane::plugin {

const char* const kUsage =
    "Usage: check_quorvane -H HOST [-p PORT] [-t SECONDS] -m MODE [-w RANGE] [-c RANGE] "
    "[--include DISK]... [--exclude DISK]... [-v]; MODE is cpu, memory, storage, uptime or "
    "inventory; storage also takes -w N% -c N% (free space under N %)";

namespace {

unsigned whole(const char* text, unsigned low, unsigned high, const char* option) {
    const std::string value = text;
    unsigned number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
        number < low || number > high) {
        throw UsageError(std::string(option) + " takes a whole number from " + std::to_string(low) +
                         " to " + std::to_string(high) + ", not \"" + value + "\"");
    }
    return number;
}

// A threshold as an operator types it, once the mode is known. Empty is none: what a station's
// command passes for a macro left empty.
std::optional<Range> threshold(const std::string& text, const char* option,
                               const std::string& mode) {
    if (text.empty()) {
        return std::nullopt;
    }
    if (mode == "storage") {
        if (const auto percent = parsePercentFree(text)) {
            return percent;
        }
        if (text.find_first_of(":@") == std::string::npos && parseRange(text)) {
            throw UsageError(std::string(option) + " " + text + " would alert above " + text +
                             " % free: write " + text + "% (or " + text + ":) for under " + text +
                             " % free");
        }
    }
    const auto parsed = parseRange(text);
    if (!parsed) {
        throw UsageError(std::string(option) + " takes a range (10, 10:, ~:10, 10:20 or @10:20)" +
                         (mode == "storage" ? std::string(" or N% (under N % free)") : "") +
                         ", not \"" + text + "\"");
    }
    return parsed;
}

// The option getopt stopped at: a short one by its letter (it may sit inside a group such as
// -xH), a long one as written.
std::string optionName(char** argv, int letter) {
    if (letter > 0 && letter < 128) {
        return std::string("-") + static_cast<char>(letter);
    }
    return argv[optind - 1];
}

}  // namespace

Options parseOptions(int argc, char** argv) {
    enum { includeOption = 1000, excludeOption };
    static const option longOptions[] = {
        {"hostname", required_argument, nullptr, 'H'},
        {"port", required_argument, nullptr, 'p'},
        {"timeout", required_argument, nullptr, 't'},
        {"mode", required_argument, nullptr, 'm'},
        {"warning", required_argument, nullptr, 'w'},
        {"critical", required_argument, nullptr, 'c'},
        {"include", required_argument, nullptr, includeOption},
        {"exclude", required_argument, nullptr, excludeOption},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {"verbose", no_argument, nullptr, 'v'},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    std::optional<std::string> warning, critical;
    opterr = 0;  // the caller reports the error, as the plugin's one line
    optind = 1;
    int c;
    while ((c = getopt_long(argc, argv, ":H:p:t:m:w:c:hVv", longOptions, nullptr)) != -1) {
        switch (c) {
            case 'H':
                options.host = optarg;
                break;
            case 'p':
                options.port = whole(optarg, 1, 65535, "-p");
                break;
            case 't':
                options.timeoutSeconds = whole(optarg, 1, 3600, "-t");
                break;
            case 'm':
                options.mode = optarg;
                break;
            case 'w':
                warning = optarg;
                break;
            case 'c':
                critical = optarg;
                break;
            case 'v':
                ++options.verbosity;
                break;
            case includeOption:
                options.disks.include.push_back(optarg);
                break;
            case excludeOption:
                options.disks.exclude.push_back(optarg);
                break;
            case 'h':
                options.action = Options::Action::help;
                return options;
            case 'V':
                options.action = Options::Action::version;
                return options;
            case ':':
                throw UsageError(optionName(argv, optopt) + " needs a value");
            default:
                throw UsageError("unknown option " + optionName(argv, optopt));
        }
    }
    if (optind < argc) {
        throw UsageError("unexpected argument \"" + std::string(argv[optind]) + "\"");
    }
    if (options.host.empty()) {
        throw UsageError("-H HOST is required");
    }
    const std::string& mode = options.mode;
    if (mode != "cpu" && mode != "memory" && mode != "storage" && mode != "uptime" &&
        mode != "inventory") {
        throw UsageError(mode.empty() ? "-m MODE is required" : "unknown mode \"" + mode + "\"");
    }
    if (mode == "inventory" &&
        ((warning && !warning->empty()) || (critical && !critical->empty()))) {
        throw UsageError("the inventory mode takes no thresholds");
    }
    options.thresholds.warning = threshold(warning.value_or(""), "-w", mode);
    options.thresholds.critical = threshold(critical.value_or(""), "-c", mode);
    if (mode != "storage" && (!options.disks.include.empty() || !options.disks.exclude.empty())) {
        throw UsageError("--include and --exclude belong to the storage mode");
    }
    return options;
}

}  // namespace quorvane::plugin
