#include "CpuInfo.h"

#include <set>
#include <string_view>

#include "SystemFiles.h"
#include "snapshot/TextScan.h"

namespace quorvane {

namespace {

std::optional<std::string> field(const CpuInfoBlock& block, const char* key) {
    const auto found = block.find(key);
    if (found == block.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second;
}

// At most 9 digits, so that any value fits in 32 bits.
std::optional<std::uint32_t> unsignedField(const CpuInfoBlock& block, const char* key) {
    const std::optional<std::string> text = field(block, key);
    std::uint64_t value = 0;
    if (!text || text->size() > 9 || !parseDecimal(*text, value)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// A clock in MHz such as "2096.016", rounded to the nearest whole MHz (a half up).
std::optional<std::uint32_t> clockField(const CpuInfoBlock& block, const char* key) {
    const std::optional<std::string> text = field(block, key);
    if (!text) {
        return std::nullopt;
    }
    const std::string_view clock(*text);
    const std::size_t dot = clock.find('.');
    const std::string_view whole = clock.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : clock.substr(dot + 1);
    std::uint64_t mhz = 0;
    const bool wellFormed = (!whole.empty() || !fraction.empty()) &&
                            (whole.empty() || parseDecimal(whole, mhz)) &&
                            fraction.find_first_not_of("0123456789") == std::string_view::npos;
    if (!wellFormed || mhz >= 4000000000u) {
        return std::nullopt;
    }
    if (!fraction.empty() && fraction.front() >= '5') {
        ++mhz;
    }
    return static_cast<std::uint32_t>(mhz);
}

bool hasFlag(const CpuInfoBlock& block, std::string_view flag) {
    const std::optional<std::string> flags = field(block, "flags");
    if (!flags) {
        return false;
    }
    std::size_t position = 0;
    for (std::string_view word = nextWord(*flags, position); !word.empty();
         word = nextWord(*flags, position)) {
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
    forEachLine(text, [&blocks](std::string_view line) {
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            return;
        }
        const std::string_view key = trimmedView(line.substr(0, colon));
        // Each logical processor's block starts with its "processor" line.
        if (key == "processor") {
            blocks.emplace_back();
        }
        if (!blocks.empty()) {
            blocks.back().emplace(key, trimmedView(line.substr(colon + 1)));
        }
    });
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
    // At most 12 digits, so that the MHz fit in 32 bits.
    std::uint64_t kHz = 0;
    if (!text || text->size() > 12 || !parseDecimal(*text, kHz) || kHz == 0) {
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
