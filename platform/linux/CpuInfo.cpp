#include "CpuInfo.h"

#include <cmath>
#include <locale>
#include <set>
#include <sstream>

#include "SystemFiles.h"

namespace quorvane {

namespace {

std::optional<std::string> field(const CpuInfoBlock& block, const char* key) {
    const auto found = block.find(key);
    if (found == block.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::uint32_t> unsignedField(const CpuInfoBlock& block, const char* key) {
    const std::optional<std::string> text = field(block, key);
    if (!text || text->size() > 9 || text->find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(std::stoul(*text));
}

// A clock in MHz such as "2096.016", rounded to the nearest whole MHz.
std::optional<std::uint32_t> clockField(const CpuInfoBlock& block, const char* key) {
    const std::optional<std::string> text = field(block, key);
    if (!text || text->find_first_not_of("0123456789.") != std::string::npos ||
        text->find_first_of("0123456789") == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream in(*text);
    in.imbue(std::locale::classic());
    double mhz = 0;
    if (!(in >> mhz) || !(mhz >= 0 && mhz < 4.0e9)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(std::lround(mhz));
}

bool hasFlag(const CpuInfoBlock& block, const std::string& flag) {
    const std::optional<std::string> flags = field(block, "flags");
    if (!flags) {
        return false;
    }
    std::istringstream in(*flags);
    std::string word;
    while (in >> word) {
        if (word == flag) {
            return true;
        }
    }
    return false;
}

// Windows names x86 processors "<architecture> Family F Model M Stepping S".
std::optional<std::string> captionOf(const CpuInfoBlock& block) {
    const auto family = unsignedField(block, "cpu family");
    const auto model = unsignedField(block, "model");
    const auto stepping = unsignedField(block, "stepping");
    if (!family || !model || !stepping) {
        return std::nullopt;
    }
    std::string architecture = "x86";
    if (hasFlag(block, "lm")) {
        architecture = field(block, "vendor_id") == std::optional<std::string>("GenuineIntel")
                           ? "Intel64"
                           : "AMD64";
    }
    return architecture + " Family " + std::to_string(*family) + " Model " +
           std::to_string(*model) + " Stepping " + std::to_string(*stepping);
}

}  // namespace

std::vector<CpuInfoBlock> parseCpuInfo(const std::string& text) {
    std::vector<CpuInfoBlock> blocks;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string key = trimmed(line.substr(0, colon));
        const std::string value = trimmed(line.substr(colon + 1));
        // Each logical processor's block starts with its "processor" line.
        if (key == "processor") {
            blocks.emplace_back();
        }
        if (!blocks.empty()) {
            blocks.back().emplace(key, value);
        }
    }
    return blocks;
}

std::vector<ProcessorPackage> groupPackages(const std::vector<CpuInfoBlock>& blocks) {
    std::vector<ProcessorPackage> packages;
    std::vector<std::string> packageIds;
    std::vector<std::set<std::string>> coreIds;
    for (const CpuInfoBlock& block : blocks) {
        const std::string id = field(block, "physical id").value_or("");
        std::size_t index = 0;
        while (index < packageIds.size() && packageIds[index] != id) {
            ++index;
        }
        if (index == packageIds.size()) {
            packageIds.push_back(id);
            coreIds.emplace_back();
            ProcessorPackage package;
            package.firstProcessor =
                static_cast<int>(unsignedField(block, "processor").value_or(0));
            package.name = field(block, "model name");
            package.manufacturer = field(block, "vendor_id");
            package.caption = captionOf(block);
            package.reportedClockMHz = clockField(block, "cpu MHz");
            package.cores = unsignedField(block, "cpu cores");
            packages.push_back(package);
        }
        ProcessorPackage& package = packages[index];
        ++package.logicalProcessors;
        if (const auto core = field(block, "core id")) {
            coreIds[index].insert(*core);
        }
    }
    // Without "cpu cores", the distinct core ids still tell how many cores a package has.
    for (std::size_t i = 0; i < packages.size(); ++i) {
        if (!packages[i].cores && !coreIds[i].empty()) {
            packages[i].cores = static_cast<std::uint32_t>(coreIds[i].size());
        }
    }
    return packages;
}

std::optional<std::uint32_t> parseMaxFrequencyMHz(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 12 ||
        text->find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long long kHz = std::stoull(*text);
    if (kHz == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>((kHz + 500) / 1000);
}

ProcessorReader::ProcessorReader(std::string root) : root_(std::move(root)) {}

std::optional<std::vector<ProcessorDescription>> ProcessorReader::read() const {
    const SystemFiles files(root_);
    const std::optional<std::string> text = files.readText("/proc/cpuinfo");
    if (!text) {
        return std::nullopt;
    }
    std::vector<ProcessorDescription> descriptions;
    for (const ProcessorPackage& package : groupPackages(parseCpuInfo(*text))) {
        ProcessorDescription description;
        description.package = package;
        description.maxClockSpeedMHz = parseMaxFrequencyMHz(
            files.readValue("/sys/devices/system/cpu/cpu" + std::to_string(package.firstProcessor) +
                            "/cpufreq/cpuinfo_max_freq"));
        if (!description.maxClockSpeedMHz) {
            description.maxClockSpeedMHz = package.reportedClockMHz;
        }
        descriptions.push_back(description);
    }
    return descriptions;
}

}  // namespace quorvane
