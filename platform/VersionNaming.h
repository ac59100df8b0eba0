// Names of the Windows product from its version record and product-type code. Pure: the back end
// fills the record and supplies the product-type lookup, so every branch is testable anywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quorvane {

inline constexpr std::uint32_t kPlatformWin32Windows = 1;  // VER_PLATFORM_WIN32_WINDOWS
inline constexpr std::uint32_t kPlatformWin32Nt = 2;       // VER_PLATFORM_WIN32_NT
inline constexpr std::uint16_t kSuiteEnterprise = 0x0002;  // VER_SUITE_ENTERPRISE
inline constexpr std::uint16_t kSuiteDatacenter = 0x0080;  // VER_SUITE_DATACENTER
inline constexpr std::uint16_t kSuitePersonal = 0x0200;    // VER_SUITE_PERSONAL
inline constexpr std::uint16_t kSuiteBlade = 0x0400;       // VER_SUITE_BLADE
inline constexpr std::uint8_t kNtWorkstation = 1;          // VER_NT_WORKSTATION

inline constexpr std::size_t kCsdVersionLength = 128;

// The fields of OSVERSIONINFOEXW, in its order and widths, without the Windows headers.
struct VersionInfoRecord {
    std::uint32_t dwOSVersionInfoSize = 0;
    std::uint32_t dwMajorVersion = 0;
    std::uint32_t dwMinorVersion = 0;
    std::uint32_t dwBuildNumber = 0;
    std::uint32_t dwPlatformId = 0;
    char16_t szCSDVersion[kCsdVersionLength] = {};
    std::uint16_t wServicePackMajor = 0;
    std::uint16_t wServicePackMinor = 0;
    std::uint16_t wSuiteMask = 0;
    std::uint8_t wProductType = 0;
    std::uint8_t wReserved = 0;
};

// GetProductInfo's answer for (major, minor, service-pack major, service-pack minor); 0 when no
// product type is known.
using ProductTypeLookup =
    std::function<std::uint32_t(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t)>;

// The short name ("Windows 7", "Windows Server 2008 (core)") and the full name with the edition.
// Both return a constant and call the lookup only when the record alone cannot decide.
const char16_t* productNameFromVersionInfo(const VersionInfoRecord& info,
                                           const ProductTypeLookup& queryProductType);
const char16_t* fullNameFromVersionInfo(const VersionInfoRecord& info,
                                        const ProductTypeLookup& queryProductType);

// szCSDVersion up to its terminator, never beyond its 128 units.
std::u16string servicePackFromVersionInfo(const VersionInfoRecord& info);

}  // namespace quorvane
