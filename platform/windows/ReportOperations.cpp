// Windows answers to the report-time operations: the version record and GetProductInfo for the
// product names, the executable's own version resource for the identity, and the performance
// data of the System object for the uptime. The decisions live in the platform-neutral code.
#include <windows.h>
#include <winperf.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/AgentIdentity.h"
#include "platform/PerfData.h"
#include "platform/ReportOperations.h"
#include "platform/VersionNaming.h"
#include "platform/windows/VersionResourceBlock.h"
#include "platform/windows/WindowsVersion.h"

// The agent's UTF-16 strings are char16_t; Windows hands out wchar_t, the same 16-bit units.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be 16 bits wide on Windows");

// The platform-neutral record and walk mirror these layouts.
static_assert(sizeof(quorvane::VersionInfoRecord) == sizeof(OSVERSIONINFOEXW));
static_assert(offsetof(quorvane::VersionInfoRecord, szCSDVersion) ==
              offsetof(OSVERSIONINFOEXW, szCSDVersion));
static_assert(offsetof(quorvane::VersionInfoRecord, wProductType) ==
              offsetof(OSVERSIONINFOEXW, wProductType));
static_assert(offsetof(PERF_DATA_BLOCK, HeaderLength) == quorvane::perf::kBlockHeaderLength);
static_assert(offsetof(PERF_DATA_BLOCK, NumObjectTypes) == quorvane::perf::kBlockNumObjectTypes);
static_assert(offsetof(PERF_OBJECT_TYPE, DefinitionLength) ==
              quorvane::perf::kObjectDefinitionLength);
static_assert(offsetof(PERF_OBJECT_TYPE, HeaderLength) == quorvane::perf::kObjectHeaderLength);
static_assert(offsetof(PERF_OBJECT_TYPE, NumCounters) == quorvane::perf::kObjectNumCounters);
static_assert(offsetof(PERF_OBJECT_TYPE, PerfTime) == quorvane::perf::kObjectPerfTime);
static_assert(offsetof(PERF_OBJECT_TYPE, PerfFreq) == quorvane::perf::kObjectPerfFreq);
static_assert(sizeof(PERF_OBJECT_TYPE) == quorvane::perf::kObjectSize);
static_assert(offsetof(PERF_COUNTER_DEFINITION, ByteLength) == quorvane::perf::kCounterByteLength);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterNameTitleIndex) ==
              quorvane::perf::kCounterNameTitleIndex);
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterOffset) == quorvane::perf::kCounterOffset);
static_assert(sizeof(PERF_COUNTER_DEFINITION) == quorvane::perf::kCounterSize);
static_assert(ERROR_MORE_DATA == quorvane::kErrorMoreData);

namespace quorvane {

namespace {

const wchar_t* asWide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

}  // namespace

VersionInfoRecord readVersionInfo() {
    OSVERSIONINFOEXW info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#ifdef _MSC_VER
#pragma warning(suppress : 4996)  // deprecated, but the only call that fills the whole record
#endif
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));

    VersionInfoRecord record;
    record.dwOSVersionInfoSize = info.dwOSVersionInfoSize;
    record.dwMajorVersion = info.dwMajorVersion;
    record.dwMinorVersion = info.dwMinorVersion;
    record.dwBuildNumber = info.dwBuildNumber;
    record.dwPlatformId = info.dwPlatformId;
    for (std::size_t i = 0; i < kCsdVersionLength; ++i) {
        record.szCSDVersion[i] = static_cast<char16_t>(info.szCSDVersion[i]);
    }
    record.wServicePackMajor = info.wServicePackMajor;
    record.wServicePackMinor = info.wServicePackMinor;
    record.wSuiteMask = info.wSuiteMask;
    record.wProductType = info.wProductType;
    record.wReserved = info.wReserved;
    return record;
}

std::uint32_t queryProductType(std::uint32_t majorVersion, std::uint32_t minorVersion,
                               std::uint32_t servicePackMajor, std::uint32_t servicePackMinor) {
    using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) {
        return 0;
    }
    const FARPROC address = GetProcAddress(kernel32, "GetProductInfo");
    if (address == nullptr) {
        return 0;
    }
    // Through void (*)() so that the cast between function types is not flagged.
    const auto getProductInfo =
        reinterpret_cast<GetProductInfoFunction>(reinterpret_cast<void (*)()>(address));
    DWORD productType = 0;
    if (!getProductInfo(majorVersion, minorVersion, servicePackMajor, servicePackMinor,
                        &productType)) {
        return 0;
    }
    return productType;
}

namespace {

// One copy of the executable's version resource; values are found with VerQueryValueW and never
// read beyond the block, whatever length the query reports.
class ModuleVersionResource : public VersionResource {
  public:
    explicit ModuleVersionResource(std::vector<std::uint8_t> block) : block_(std::move(block)) {}

    bool productVersion(std::uint32_t& versionMS, std::uint32_t& versionLS) const override {
        const std::uint8_t* value = nullptr;
        UINT length = 0;
        if (!query(L"\\", value, length) || length < sizeof(VS_FIXEDFILEINFO) ||
            bytesAfter(value) < sizeof(VS_FIXEDFILEINFO)) {
            return false;
        }
        VS_FIXEDFILEINFO fixed;
        std::memcpy(&fixed, value, sizeof fixed);
        versionMS = fixed.dwProductVersionMS;
        versionLS = fixed.dwProductVersionLS;
        return true;
    }

    bool stringValue(const char16_t* subBlock, std::u16string& text) const override {
        const std::uint8_t* value = nullptr;
        UINT length = 0;  // in characters for a string value
        if (!query(asWide(subBlock), value, length)) {
            return false;
        }
        const std::size_t limit = std::min<std::size_t>(length, bytesAfter(value) / 2);
        std::u16string result;
        for (std::size_t i = 0; i < limit; ++i) {
            char16_t unit;
            std::memcpy(&unit, value + 2 * i, sizeof unit);
            if (unit == u'\0') {
                break;
            }
            result.push_back(unit);
        }
        text = std::move(result);
        return true;
    }

  private:
    // False when the query fails or the value has length 0 (absent).
    bool query(const wchar_t* subBlock, const std::uint8_t*& value, UINT& length) const {
        void* found = nullptr;
        length = 0;
        if (!VerQueryValueW(block_.data(), subBlock, &found, &length) || length == 0 ||
            found == nullptr) {
            return false;
        }
        value = static_cast<const std::uint8_t*>(found);
        return bytesAfter(value) > 0;
    }

    // Bytes of the block from `value` to its end; 0 for a pointer outside the block.
    std::size_t bytesAfter(const std::uint8_t* value) const {
        const auto begin = reinterpret_cast<std::uintptr_t>(block_.data());
        const auto end = begin + block_.size();
        const auto at = reinterpret_cast<std::uintptr_t>(value);
        return at >= begin && at < end ? static_cast<std::size_t>(end - at) : 0;
    }

    std::vector<std::uint8_t> block_;
};

class ModuleVersionResourceReader : public VersionResourceReader {
  public:
    std::unique_ptr<VersionResource> read() override {
        wchar_t path[MAX_PATH];
        const DWORD pathLength = GetModuleFileNameW(nullptr, path, MAX_PATH);
        // A path that filled the buffer is cut off (and unterminated on older systems).
        if (pathLength == 0 || pathLength >= MAX_PATH) {
            return nullptr;
        }
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(path, &handle);
        if (size == 0) {
            return nullptr;
        }
        std::vector<std::uint8_t> block(size);
        // A block that could not be filled holds nothing to trust: treated as no resource.
        if (!GetFileVersionInfoW(path, handle, size, block.data())) {
            return nullptr;
        }
        return versionResourceFromBlock(std::move(block));
    }
};

// Value "2" of HKEY_PERFORMANCE_DATA: the System object only.
class RegistryPerfDataSource : public PerfDataSource {
  public:
    std::int32_t query(std::uint8_t* buffer, std::uint32_t& length) override {
        DWORD size = length;
        const LONG status =
            RegQueryValueExW(HKEY_PERFORMANCE_DATA, L"2", nullptr, nullptr, buffer, &size);
        length = size;
        return status;
    }

    void close() override { RegCloseKey(HKEY_PERFORMANCE_DATA); }
};

}  // namespace

std::unique_ptr<VersionResource> versionResourceFromBlock(std::vector<std::uint8_t> block) {
    return std::make_unique<ModuleVersionResource>(std::move(block));
}

VersionResourceReader& agentVersionResource() {
    static ModuleVersionResourceReader reader;
    return reader;
}

std::u16string windowsServicePack() {
    return servicePackFromVersionInfo(readVersionInfo());
}

std::u16string windowsProductName() {
    return productNameFromVersionInfo(readVersionInfo(), queryProductType);
}

std::u16string windowsFullName() {
    return fullNameFromVersionInfo(readVersionInfo(), queryProductType);
}

std::uint64_t systemUptimeSeconds() {
    RegistryPerfDataSource source;
    return uptimeFromPerfDataSource(source);
}

std::string operatingSystemType() {
    return "windows";
}

}  // namespace quorvane
