#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "CimDateTime.h"
#include "CpuInfo.h"
#include "HostIdentity.h"
#include "LinuxSession.h"
#include "MemoryStatus.h"
#include "MountInfo.h"
#include "snapshot/Probes.h"
#include "support/ScopedTimeZone.h"

namespace quorvane {
namespace {

const std::string kFixtures = QUORVANE_LINUX_FIXTURES;
const std::string kMachine = kFixtures + "/machine";
const std::string kMissing = kFixtures + "/does-not-exist";

std::string text(const TextField& field) {
    return textFieldToUtf8(field);
}

// A session over a fixture tree.
Session sessionOver(const std::string& root) {
    auto state = std::make_unique<SessionState>();
    state->root = root;
    return Session(std::move(state));
}

// --- processors --------------------------------------------------------------------------------

TEST(LinuxProbesTest, ProcessorWithoutPackageOrModelFieldsReportsOnlyWhatIsThere) {
    Session arm = sessionOver(kFixtures + "/arm");
    std::vector<ProcessorInfo> processors;
    ASSERT_EQ(queryProcessors(processors, arm), 1);
    EXPECT_EQ(text(processors[0].deviceId), "CPU0");
    EXPECT_EQ(text(processors[0].name), "");
    EXPECT_EQ(text(processors[0].caption), "");
    EXPECT_EQ(processors[0].maxClockSpeed, 0u);
    EXPECT_EQ(processors[0].numberOfCores, 0u);
    EXPECT_EQ(processors[0].numberOfLogicalProcessors, 2u);
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

// --- BIOS, computer system, operating system ---------------------------------------------------

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

TEST(CimDateTimeTest, OffsetInMinutesWithSign) {
    std::tm fields{};
    fields.tm_year = 2026 - 1900;
    fields.tm_mon = 11;
    fields.tm_mday = 9;
    fields.tm_hour = 7;
    fields.tm_min = 5;
    fields.tm_sec = 3;
    EXPECT_EQ(composeCimDateTime(fields, 42, 60),
              std::optional<std::string>("20261209070503.000042+060"));
    EXPECT_EQ(composeCimDateTime(fields, 999999, -345),
              std::optional<std::string>("20261209070503.999999-345"));
    EXPECT_EQ(composeCimDateTime(fields, 0, 0),
              std::optional<std::string>("20261209070503.000000+000"));
    EXPECT_EQ(composeCimDateTime(fields, 0, 1000), std::nullopt);
}

// The boot time and the time now are local times with their offset: checked in a zone 5 h 30 min
// east of UTC, where neither can pass for UTC.
TEST(LinuxProbesTest, OperatingSystemTimesAreLocalWithTheirOffset) {
    const ScopedTimeZone zone(kZoneEastOfUtc);
    auto state = std::make_unique<SessionState>();
    state->root = kMachine;
    state->wallClock = [] { return std::optional<WallClockTime>({1765275072, 500000}); };
    Session machine(std::move(state));
    OperatingSystemInfo os;
    ASSERT_EQ(queryOperatingSystem(os, machine), 1);
    // btime 1765000000 is 2025-12-06 05:46:40 UTC; the clock reads 2025-12-09 10:11:12.5 UTC.
    EXPECT_EQ(text(os.lastBootUpTime), "20251206111640.000000+330");
    EXPECT_EQ(text(os.localDateTime), "20251209154112.500000+330");
}

// One read of /proc/stat per refresh: the boot time comes from the processor times' latest read,
// even when the file changed since, and follows the file from their next read. The counters are
// the "cpu" line's ticks, summed over the processors.
TEST(LinuxProbesTest, BootTimeComesFromTheProcessorTimesRead) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("quorvane-stat-" + std::to_string(getpid()));
    fs::create_directories(root / "proc");
    fs::copy_file(kFixtures + "/machine/proc/stat", root / "proc/stat");
    Session session = sessionOver(root.string());
    CpuTimesSample baseline;
    ASSERT_EQ(queryCpuTimes(session, baseline), 1);
    // load-after, booted an hour later.
    std::ifstream in(kFixtures + "/load-after/proc/stat");
    std::string later((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t at = later.find("btime 1765000000");
    ASSERT_NE(at, std::string::npos);
    later.replace(at, 16, "btime 1765003600");
    std::ofstream(root / "proc/stat", std::ios::trunc) << later;

    OperatingSystemInfo before;
    ASSERT_EQ(queryOperatingSystem(before, session), 1);
    CpuTimesSample current;
    ASSERT_EQ(queryCpuTimes(session, current), 1);
    OperatingSystemInfo after;
    ASSERT_EQ(queryOperatingSystem(after, session), 1);
    fs::remove_all(root);
    Session machine = sessionOver(kFixtures + "/machine");
    OperatingSystemInfo machineOs;
    ASSERT_EQ(queryOperatingSystem(machineOs, machine), 1);
    EXPECT_EQ(text(before.lastBootUpTime), text(machineOs.lastBootUpTime));
    EXPECT_NE(text(after.lastBootUpTime), text(machineOs.lastBootUpTime));
    // machine: user 10000 + nice 500; system 3000 + irq 100 + softirq 200; idle 80000 + iowait 400.
    EXPECT_EQ(baseline.percentUserTime, 10500u);
    EXPECT_EQ(baseline.percentPrivilegedTime, 3300u);
    EXPECT_EQ(baseline.timeStampSys100NS, 94200u);
    // load-after: 950 of 2000 ticks busy since.
    EXPECT_EQ(current.percentUserTime - baseline.percentUserTime, 700u);
    EXPECT_EQ(current.percentPrivilegedTime - baseline.percentPrivilegedTime, 250u);
    EXPECT_EQ(current.timeStampSys100NS - baseline.timeStampSys100NS, 2000u);
}

// --- the BIOS serial number --------------------------------------------------------------------

// Run as a user of its own, the agent cannot read product_serial (the fixture has none); the copy
// systemd hands in as a credential fills the field.
TEST(LinuxProbesTest, SerialNumberComesFromTheCredentialWhenTheFileIsUnreadable) {
    auto state = std::make_unique<SessionState>();
    state->root = kMachine;
    state->credentials = kFixtures + "/credentials";
    Session machine(std::move(state));
    BiosInfo bios;
    ASSERT_EQ(queryBios(bios, machine), 1);
    EXPECT_EQ(text(bios.serialNumber), "QV-4711-SERIAL");
    EXPECT_EQ(text(bios.manufacturer), "SeaBIOS");
}

// --- a tree with nothing in it -----------------------------------------------------------------

TEST(LinuxProbesTest, UnreadableTreeFailsTheProbesAndKeepsTheirDestinations) {
    Session missing = sessionOver(kMissing);
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
    // Firmware and names may simply not be exposed: the probe succeeds and keeps those fields.
    BiosInfo bios;
    setTextField(bios.name, u"kept");
    EXPECT_EQ(queryBios(bios, missing), 1);
    EXPECT_EQ(text(bios.name), "kept");
    MemoryInfo memory;
    memory.ullTotalPhys = 1;
    queryMemoryStatus(memory, missing);
    EXPECT_EQ(memory.ullTotalPhys, 0u);
}

}  // namespace
}  // namespace quorvane
