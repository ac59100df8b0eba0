#pragma once

#include <stdexcept>
#include <string>

#include "Checks.h"
#include "Thresholds.h"

namespace quorvane::plugin {

// A command line the plugin cannot run with; the text says why.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Options {
    enum class Action { check, help, version } action = Action::check;
    std::string host;
    unsigned port = 5782;
    unsigned timeoutSeconds = 10;
    std::string mode;  // cpu, memory, storage, uptime or inventory
    Thresholds thresholds;
    DiskSelection disks;
    unsigned verbosity = 0;  // one per -v
};

// Throws UsageError for an unknown or incomplete option, a value out of range, a threshold that
// is not one, or options the mode does not take. An empty -w or -c is no threshold; storage also
// takes check_disk's "N%" (under N % free), and refuses a bare number, which as a range would
// alert above that much free space.
Options parseOptions(int argc, char** argv);

extern const char* const kUsage;

}  // namespace quorvane::plugin
