// The Linux back end on the machine the tests run on, checked against other sources of the
// same facts.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "MemoryStatus.h"
#include "SystemFiles.h"
#include "platform/Session.h"
#include "snapshot/Probes.h"

namespace quorvane {
namespace {

std::string text(const TextField& field) {
    return textFieldToUtf8(field);
}

class LiveLinuxTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(session.open()); }
    void TearDown() override { session.close(); }

    Session session;
};

TEST_F(LiveLinuxTest, LogicalProcessorsAddUpToTheOnlineProcessors) {
    std::vector<ProcessorInfo> processors;
    ASSERT_GE(queryProcessors(processors, session), 1);
    std::uint32_t logical = 0;
    for (const ProcessorInfo& processor : processors) {
        logical += processor.numberOfLogicalProcessors;
        EXPECT_GE(processor.numberOfLogicalProcessors, processor.numberOfCores);
    }
    EXPECT_EQ(logical, static_cast<std::uint32_t>(sysconf(_SC_NPROCESSORS_ONLN)));
    EXPECT_LE(std::thread::hardware_concurrency(), logical);
}

TEST_F(LiveLinuxTest, RootFileSystemMatchesStatvfs) {
    DiskTable disks;
    ASSERT_GE(queryLogicalDisks(disks, session), 0);
    const DiskInfo* root = nullptr;
    for (const DiskInfo& disk : disks) {
        if (disk.inUse && text(disk.deviceId) == "/") {
            root = &disk;
        }
    }
    if (root == nullptr) {
        GTEST_SKIP() << "\"/\" is not a block-device file system here (container overlay?)";
    }
    struct statvfs stats {};
    ASSERT_EQ(statvfs("/", &stats), 0);
    const std::uint64_t size = static_cast<std::uint64_t>(stats.f_blocks) * stats.f_frsize;
    const std::uint64_t available = static_cast<std::uint64_t>(stats.f_bavail) * stats.f_frsize;
    EXPECT_EQ(root->size, size);
    // Other processes write meanwhile; a gigabyte is far more than they could between the calls.
    const std::uint64_t slack = 1ull << 30;
    EXPECT_LE(root->freeSpace, available + slack);
    EXPECT_GE(root->freeSpace + slack, available);
    EXPECT_EQ(root->driveType, 3u);
    EXPECT_GT(textFieldLength(root->fileSystem), 0u);
}

TEST_F(LiveLinuxTest, TotalMemoryMatchesSysinfo) {
    struct sysinfo info {};
    ASSERT_EQ(sysinfo(&info), 0);
    MemoryInfo memory;
    queryMemoryStatus(memory, session);
    EXPECT_EQ(memory.ullTotalPhys, static_cast<std::uint64_t>(info.totalram) * info.mem_unit);
    EXPECT_LE(memory.ullAvailPhys, memory.ullTotalPhys);
    EXPECT_LE(memory.dwMemoryLoad, 100u);
    EXPECT_GE(memory.ullTotalPageFile, memory.ullTotalPhys);
    EXPECT_GT(memory.ullTotalVirtual, memory.ullAvailVirtual);
}

TEST_F(LiveLinuxTest, KernelReleaseAndBootTime) {
    OperatingSystemInfo os;
    ASSERT_EQ(queryOperatingSystem(os, session), 1);
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(text(os.version), names.release);
    EXPECT_EQ(textFieldLength(os.lastBootUpTime), 25u);
    EXPECT_EQ(textFieldLength(os.localDateTime), 25u);
    // Boot time from sysinfo's uptime, against the year and day of the CIM text.
    struct sysinfo info {};
    ASSERT_EQ(sysinfo(&info), 0);
    const std::time_t boot = std::time(nullptr) - info.uptime;
    std::tm local{};
    localtime_r(&boot, &local);
    char expected[16];
    std::strftime(expected, sizeof expected, "%Y%m%d", &local);
    EXPECT_EQ(text(os.lastBootUpTime).substr(0, 8), expected);
}

TEST_F(LiveLinuxTest, HostNameIsTheKernelsFirstLabel) {
    ComputerSystemInfo computer;
    ASSERT_EQ(queryComputerSystem(computer, session), 1);
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const std::string name(host);
    EXPECT_EQ(text(computer.name), name.substr(0, name.find('.')));
}

// Busy time never outruns the time stamp, however short the interval: many intervals of 2 ms,
// each shorter than a tick of some processor, busy all the while.
TEST_F(LiveLinuxTest, CountersNeverExceedTheElapsedTime) {
    CpuTimesSample first;
    ASSERT_EQ(queryCpuTimes(session, first), 1);
    CpuTimesSample previous = first;
    for (int interval = 0; interval < 50; ++interval) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
        volatile std::uint64_t spin = 0;
        while (std::chrono::steady_clock::now() < until) {
            spin = spin + 1;
        }
        CpuTimesSample next;
        ASSERT_EQ(queryCpuTimes(session, next), 1);
        ASSERT_GE(next.percentUserTime, previous.percentUserTime);
        ASSERT_GE(next.percentPrivilegedTime, previous.percentPrivilegedTime);
        const std::uint64_t busy = (next.percentUserTime - previous.percentUserTime) +
                                   (next.percentPrivilegedTime - previous.percentPrivilegedTime);
        ASSERT_LE(busy, next.timeStampSys100NS - previous.timeStampSys100NS) << interval;
        previous = next;
    }
    // 100 ms of work counted, at least in part.
    EXPECT_GT(previous.timeStampSys100NS, first.timeStampSys100NS);
    EXPECT_GT(previous.percentUserTime + previous.percentPrivilegedTime,
              first.percentUserTime + first.percentPrivilegedTime);
}

// A /proc file kept open must still show the present, not what it said when it was opened.
TEST(OpenProcFilesTest, KeptFileShowsTheProcessAsItIsNow) {
    OpenProcFiles open;
    const auto before = open.read("/proc/self/status");
    ASSERT_TRUE(before);
    constexpr std::size_t kReserved = 256u << 20;
    void* reserved =
        mmap(nullptr, kReserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(reserved, MAP_FAILED);
    const auto after = open.read("/proc/self/status");
    munmap(reserved, kReserved);
    ASSERT_TRUE(after);
    EXPECT_GE(parseVmSize(*after).value_or(0), parseVmSize(*before).value_or(0) + kReserved);
}

// The mount table is read again only when the kernel reports a change, so a mount and an unmount
// must both be seen. Done in a child with a mount namespace of its own, so the machine's table is
// never touched.
TEST(OpenProcFilesTest, MountTableShowsEveryMountAndUnmount) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting needs root";
    }
    char directory[] = "/tmp/quorvane-mount-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string mountPoint = std::string(" ") + directory + " ";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0) {
            _exit(10);
        }
        // EINVAL: "/" is not a mount point (a chroot into a plain directory), so the mounts below
        // cannot be kept private to this process.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            _exit(errno == EINVAL ? 15 : 10);
        }
        OpenProcFiles open;
        auto shows = [&open, &mountPoint] {
            const auto table = open.readMountTable("/proc/self/mountinfo");
            return table && table->find(mountPoint) != std::string::npos;
        };
        if (shows()) {
            _exit(11);
        }
        if (mount("tmpfs", directory, "tmpfs", 0, "size=1m") != 0) {
            _exit(12);
        }
        const bool mounted = shows() && shows();
        umount(directory);
        _exit(!mounted ? 13 : shows() ? 14 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    rmdir(directory);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 15) {
        GTEST_SKIP() << "/ is not a mount point here (a chroot?), so a private mount namespace "
                        "cannot be set up for the test mount";
    }
    // 10: no private mount namespace; 11: shown before the mount; 12: the tmpfs not mounted;
    // 13: the mount not seen; 14: the unmount not seen.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(LiveSessionTest, ClosedSessionFailsEveryProbe) {
    Session session;
    BiosInfo bios;
    EXPECT_EQ(queryBios(bios, session), -1);
    ASSERT_TRUE(session.open());
    EXPECT_EQ(queryBios(bios, session), 1);
    session.close();
    session.close();
    CpuTimesSample sample;
    EXPECT_EQ(queryCpuTimes(session, sample), -1);
}

}  // namespace
}  // namespace quorvane
