#include "ProcUptime.h"

#include <optional>
#include <utility>

#include "snapshot/TextScan.h"

namespace quorvane {

std::uint64_t parseProcUptime(std::string_view text) {
    // The whole part ends at the fraction, a blank or the end of the text.
    std::uint64_t seconds = 0;
    return parseDecimal(text.substr(0, text.find_first_of(". \n")), seconds) ? seconds : 0;
}

ProcUptimeReader::ProcUptimeReader(std::string rootDirectory)
    : path_(SystemFiles(std::move(rootDirectory)).locate("/proc/uptime")) {}

std::uint64_t ProcUptimeReader::seconds() const {
    const std::optional<std::string> text = file_.read(path_);
    if (!text) {
        return 0;
    }
    const std::string_view line(*text);
    return parseProcUptime(line.substr(0, line.find('\n')));
}

}  // namespace quorvane
