#include "VersionNaming.h"

#include <algorithm>
#include <array>

namespace quorvane {

namespace {

const char16_t kUnknown[] = u"Unknown";
const char16_t kUnknownWindows[] = u"Unknown Windows";

enum class NameForm { Short, Full };

struct ProductTypeNames {
    const char16_t* fullName;
    const char16_t* shortName;
};

// Indexed by GetProductInfo code. Codes without a name of their own share "Unknown Windows".
constexpr std::array<ProductTypeNames, 43> kProductTypes = {{
    {u"An unknown product", u"An unknown product"},
    {u"Windows Vista Ultimate", u"Windows Vista"},
    {u"Windows Vista Home Basic", u"Windows Vista"},
    {u"Windows Vista Home Premium", u"Windows Vista"},
    {u"Windows Vista Enterprise", u"Windows Vista"},
    {u"Windows Vista Home Basic N", u"Windows Vista"},
    {u"Windows Vista Business", u"Windows Vista"},
    {u"Windows Server 2008 Standard", u"Windows Server 2008"},
    {u"Windows Server 2008 Datacenter", u"Windows Server 2008"},
    {u"Windows Small Business Server 2008 Standard", u"Windows Server 2008"},
    {u"Windows Server 2008 Enterprise", u"Windows Server 2008"},
    {u"Windows Vista Starter", u"Windows Vista"},
    {u"Windows Server 2008 Datacenter (core)", u"Windows Server 2008 (core)"},
    {u"Windows Server 2008 Standard (core)", u"Windows Server 2008 (core)"},
    {u"Windows Server 2008 Enterprise (core)", u"Windows Server 2008 (core)"},
    {u"Windows Server 2008 Enterprise for Itanium-based Systems", u"Windows Server 2008"},
    {u"Windows Vista Business N", u"Windows Vista"},
    {u"Windows Web Server 2008", u"Windows Server 2008"},
    {u"Windows HPC Server 2008", u"Windows HPC Server 2008"},
    {u"Windows Home Server", u"Windows Home Server"},
    {u"Windows Storage Server Express", u"Windows Storage Server"},
    {u"Windows Storage Server Standard", u"Windows Storage Server"},
    {u"Windows Storage Server Workgroup", u"Windows Storage Server"},
    {u"Windows Storage Server Enterprise", u"Windows Storage Server"},
    {u"Windows Server 2008 for Windows Essential Server Solutions", u"Windows Server 2008"},
    {u"Windows Small Business Server 2008 Premium", u"Windows Server 2008"},
    {u"Windows Vista Home Premium N", u"Windows Vista"},
    {u"Windows Vista Enterprise N", u"Windows Vista"},
    {u"Windows Vista Ultimate N", u"Windows Vista"},
    {u"Windows Web Server 2008 (core)", u"Windows Server 2008 (core)"},
    {u"Windows Essential Business Server 2008 Management Server", u"Windows Server 2008"},
    {u"Windows Essential Business Server 2008 Security Server", u"Windows Server 2008"},
    {u"Windows Essential Business Server 2008 Messaging Server", u"Windows Server 2008"},
    {kUnknownWindows, kUnknownWindows},
    {kUnknownWindows, kUnknownWindows},
    {u"Windows Server 2008 without Hyper-V for Windows Essential Server Solutions",
     u"Windows Server 2008"},
    {u"Windows Server 2008 Standard without Hyper-V", u"Windows Server 2008"},
    {u"Windows Server 2008 Datacenter without Hyper-V", u"Windows Server 2008"},
    {kUnknownWindows, kUnknownWindows},
    {u"Windows Server 2008 Datacenter without Hyper-V (core)", u"Windows Server 2008 (core)"},
    {u"Windows Server 2008 Standard without Hyper-V (core)", u"Windows Server 2008 (core)"},
    {kUnknownWindows, kUnknownWindows},
    {u"Microsoft Hyper-V Server", u"Microsoft Hyper-V Server"},
}};

// Windows 8 and later: the product-type table above predates them and would name them Vista or
// Server 2008, so they get their own names. The full name adds an edition only for the product
// types whose edition is beyond doubt; any other code gives the short name.
struct Edition {
    std::uint32_t productType;
    const char16_t* fullName;
};

struct ModernRelease {
    const char16_t* name;
    std::array<Edition, 4> editions;
};

// Product type 101 (core) is the plain edition there: Windows calls it "Windows 8", not "Home".
constexpr ModernRelease kWindows8{
    u"Windows 8",
    {{{4, u"Windows 8 Enterprise"}, {48, u"Windows 8 Pro"}, {121, u"Windows 8 Education"}}}};
constexpr ModernRelease kWindows81{
    u"Windows 8.1",
    {{{4, u"Windows 8.1 Enterprise"}, {48, u"Windows 8.1 Pro"}, {121, u"Windows 8.1 Education"}}}};
constexpr ModernRelease kWindows10{u"Windows 10",
                                   {{{4, u"Windows 10 Enterprise"},
                                     {48, u"Windows 10 Pro"},
                                     {101, u"Windows 10 Home"},
                                     {121, u"Windows 10 Education"}}}};
constexpr ModernRelease kWindows11{u"Windows 11",
                                   {{{4, u"Windows 11 Enterprise"},
                                     {48, u"Windows 11 Pro"},
                                     {101, u"Windows 11 Home"},
                                     {121, u"Windows 11 Education"}}}};
constexpr ModernRelease kServer2012{
    u"Windows Server 2012",
    {{{7, u"Windows Server 2012 Standard"}, {8, u"Windows Server 2012 Datacenter"}}}};
constexpr ModernRelease kServer2012R2{
    u"Windows Server 2012 R2",
    {{{7, u"Windows Server 2012 R2 Standard"}, {8, u"Windows Server 2012 R2 Datacenter"}}}};
constexpr ModernRelease kServer2016{
    u"Windows Server 2016",
    {{{7, u"Windows Server 2016 Standard"}, {8, u"Windows Server 2016 Datacenter"}}}};
constexpr ModernRelease kServer2019{
    u"Windows Server 2019",
    {{{7, u"Windows Server 2019 Standard"}, {8, u"Windows Server 2019 Datacenter"}}}};
constexpr ModernRelease kServer2022{
    u"Windows Server 2022",
    {{{7, u"Windows Server 2022 Standard"}, {8, u"Windows Server 2022 Datacenter"}}}};
constexpr ModernRelease kServer2025{
    u"Windows Server 2025",
    {{{7, u"Windows Server 2025 Standard"}, {8, u"Windows Server 2025 Datacenter"}}}};

// The Semi-Annual Channel server releases, which Windows names by version, not by year. They
// shipped as Server Core only; their full name is the same.
struct ChannelRelease {
    std::uint32_t build;
    ModernRelease release;
};

constexpr std::array<ChannelRelease, 7> kServerChannelReleases = {{
    {16299, {u"Windows Server, version 1709", {}}},
    {17134, {u"Windows Server, version 1803", {}}},
    {18362, {u"Windows Server, version 1903", {}}},
    {18363, {u"Windows Server, version 1909", {}}},
    {19041, {u"Windows Server, version 2004", {}}},
    {19042, {u"Windows Server, version 20H2", {}}},
    {25398, {u"Windows Server, version 23H2", {}}},
}};

// Product types of the table that name a product of their own rather than an edition of the
// release (Hyper-V Server, Storage Server, Home Server, Small Business Server and the like): the
// table's names stay right on the later releases.
bool namesOwnProduct(std::uint32_t code) {
    switch (code) {
        case 9:   // Small Business Server Standard
        case 18:  // HPC Server
        case 19:  // Home Server
        case 20:  // Storage Server Express
        case 21:  // Storage Server Standard
        case 22:  // Storage Server Workgroup
        case 23:  // Storage Server Enterprise
        case 25:  // Small Business Server Premium
        case 30:  // Essential Business Server Management Server
        case 31:  // Essential Business Server Security Server
        case 32:  // Essential Business Server Messaging Server
        case 42:  // Hyper-V Server
            return true;
        default:
            return false;
    }
}

bool isWorkstation(const VersionInfoRecord& info) {
    return info.wProductType == kNtWorkstation;
}

bool hasSuite(const VersionInfoRecord& info, std::uint16_t suite) {
    return (info.wSuiteMask & suite) != 0;
}

std::uint32_t productType(const VersionInfoRecord& info,
                          const ProductTypeLookup& queryProductType) {
    if (!queryProductType) {
        return 0;
    }
    return queryProductType(info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor,
                            info.wServicePackMinor);
}

// NT 6.2, 6.3 and 10.0, or null for every other version.
const ModernRelease* modernRelease(const VersionInfoRecord& info) {
    const bool workstation = isWorkstation(info);
    const std::uint32_t build = info.dwBuildNumber;
    if (info.dwMajorVersion == 6 && info.dwMinorVersion == 2) {
        return workstation ? &kWindows8 : &kServer2012;
    }
    if (info.dwMajorVersion == 6 && info.dwMinorVersion == 3) {
        return workstation ? &kWindows81 : &kServer2012R2;
    }
    if (info.dwMajorVersion == 10 && info.dwMinorVersion == 0) {
        if (workstation) {
            return build >= 22000 ? &kWindows11 : &kWindows10;
        }
        for (const ChannelRelease& channel : kServerChannelReleases) {
            if (channel.build == build) {
                return &channel.release;
            }
        }
        if (build >= 26100) {
            return &kServer2025;
        }
        if (build >= 20348) {
            return &kServer2022;
        }
        return build >= 17763 ? &kServer2019 : &kServer2016;
    }
    return nullptr;
}

const char16_t* modernName(const ModernRelease& release, const VersionInfoRecord& info,
                           const ProductTypeLookup& queryProductType, NameForm form) {
    const std::uint32_t code = productType(info, queryProductType);
    if (namesOwnProduct(code)) {
        const ProductTypeNames& names = kProductTypes[code];
        return form == NameForm::Short ? names.shortName : names.fullName;
    }
    if (form == NameForm::Short) {
        return release.name;
    }
    for (const Edition& edition : release.editions) {
        if (edition.fullName != nullptr && edition.productType == code) {
            return edition.fullName;
        }
    }
    return release.name;
}

const char16_t* productTypeName(const VersionInfoRecord& info,
                                const ProductTypeLookup& queryProductType, NameForm form) {
    const std::uint32_t code = productType(info, queryProductType);
    if (code >= kProductTypes.size()) {
        return kUnknownWindows;
    }
    const ProductTypeNames& names = kProductTypes[code];
    return form == NameForm::Short ? names.shortName : names.fullName;
}

const char16_t* windows9xName(const VersionInfoRecord& info) {
    if (info.dwMajorVersion != 4) {
        return kUnknown;
    }
    switch (info.dwMinorVersion) {
        case 0:
            return u"Windows 95";
        case 10:
            return u"Windows 98";
        case 90:
            return u"Windows Me";
        default:
            return kUnknown;
    }
}

const char16_t* nt5Name(const VersionInfoRecord& info, NameForm form) {
    switch (info.dwMinorVersion) {
        case 0:
            if (isWorkstation(info)) {
                return u"Windows 2000 Professional";
            }
            if (form == NameForm::Short) {
                return u"Windows 2000 Server";
            }
            if (hasSuite(info, kSuiteDatacenter)) {
                return u"Windows 2000 Data Center Server";
            }
            if (hasSuite(info, kSuiteEnterprise)) {
                return u"Windows 2000 Advanced Server";
            }
            return u"Windows 2000 Server";
        case 1:
            return hasSuite(info, kSuitePersonal) ? u"Windows XP Home Edition"
                                                  : u"Windows XP Professional";
        case 2:
            // The product type is not consulted: a 5.2 workstation is named like a server.
            if (form == NameForm::Short) {
                return u"Windows Server 2003";
            }
            if (hasSuite(info, kSuiteDatacenter)) {
                return u"Windows Server 2003, Datacenter Edition";
            }
            if (hasSuite(info, kSuiteEnterprise)) {
                return u"Windows Server 2003, Enterprise Edition";
            }
            if (hasSuite(info, kSuiteBlade)) {
                return u"Windows Server 2003, Web Edition";
            }
            return u"Windows Server 2003, Standard Edition";
        default:
            return kUnknown;
    }
}

const char16_t* ntName(const VersionInfoRecord& info, const ProductTypeLookup& queryProductType,
                       NameForm form) {
    if (const ModernRelease* release = modernRelease(info)) {
        return modernName(*release, info, queryProductType, form);
    }
    switch (info.dwMajorVersion) {
        case 3:
            return info.dwMinorVersion == 51 ? u"Windows NT 3.51" : kUnknown;
        case 4:
            return info.dwMinorVersion == 0 ? u"Windows NT 4.0" : kUnknown;
        case 5:
            return nt5Name(info, form);
        case 6:
            if (info.dwMinorVersion == 1) {
                return isWorkstation(info) ? u"Windows 7" : u"Windows Server 2008 R2";
            }
            return productTypeName(info, queryProductType, form);
        default:
            return kUnknown;
    }
}

const char16_t* nameFromVersionInfo(const VersionInfoRecord& info,
                                    const ProductTypeLookup& queryProductType, NameForm form) {
    switch (info.dwPlatformId) {
        case kPlatformWin32Windows:
            return windows9xName(info);
        case kPlatformWin32Nt:
            return ntName(info, queryProductType, form);
        default:
            return kUnknown;
    }
}

}  // namespace

const char16_t* productNameFromVersionInfo(const VersionInfoRecord& info,
                                           const ProductTypeLookup& queryProductType) {
    return nameFromVersionInfo(info, queryProductType, NameForm::Short);
}

const char16_t* fullNameFromVersionInfo(const VersionInfoRecord& info,
                                        const ProductTypeLookup& queryProductType) {
    return nameFromVersionInfo(info, queryProductType, NameForm::Full);
}

std::u16string servicePackFromVersionInfo(const VersionInfoRecord& info) {
    const char16_t* begin = info.szCSDVersion;
    const char16_t* end = std::find(begin, begin + kCsdVersionLength, u'\0');
    return std::u16string(begin, end);
}

}  // namespace quorvane
