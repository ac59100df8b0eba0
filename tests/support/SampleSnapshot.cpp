#include "SampleSnapshot.h"

#include "snapshot/SystemSnapshot.h"

namespace quorvane {

void populateSampleServer(SystemSnapshot& snapshot) {
    Poco::FastMutex::ScopedLock lock(snapshotMutex);
    setTextField(snapshot.operatingSystem.version, u"10.0.19045");
    setTextField(snapshot.operatingSystem.lastBootUpTime, u"20261201081530.125000+060");
    setTextField(snapshot.operatingSystem.localDateTime, u"20261209101112.500000+060");
    setTextField(snapshot.bios.name, u"Default System BIOS");
    setTextField(snapshot.bios.manufacturer, u"American Megatrends Inc.");
    setTextField(snapshot.bios.serialNumber, u"System Serial Number");
    setTextField(snapshot.bios.smbiosBiosVersion, u"1.21.0");
    setTextField(snapshot.bios.version, u"ALASKA - 1072009");
    setTextField(snapshot.computerSystem.name, u"BUILD-SERVER-07");
    setTextField(snapshot.computerSystem.domain, u"corp.example.net");
    setTextField(snapshot.computerSystem.model, u"PowerEdge R640");
    setTextField(snapshot.computerSystem.manufacturer, u"Dell Inc.");
    setTextField(snapshot.computerSystem.primaryOwnerName, u"Operations & Support <ops>");
    snapshot.processors.assign(8, ProcessorInfo{});
    for (std::size_t i = 0; i < snapshot.processors.size(); ++i) {
        ProcessorInfo& processor = snapshot.processors[i];
        setTextField(processor.deviceId,
                     u"CPU" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
        setTextField(processor.caption, u"Intel64 Family 6 Model 85 Stepping 4");
        setTextField(processor.manufacturer, u"GenuineIntel");
        setTextField(processor.name, u"Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz");
        setTextField(processor.version, u"");
        processor.maxClockSpeed = 2095;
        processor.numberOfCores = 16;
        processor.numberOfLogicalProcessors = 32;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        DiskInfo& disk = snapshot.disks[i];
        disk.inUse = 1;
        setTextField(disk.deviceId, std::u16string(1, static_cast<char16_t>(u'C' + i)) + u":");
        disk.driveType = 3;
        disk.size = 511705624576ull;
        disk.freeSpace = 123456789012ull;
        setTextField(disk.volumeName, u"Données système");
        setTextField(disk.fileSystem, u"NTFS");
    }
    for (std::size_t i = 0; i < kCpuHistoryLength; ++i) {
        snapshot.cpuUsageHistory[i] = static_cast<std::int32_t>((i * 37) % 101);
    }
    snapshot.cpuUsageIndex = 57;
    snapshot.memory = MemoryInfo{41,
                                 68719476736ull,
                                 40532983808ull,
                                 78919476736ull,
                                 50532983808ull,
                                 140737488224256ull,
                                 140700000000000ull,
                                 0};
}

}  // namespace quorvane
