#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CimDateTime.h"
#include "CpuInfo.h"
#include "HostIdentity.h"
#include "LinuxInstanceSource.h"
#include "MemoryStatus.h"
#include "MountInfo.h"
#include "snapshot/Probes.h"

namespace quorvane::linuxsource {
namespace {

const std::string kFixtures = QUORVANE_LINUX_FIXTURES;
const std::string kMachine = kFixtures + "/machine";
const std::string kMissing = kFixtures + "/does-not-exist";

std::string text(const TextField& field) {
    return textFieldToUtf8(field);
}

// The moment a CIM datetime names: its local fields minus its UTC offset.
std::int64_t cimToEpoch(const std::string& cim) {
    EXPECT_EQ(cim.size(), 25u) << cim;
    if (cim.size() != 25) {
        return 0;
    }
    std::tm fields{};
    fields.tm_year = std::stoi(cim.substr(0, 4)) - 1900;
    fields.tm_mon = std::stoi(cim.substr(4, 2)) - 1;
    fields.tm_mday = std::stoi(cim.substr(6, 2));
    fields.tm_hour = std::stoi(cim.substr(8, 2));
    fields.tm_min = std::stoi(cim.substr(10, 2));
    fields.tm_sec = std::stoi(cim.substr(12, 2));
    EXPECT_EQ(cim[14], '.');
    EXPECT_TRUE(cim[21] == '+' || cim[21] == '-');
    const int offset = std::stoi(cim.substr(22, 3)) * (cim[21] == '-' ? -1 : 1);
    return static_cast<std::int64_t>(timegm(&fields)) - offset * 60;
}

class LinuxSourceTest : public ::testing::Test {
  protected:
    LinuxInstanceSource machine{kMachine, [] { return std::uint64_t{1000000000}; }, 100};
};

// --- processors --------------------------------------------------------------------------------

TEST_F(LinuxSourceTest, TwoSocketMachineHasOneProcessorPerPackage) {
    std::vector<ProcessorInfo> processors;
    ASSERT_EQ(queryProcessors(processors, machine), 2);
    for (const ProcessorInfo& processor : processors) {
        EXPECT_EQ(text(processor.name), "Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz");
        EXPECT_EQ(text(processor.manufacturer), "GenuineIntel");
        EXPECT_EQ(text(processor.caption), "Intel64 Family 6 Model 85 Stepping 4");
        EXPECT_EQ(text(processor.version), "");
        EXPECT_EQ(processor.numberOfCores, 2u);
        EXPECT_EQ(processor.numberOfLogicalProcessors, 4u);
    }
    EXPECT_EQ(text(processors[0].deviceId), "CPU0");
    EXPECT_EQ(text(processors[1].deviceId), "CPU1");
    // The first package has a cpufreq maximum; the second only its reported clock (2095.5 MHz).
    EXPECT_EQ(processors[0].maxClockSpeed, 3700u);
    EXPECT_EQ(processors[1].maxClockSpeed, 2096u);
}

TEST_F(LinuxSourceTest, ProcessorWithoutPackageOrModelFieldsReportsOnlyWhatIsThere) {
    LinuxInstanceSource arm(kFixtures + "/arm");
    std::vector<ProcessorInfo> processors;
    ASSERT_EQ(queryProcessors(processors, arm), 1);
    EXPECT_EQ(text(processors[0].deviceId), "CPU0");
    EXPECT_EQ(text(processors[0].name), "");
    EXPECT_EQ(text(processors[0].caption), "");
    EXPECT_EQ(processors[0].maxClockSpeed, 0u);
    EXPECT_EQ(processors[0].numberOfCores, 0u);
    EXPECT_EQ(processors[0].numberOfLogicalProcessors, 2u);

    auto enumerator = arm.createInstanceEnum(u"Win32_Processor");
    ASSERT_NE(enumerator, nullptr);
    auto instance = enumerator->next();
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->get(u"NumberOfCores").kind, WmiValue::Kind::Null);
    EXPECT_EQ(instance->get(u"Name").kind, WmiValue::Kind::Null);
}

TEST(CpuInfoTest, CoreIdsCountCoresWhenCpuCoresIsMissing) {
    const auto packages = groupPackages(
        parseCpuInfo("processor : 0\nphysical id : 0\ncore id : 0\nflags : fpu\n"
                     "cpu family : 6\nmodel : 1\nstepping : 2\nvendor_id : GenuineIntel\n\n"
                     "processor : 1\nphysical id : 0\ncore id : 1\n\n"
                     "processor : 2\nphysical id : 0\ncore id : 1\n"));
    ASSERT_EQ(packages.size(), 1u);
    EXPECT_EQ(packages[0].cores, 2u);
    EXPECT_EQ(packages[0].logicalProcessors, 3u);
    // Without the long-mode flag the processor is a 32-bit x86.
    EXPECT_EQ(packages[0].caption, std::optional<std::string>("x86 Family 6 Model 1 Stepping 2"));
    EXPECT_EQ(parseMaxFrequencyMHz(std::string("2899500")), 2900u);
    EXPECT_EQ(parseMaxFrequencyMHz(std::string("0")), std::nullopt);
    EXPECT_EQ(parseMaxFrequencyMHz(std::string("fast")), std::nullopt);
}

// --- disks -------------------------------------------------------------------------------------

TEST_F(LinuxSourceTest, FixedDisksAreLocalNonRemovableBlockDevicesEachOnce) {
    DiskTable disks;
    ASSERT_EQ(queryLogicalDisks(disks, machine), 5);
    const std::vector<std::string> mountPoints = {"/", "/boot/efi", "/home", "/mnt/my disk",
                                                  "/data"};
    const std::vector<std::string> types = {"ext4", "vfat", "xfs", "ext4", "btrfs"};
    const std::vector<std::string> labels = {"root", "EFI", "My Data", "", ""};
    for (std::size_t i = 0; i < mountPoints.size(); ++i) {
        EXPECT_EQ(disks[i].inUse, 1);
        EXPECT_EQ(text(disks[i].deviceId), mountPoints[i]);
        EXPECT_EQ(text(disks[i].fileSystem), types[i]);
        EXPECT_EQ(text(disks[i].volumeName), labels[i]);
        EXPECT_EQ(disks[i].driveType, 3u);
    }
    EXPECT_EQ(disks[5].inUse, 0);

    // Only "/" exists in the fixture tree, so only it has file-system figures.
    struct statvfs stats {};
    ASSERT_EQ(statvfs(kMachine.c_str(), &stats), 0);
    EXPECT_EQ(disks[0].size, static_cast<std::uint64_t>(stats.f_blocks) * stats.f_frsize);
    EXPECT_GT(disks[0].freeSpace, 0u);
    EXPECT_LE(disks[0].freeSpace, disks[0].size);
    EXPECT_EQ(disks[1].size, 0u);
    EXPECT_EQ(disks[1].freeSpace, 0u);
}

TEST_F(LinuxSourceTest, AnotherDriveTypeSelectsNothing) {
    auto enumerator = machine.execQuery(u"Select * from Win32_LogicalDisk Where DriveType = 2");
    ASSERT_NE(enumerator, nullptr);
    EXPECT_EQ(enumerator->next(), nullptr);
}

TEST(MountInfoTest, FieldsAreUnescaped) {
    const auto entries = parseMountInfo(
        "36 35 98:0 /mnt1 /mnt/a\\040b\\134c rw,noatime master:1 - ext3 /dev/root rw\n"
        "too short\n"
        "37 35 x:y / /z rw - ext4 /dev/sda rw\n"
        "38 35 8:3 / /no-separator rw shared:1 ext4 /dev/sda3 rw\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].major, 98u);
    EXPECT_EQ(entries[0].minor, 0u);
    EXPECT_EQ(entries[0].root, "/mnt1");
    EXPECT_EQ(entries[0].mountPoint, "/mnt/a b\\c");
    EXPECT_EQ(entries[0].fileSystemType, "ext3");
    EXPECT_EQ(entries[0].source, "/dev/root");
    EXPECT_EQ(decodeLabelLinkName("My\\x20Data\\x2fX\\xZZ"), "My Data/X\\xZZ");
}

// Only btrfs and the like are found through the device their source names: a FUSE mount calling
// itself after a device, or a tmpfs given one's name, is no disk. fuseblk has its device's number.
TEST(MountInfoTest, OnlyMultiDeviceFileSystemsAreFoundThroughTheirSource) {
    char pattern[] = "/tmp/quorvane-mounts-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path tree(pattern);
    std::filesystem::create_directories(tree / "proc/self");
    std::filesystem::create_directory_symlink(kMachine + "/sys", tree / "sys");
    std::ofstream(tree / "proc/self/mountinfo")
        << "40 20 0:60 / /mnt/fuse rw - fuse /dev/sdc1 rw,user_id=0\n"
           "41 20 0:61 / /mnt/sshfs rw - fuse.sshfs /dev/sdc1 rw,user_id=0\n"
           "42 20 0:62 / /mnt/tmp rw - tmpfs /dev/sdc1 rw\n"
           "43 20 8:2 / /mnt/ntfs rw - fuseblk /dev/sda2 rw,user_id=0\n"
           "44 20 0:45 / /data rw - btrfs /dev/sdc1 rw\n";
    const auto disks = FixedDiskReader(tree.string()).read();
    std::filesystem::remove_all(tree);
    ASSERT_TRUE(disks.has_value());
    ASSERT_EQ(disks->size(), 2u);
    EXPECT_EQ((*disks)[0].mountPoint, "/mnt/ntfs");
    EXPECT_EQ((*disks)[0].fileSystemType, "fuseblk");
    EXPECT_EQ((*disks)[1].mountPoint, "/data");
    EXPECT_EQ((*disks)[1].fileSystemType, "btrfs");
}

// --- memory ------------------------------------------------------------------------------------

TEST(MemoryStatusTest, MemInfoMapsOntoTheMemoryStatus) {
    const MemoryInfo memory = MemoryStatusReader(kMachine).read();
    EXPECT_EQ(memory.ullTotalPhys, 16318480ull * 1024);
    EXPECT_EQ(memory.ullAvailPhys, 8159240ull * 1024);
    EXPECT_EQ(memory.dwMemoryLoad, 50u);
    EXPECT_EQ(memory.ullTotalPageFile, (16318480ull + 2097148ull) * 1024);
    EXPECT_EQ(memory.ullAvailPageFile, (8159240ull + 1048574ull) * 1024);
    // The stack's start 140731234567890 lies just below 2^47, the x86-64 user address space.
    EXPECT_EQ(memory.ullTotalVirtual, 1ull << 47);
    EXPECT_EQ(memory.ullAvailVirtual, (1ull << 47) - 123456ull * 1024);
    EXPECT_EQ(memory.ullAvailExtendedVirtual, 0u);
}

TEST(MemoryStatusTest, UnreadableStatusIsAllZero) {
    const MemoryInfo memory = MemoryStatusReader(kMissing).read();
    EXPECT_EQ(memory.dwMemoryLoad, 0u);
    EXPECT_EQ(memory.ullTotalPhys, 0u);
    EXPECT_EQ(memory.ullAvailPhys, 0u);
    EXPECT_EQ(memory.ullTotalPageFile, 0u);
    EXPECT_EQ(memory.ullAvailPageFile, 0u);
    EXPECT_EQ(memory.ullTotalVirtual, 0u);
    EXPECT_EQ(memory.ullAvailVirtual, 0u);
    const MemoryInfo noTotal = memoryStatusFrom(parseMemInfo("MemFree: 100 kB\n"), 1, 1);
    EXPECT_EQ(noTotal.ullAvailPhys, 0u);
    EXPECT_EQ(noTotal.ullTotalVirtual, 0u);
}

TEST(MemoryStatusTest, OldKernelsWithoutMemAvailableUseFreeMemory) {
    const MemoryInfo memory = memoryStatusFrom(
        parseMemInfo("MemTotal: 1000 kB\nMemFree: 333 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n"),
        std::nullopt, std::nullopt);
    EXPECT_EQ(memory.ullAvailPhys, 333u * 1024);
    EXPECT_EQ(memory.dwMemoryLoad, 66u);
    EXPECT_EQ(memory.ullTotalVirtual, 0u);
    EXPECT_EQ(parseStartStack("1 (a) b) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 "
                              "22 23 24 99 26"),
              std::optional<std::uint64_t>(99));
}

// --- processor counters ------------------------------------------------------------------------

TEST(ProcessorCountersTest, StatPairGivesTheKnownLoad) {
    // Two processors at 100 ticks per second over 10 s: 2000 ticks, 950 of them busy.
    LinuxInstanceSource before(
        kMachine, [] { return std::uint64_t{1000000000}; }, 100);
    LinuxInstanceSource after(
        kFixtures + "/load-after", [] { return std::uint64_t{1100000000}; }, 100);
    CpuTimesSample baseline;
    CpuTimesSample current;
    ASSERT_EQ(queryCpuTimes(before, baseline), 1);
    ASSERT_EQ(queryCpuTimes(after, current), 1);
    // user + nice = 10500 ticks = 1.05e9 units, averaged over two processors.
    EXPECT_EQ(baseline.percentUserTime, 525000000u);
    // system + irq + softirq = 3300 ticks.
    EXPECT_EQ(baseline.percentPrivilegedTime, 165000000u);
    EXPECT_EQ(baseline.timeStampSys100NS, 1000000000u);
    std::int32_t load = -1;
    ASSERT_TRUE(computeCpuLoad(baseline, current, load));
    EXPECT_EQ(load, 47);  // 47.5 % truncated
}

TEST(ProcessorCountersTest, EachProcessorHasItsOwnInstance) {
    LinuxInstanceSource source(
        kMachine, [] { return std::uint64_t{5}; }, 100);
    auto enumerator =
        source.execQuery(u"Select Name, PercentUserTime from Win32_PerfRawData_PerfOS_Processor");
    ASSERT_NE(enumerator, nullptr);
    std::vector<std::u16string> names;
    while (auto instance = enumerator->next()) {
        names.push_back(instance->get(u"Name").text);
        if (names.back() == u"0") {
            EXPECT_EQ(instance->get(u"PercentUserTime").text, u"525000000");
        }
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"0", u"1", u"_Total"}));
    EXPECT_EQ(ticksTo100ns(3, 1024), 29296u);  // 3/1024 s = 29296.875 units
}

// --- BIOS, computer system, operating system ---------------------------------------------------

TEST_F(LinuxSourceTest, BiosAndComputerSystemFromDmiAndHostNames) {
    BiosInfo bios;
    ASSERT_EQ(queryBios(bios, machine), 1);
    EXPECT_EQ(text(bios.manufacturer), "SeaBIOS");
    EXPECT_EQ(text(bios.smbiosBiosVersion), "1.16.2-debian-1.16.2-1");
    EXPECT_EQ(text(bios.name), "1.16.2-debian-1.16.2-1");
    EXPECT_EQ(text(bios.version), "1.16.2-debian-1.16.2-1 04/01/2014");
    EXPECT_EQ(text(bios.serialNumber), "");

    ComputerSystemInfo computer;
    ASSERT_EQ(queryComputerSystem(computer, machine), 1);
    EXPECT_EQ(text(computer.name), "build-07");
    EXPECT_EQ(text(computer.domain), "lab.example.com");
    EXPECT_EQ(text(computer.manufacturer), "QEMU");
    EXPECT_EQ(text(computer.model), "Standard PC (Q35 + ICH9, 2009)");

    auto enumerator = machine.createInstanceEnum(u"Win32_ComputerSystem");
    ASSERT_NE(enumerator, nullptr);
    auto instance = enumerator->next();
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->get(u"PrimaryOwnerName").kind, WmiValue::Kind::Null);
    auto biosEnumerator = machine.createInstanceEnum(u"Win32_BIOS");
    ASSERT_NE(biosEnumerator, nullptr);
    EXPECT_EQ(biosEnumerator->next()->get(u"SerialNumber").kind, WmiValue::Kind::Null);
}

TEST(HostNamesTest, DomainFromHostNameResolvConfOrNis) {
    const HostNames plain =
        parseHostNames(std::string("web1"), std::nullopt, std::string("(none)"));
    EXPECT_EQ(plain.name, std::optional<std::string>("web1"));
    EXPECT_EQ(plain.domain, std::nullopt);
    const HostNames dns = parseHostNames(
        std::string("web1"), std::string("domain a.example\nsearch x\ndomain b.example.\n"),
        std::string("nisdomain"));
    EXPECT_EQ(dns.domain, std::optional<std::string>("b.example"));
    const HostNames nis = parseHostNames(std::string("web1"), std::string("nameserver 1.1.1.1\n"),
                                         std::string("corp"));
    EXPECT_EQ(nis.domain, std::optional<std::string>("corp"));
    const HostNames none = parseHostNames(std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(none.name, std::nullopt);
    EXPECT_EQ(none.domain, std::nullopt);
}

TEST_F(LinuxSourceTest, OperatingSystemTimesAreCimDateTimes) {
    OperatingSystemInfo os;
    ASSERT_EQ(queryOperatingSystem(os, machine), 1);
    EXPECT_EQ(text(os.version), "6.1.0-18-amd64");
    EXPECT_EQ(cimToEpoch(text(os.lastBootUpTime)), 1765000000);
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t local = cimToEpoch(text(os.localDateTime));
    EXPECT_LE(local, now + 1);
    EXPECT_GE(local, now - 5);
}

TEST(CimDateTimeTest, OffsetInMinutesWithSign) {
    std::tm fields{};
    fields.tm_year = 2026 - 1900;
    fields.tm_mon = 11;
    fields.tm_mday = 9;
    fields.tm_hour = 7;
    fields.tm_min = 5;
    fields.tm_sec = 3;
    EXPECT_EQ(formatCimDateTime(fields, 42, 60),
              std::optional<std::string>("20261209070503.000042+060"));
    EXPECT_EQ(formatCimDateTime(fields, 999999, -345),
              std::optional<std::string>("20261209070503.999999-345"));
    EXPECT_EQ(formatCimDateTime(fields, 0, 0),
              std::optional<std::string>("20261209070503.000000+000"));
    EXPECT_EQ(formatCimDateTime(fields, 0, 1000), std::nullopt);
}

// --- a tree with nothing in it -----------------------------------------------------------------

TEST(UnreadableTreeTest, ProbesFailAndKeepTheirDestinations) {
    LinuxInstanceSource missing(kMissing);
    std::vector<ProcessorInfo> processors(1);
    EXPECT_EQ(queryProcessors(processors, missing), -1);
    EXPECT_EQ(processors.size(), 1u);
    DiskTable disks;
    disks[0].inUse = 1;
    EXPECT_EQ(queryLogicalDisks(disks, missing), -1);
    EXPECT_EQ(disks[0].inUse, 1);
    CpuTimesSample sample{1, 2, 3};
    EXPECT_EQ(queryCpuTimes(missing, sample), -1);
    EXPECT_EQ(sample.timeStampSys100NS, 3u);
    // Firmware and names may simply not be exposed: the instance is there, its values null.
    BiosInfo bios;
    setTextField(bios.name, u"kept");
    EXPECT_EQ(queryBios(bios, missing), 1);
    EXPECT_EQ(text(bios.name), "kept");
}

}  // namespace
}  // namespace quorvane::linuxsource
