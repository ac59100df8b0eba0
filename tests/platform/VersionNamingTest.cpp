#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/VersionNaming.h"

namespace quorvane {
namespace {

VersionInfoRecord record(std::uint32_t platform, std::uint32_t major, std::uint32_t minor,
                         std::uint8_t productType = kNtWorkstation, std::uint16_t suite = 0,
                         std::uint32_t build = 0) {
    VersionInfoRecord info;
    info.dwOSVersionInfoSize = sizeof info;
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.wProductType = productType;
    info.wSuiteMask = suite;
    info.dwBuildNumber = build;
    return info;
}

VersionInfoRecord nt(std::uint32_t major, std::uint32_t minor,
                     std::uint8_t productType = kNtWorkstation, std::uint16_t suite = 0,
                     std::uint32_t build = 0) {
    return record(kPlatformWin32Nt, major, minor, productType, suite, build);
}

constexpr std::uint8_t kServer = 3;  // VER_NT_SERVER

// Answers a fixed code and remembers every call.
struct Lookup {
    explicit Lookup(std::uint32_t answer = 0) : code(answer) {}

    ProductTypeLookup function() {
        return [this](std::uint32_t major, std::uint32_t minor, std::uint32_t spMajor,
                      std::uint32_t spMinor) {
            calls.push_back({major, minor, spMajor, spMinor});
            return code;
        };
    }

    std::uint32_t code;
    std::vector<std::array<std::uint32_t, 4>> calls;
};

std::u16string shortName(const VersionInfoRecord& info, Lookup& lookup) {
    return productNameFromVersionInfo(info, lookup.function());
}

std::u16string fullName(const VersionInfoRecord& info, Lookup& lookup) {
    return fullNameFromVersionInfo(info, lookup.function());
}

// Both forms, with a lookup that must not be asked.
void expectNamesWithoutLookup(const VersionInfoRecord& info, const std::u16string& expectedShort,
                              const std::u16string& expectedFull) {
    Lookup lookup(4);
    EXPECT_EQ(shortName(info, lookup), expectedShort);
    EXPECT_EQ(fullName(info, lookup), expectedFull);
    EXPECT_TRUE(lookup.calls.empty());
}

TEST(VersionNamingTest, Windows9xByMinorVersion) {
    expectNamesWithoutLookup(record(kPlatformWin32Windows, 4, 0), u"Windows 95", u"Windows 95");
    expectNamesWithoutLookup(record(kPlatformWin32Windows, 4, 10), u"Windows 98", u"Windows 98");
    expectNamesWithoutLookup(record(kPlatformWin32Windows, 4, 90), u"Windows Me", u"Windows Me");
    expectNamesWithoutLookup(record(kPlatformWin32Windows, 4, 3), u"Unknown", u"Unknown");
    expectNamesWithoutLookup(record(kPlatformWin32Windows, 5, 0), u"Unknown", u"Unknown");
}

TEST(VersionNamingTest, UnrecognisedPlatformsAndVersionsAreUnknown) {
    expectNamesWithoutLookup(record(0, 6, 0), u"Unknown", u"Unknown");
    expectNamesWithoutLookup(record(3, 6, 0), u"Unknown", u"Unknown");
    // A failed GetVersionExW leaves the record zero-filled.
    expectNamesWithoutLookup(VersionInfoRecord{}, u"Unknown", u"Unknown");
    expectNamesWithoutLookup(nt(2, 0), u"Unknown", u"Unknown");
    expectNamesWithoutLookup(nt(5, 3), u"Unknown", u"Unknown");
    expectNamesWithoutLookup(nt(7, 0), u"Unknown", u"Unknown");
    expectNamesWithoutLookup(nt(10, 1, kNtWorkstation, 0, 22631), u"Unknown", u"Unknown");
    expectNamesWithoutLookup(nt(11, 0), u"Unknown", u"Unknown");
}

TEST(VersionNamingTest, WindowsNt3And4NeedTheExactMinorVersion) {
    expectNamesWithoutLookup(nt(3, 51), u"Windows NT 3.51", u"Windows NT 3.51");
    expectNamesWithoutLookup(nt(3, 50), u"Unknown", u"Unknown");
    expectNamesWithoutLookup(nt(4, 0, kServer), u"Windows NT 4.0", u"Windows NT 4.0");
    expectNamesWithoutLookup(nt(4, 1), u"Unknown", u"Unknown");
}

TEST(VersionNamingTest, Windows2000SuiteBitsNameOnlyTheServerFullName) {
    // A workstation ignores the suite bits entirely.
    expectNamesWithoutLookup(nt(5, 0, kNtWorkstation, kSuiteDatacenter),
                             u"Windows 2000 Professional", u"Windows 2000 Professional");
    // Datacenter wins over Enterprise.
    expectNamesWithoutLookup(nt(5, 0, kServer, kSuiteDatacenter | kSuiteEnterprise),
                             u"Windows 2000 Server", u"Windows 2000 Data Center Server");
    expectNamesWithoutLookup(nt(5, 0, kServer, kSuiteEnterprise), u"Windows 2000 Server",
                             u"Windows 2000 Advanced Server");
    expectNamesWithoutLookup(nt(5, 0, 2, kSuiteBlade), u"Windows 2000 Server",
                             u"Windows 2000 Server");
}

TEST(VersionNamingTest, WindowsXpLooksOnlyAtThePersonalBit) {
    expectNamesWithoutLookup(nt(5, 1, kNtWorkstation, kSuitePersonal), u"Windows XP Home Edition",
                             u"Windows XP Home Edition");
    expectNamesWithoutLookup(nt(5, 1, kServer, kSuitePersonal), u"Windows XP Home Edition",
                             u"Windows XP Home Edition");
    expectNamesWithoutLookup(nt(5, 1, kNtWorkstation, kSuiteEnterprise), u"Windows XP Professional",
                             u"Windows XP Professional");
}

TEST(VersionNamingTest, WindowsServer2003EditionsInSuitePrecedence) {
    expectNamesWithoutLookup(nt(5, 2, kServer, kSuiteDatacenter | kSuiteBlade),
                             u"Windows Server 2003", u"Windows Server 2003, Datacenter Edition");
    expectNamesWithoutLookup(nt(5, 2, kServer, kSuiteEnterprise | kSuiteBlade),
                             u"Windows Server 2003", u"Windows Server 2003, Enterprise Edition");
    expectNamesWithoutLookup(nt(5, 2, kServer, kSuiteBlade), u"Windows Server 2003",
                             u"Windows Server 2003, Web Edition");
    // The product type is not consulted: a 5.2 workstation gets the server names too.
    expectNamesWithoutLookup(nt(5, 2, kNtWorkstation, 0), u"Windows Server 2003",
                             u"Windows Server 2003, Standard Edition");
}

TEST(VersionNamingTest, Windows7AndServer2008R2WithoutLookup) {
    expectNamesWithoutLookup(nt(6, 1, kNtWorkstation), u"Windows 7", u"Windows 7");
    expectNamesWithoutLookup(nt(6, 1, kServer), u"Windows Server 2008 R2",
                             u"Windows Server 2008 R2");
    expectNamesWithoutLookup(nt(6, 1, 2), u"Windows Server 2008 R2", u"Windows Server 2008 R2");
}

TEST(VersionNamingTest, ProductTypeLookupGetsVersionAndServicePack) {
    VersionInfoRecord info = nt(6, 0, kServer);
    info.wServicePackMajor = 2;
    info.wServicePackMinor = 65535;
    Lookup lookup(14);
    EXPECT_EQ(shortName(info, lookup), u"Windows Server 2008 (core)");
    EXPECT_EQ(fullName(info, lookup), u"Windows Server 2008 Enterprise (core)");
    const std::array<std::uint32_t, 4> expected = {6, 0, 2, 65535};
    ASSERT_EQ(lookup.calls.size(), 2u);
    EXPECT_EQ(lookup.calls[0], expected);
    EXPECT_EQ(lookup.calls[1], expected);
}

TEST(VersionNamingTest, CodesWithoutNameAndFailedLookupsKeepTheirDistinctFallbacks) {
    for (const std::uint32_t code : {33u, 34u, 38u, 41u, 43u, 48u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        Lookup lookup(code);
        EXPECT_EQ(shortName(nt(6, 0), lookup), u"Unknown Windows");
        EXPECT_EQ(fullName(nt(6, 0), lookup), u"Unknown Windows");
    }
    Lookup failed(0);
    EXPECT_EQ(shortName(nt(6, 0), failed), u"An unknown product");
    EXPECT_EQ(fullName(nt(6, 0), failed), u"An unknown product");
    // No lookup at all counts as a failed one.
    EXPECT_EQ(std::u16string(fullNameFromVersionInfo(nt(6, 0), nullptr)), u"An unknown product");
}

// Editions of Windows Vista and Windows Server 2008 (NT 6.0) as the system reports them: the
// version record and GetProductInfo's code (its PRODUCT_* value in winnt.h), with the name
// Microsoft gives that edition. A row of the product-type table moved, dropped or mistyped
// breaks one of them; Hyper-V Server, the last code, breaks on any shift.
TEST(VersionNamingTest, Nt60EditionsAreNamedAsMicrosoftNamesThem) {
    struct Case {
        std::uint8_t productType;
        std::uint32_t build;
        std::uint32_t code;
        const char16_t* shortName;
        const char16_t* fullName;
    };
    const Case cases[] = {
        {kNtWorkstation, 6002, 0x03 /* PRODUCT_HOME_PREMIUM */, u"Windows Vista",
         u"Windows Vista Home Premium"},
        {kNtWorkstation, 6000, 0x10 /* PRODUCT_BUSINESS_N */, u"Windows Vista",
         u"Windows Vista Business N"},
        {kNtWorkstation, 6001, 0x1C /* PRODUCT_ULTIMATE_N */, u"Windows Vista",
         u"Windows Vista Ultimate N"},
        {kServer, 6001, 0x07 /* PRODUCT_STANDARD_SERVER */, u"Windows Server 2008",
         u"Windows Server 2008 Standard"},
        {kServer, 6002, 0x0C /* PRODUCT_DATACENTER_SERVER_CORE */, u"Windows Server 2008 (core)",
         u"Windows Server 2008 Datacenter (core)"},
        {kServer, 6001, 0x12 /* PRODUCT_CLUSTER_SERVER */, u"Windows HPC Server 2008",
         u"Windows HPC Server 2008"},
        {kServer, 6001, 0x19 /* PRODUCT_SMALLBUSINESS_SERVER_PREMIUM */, u"Windows Server 2008",
         u"Windows Small Business Server 2008 Premium"},
        {kServer, 6001, 0x28 /* PRODUCT_STANDARD_SERVER_CORE_V */, u"Windows Server 2008 (core)",
         u"Windows Server 2008 Standard without Hyper-V (core)"},
        {kServer, 6001, 0x2A /* PRODUCT_HYPERV */, u"Microsoft Hyper-V Server",
         u"Microsoft Hyper-V Server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Lookup lookup(c.code);
        const VersionInfoRecord info = nt(6, 0, c.productType, 0, c.build);
        EXPECT_EQ(shortName(info, lookup), c.shortName);
        EXPECT_EQ(fullName(info, lookup), c.fullName);
    }
}

// NT 6.2, 6.3 and 10.0 are named by version and build.
TEST(VersionNamingTest, ModernReleasesByVersionAndBuild) {
    struct Case {
        VersionInfoRecord info;
        const char16_t* name;
    };
    const Case cases[] = {
        {nt(6, 2, kNtWorkstation, 0, 9200), u"Windows 8"},
        {nt(6, 2, kServer, 0, 9200), u"Windows Server 2012"},
        {nt(6, 3, kNtWorkstation, 0, 9600), u"Windows 8.1"},
        {nt(6, 3, 2, 0, 9600), u"Windows Server 2012 R2"},
        {nt(10, 0, kNtWorkstation, 0, 21999), u"Windows 10"},
        {nt(10, 0, kNtWorkstation, 0, 22000), u"Windows 11"},
        {nt(10, 0, kServer, 0, 14393), u"Windows Server 2016"},
        {nt(10, 0, kServer, 0, 17762), u"Windows Server 2016"},
        {nt(10, 0, kServer, 0, 17763), u"Windows Server 2019"},
        {nt(10, 0, kServer, 0, 20347), u"Windows Server 2019"},
        {nt(10, 0, kServer, 0, 20348), u"Windows Server 2022"},
        {nt(10, 0, kServer, 0, 26099), u"Windows Server 2022"},
        {nt(10, 0, kServer, 0, 26100), u"Windows Server 2025"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.info.dwMajorVersion) + "." +
                     std::to_string(c.info.dwMinorVersion) + " build " +
                     std::to_string(c.info.dwBuildNumber));
        Lookup lookup(0);
        EXPECT_EQ(shortName(c.info, lookup), c.name);
        EXPECT_EQ(fullName(c.info, lookup), c.name);
        EXPECT_EQ(lookup.calls.size(), 2u);
    }
}

// The Semi-Annual Channel server builds are named as Windows names them, by version; the
// long-term releases around them keep their years.
TEST(VersionNamingTest, SemiAnnualChannelServerBuildsAreNamedByVersion) {
    struct Case {
        std::uint32_t build;
        const char16_t* name;
    };
    const Case cases[] = {
        {14393, u"Windows Server 2016"},          {16299, u"Windows Server, version 1709"},
        {17134, u"Windows Server, version 1803"}, {17763, u"Windows Server 2019"},
        {18362, u"Windows Server, version 1903"}, {18363, u"Windows Server, version 1909"},
        {19041, u"Windows Server, version 2004"}, {19042, u"Windows Server, version 20H2"},
        {20348, u"Windows Server 2022"},          {25398, u"Windows Server, version 23H2"},
        {26100, u"Windows Server 2025"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.build);
        for (const std::uint32_t code : {8u, 13u}) {
            Lookup lookup(code);
            EXPECT_EQ(shortName(nt(10, 0, kServer, 0, c.build), lookup), c.name);
        }
    }
    // Channel releases shipped as Server Core: no edition is added to their name.
    Lookup datacenterCore(12);
    EXPECT_EQ(fullName(nt(10, 0, kServer, 0, 19042), datacenterCore),
              u"Windows Server, version 20H2");
    // The same build numbers on a workstation are Windows 10.
    Lookup pro(48);
    EXPECT_EQ(fullName(nt(10, 0, kNtWorkstation, 0, 19042), pro), u"Windows 10 Pro");
}

// A product of its own is not renamed after the release it runs on.
TEST(VersionNamingTest, ProductsOfTheirOwnKeepTheirNamesOnLaterReleases) {
    struct Case {
        VersionInfoRecord info;
        std::uint32_t code;
        const char16_t* shortName;
        const char16_t* fullName;
    };
    const Case cases[] = {
        {nt(10, 0, kServer, 0, 17763), 42, u"Microsoft Hyper-V Server",
         u"Microsoft Hyper-V Server"},
        {nt(6, 3, kServer, 0, 9600), 42, u"Microsoft Hyper-V Server", u"Microsoft Hyper-V Server"},
        {nt(6, 2, kServer, 0, 9200), 20, u"Windows Storage Server",
         u"Windows Storage Server Express"},
        {nt(6, 3, kServer, 0, 9600), 21, u"Windows Storage Server",
         u"Windows Storage Server Standard"},
        {nt(10, 0, kServer, 0, 14393), 22, u"Windows Storage Server",
         u"Windows Storage Server Workgroup"},
        {nt(10, 0, kServer, 0, 17763), 23, u"Windows Storage Server",
         u"Windows Storage Server Enterprise"},
        {nt(6, 2, kServer, 0, 9200), 19, u"Windows Home Server", u"Windows Home Server"},
        // Core (101) is the plain edition of Windows 8 and 8.1, named without "Home".
        {nt(6, 2, kNtWorkstation, 0, 9200), 101, u"Windows 8", u"Windows 8"},
        {nt(6, 3, kNtWorkstation, 0, 9600), 101, u"Windows 8.1", u"Windows 8.1"},
        // Editions of the release itself are still named after the release.
        {nt(10, 0, kServer, 0, 17763), 8, u"Windows Server 2019",
         u"Windows Server 2019 Datacenter"},
        {nt(6, 2, kNtWorkstation, 0, 9200), 4, u"Windows 8", u"Windows 8 Enterprise"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.info.dwMajorVersion) + "." +
                     std::to_string(c.info.dwMinorVersion) + "." +
                     std::to_string(c.info.dwBuildNumber) + " code " + std::to_string(c.code));
        Lookup lookup(c.code);
        EXPECT_EQ(shortName(c.info, lookup), c.shortName);
        EXPECT_EQ(fullName(c.info, lookup), c.fullName);
    }
}

TEST(VersionNamingTest, ModernFullNamesAddOnlyCertainEditions) {
    struct Case {
        VersionInfoRecord info;
        std::uint32_t code;
        const char16_t* fullName;
    };
    const Case cases[] = {
        // The mix-up of the product-type table: a Windows 8 Enterprise is not a Vista.
        {nt(6, 2, kNtWorkstation), 4, u"Windows 8 Enterprise"},
        {nt(6, 3, kNtWorkstation), 48, u"Windows 8.1 Pro"},
        {nt(10, 0, kNtWorkstation, 0, 19045), 101, u"Windows 10 Home"},
        {nt(10, 0, kNtWorkstation, 0, 22631), 121, u"Windows 11 Education"},
        {nt(10, 0, kNtWorkstation, 0, 22631), 4, u"Windows 11 Enterprise"},
        {nt(10, 0, kServer, 0, 17763), 7, u"Windows Server 2019 Standard"},
        {nt(6, 2, kServer), 8, u"Windows Server 2012 Datacenter"},
        {nt(6, 3, kServer), 7, u"Windows Server 2012 R2 Standard"},
        {nt(10, 0, kServer, 0, 14393), 8, u"Windows Server 2016 Datacenter"},
        {nt(10, 0, kServer, 0, 20348), 8, u"Windows Server 2022 Datacenter"},
        {nt(10, 0, kServer, 0, 26100), 7, u"Windows Server 2025 Standard"},
        // Codes without a certain edition, and editions of the other kind, give the short name.
        {nt(10, 0, kNtWorkstation, 0, 19045), 0, u"Windows 10"},
        {nt(10, 0, kNtWorkstation, 0, 19045), 7, u"Windows 10"},
        {nt(10, 0, kNtWorkstation, 0, 19045), 14, u"Windows 10"},
        {nt(10, 0, kServer, 0, 17763), 4, u"Windows Server 2019"},
        {nt(10, 0, kServer, 0, 17763), 48, u"Windows Server 2019"},
        {nt(10, 0, kServer, 0, 17763), 13, u"Windows Server 2019"},
        {nt(6, 2, kServer), 0, u"Windows Server 2012"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.info.dwMajorVersion) + "." +
                     std::to_string(c.info.dwMinorVersion) + " code " + std::to_string(c.code));
        Lookup lookup(c.code);
        EXPECT_EQ(fullName(c.info, lookup), c.fullName);
        ASSERT_EQ(lookup.calls.size(), 1u);
        EXPECT_EQ(lookup.calls[0][0], c.info.dwMajorVersion);
        EXPECT_EQ(lookup.calls[0][1], c.info.dwMinorVersion);
    }
}

TEST(VersionNamingTest, ServicePackIsTheCsdTextUpToItsTerminator) {
    VersionInfoRecord info = nt(6, 1);
    EXPECT_EQ(servicePackFromVersionInfo(info), u"");

    const std::u16string text = u"Service Pack 1";
    std::copy(text.begin(), text.end(), info.szCSDVersion);
    info.szCSDVersion[text.size() + 1] = u'X';  // beyond the terminator
    EXPECT_EQ(servicePackFromVersionInfo(info), text);

    // Without a terminator the field's 128 units are taken, never more.
    std::fill(std::begin(info.szCSDVersion), std::end(info.szCSDVersion), u'S');
    EXPECT_EQ(servicePackFromVersionInfo(info), std::u16string(kCsdVersionLength, u'S'));
}

}  // namespace
}  // namespace quorvane
