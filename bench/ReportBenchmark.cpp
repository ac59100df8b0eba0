// In-process costs on the Linux back end: one report document and one refresh cycle. The times
// Google Benchmark prints as "CPU" are the calling thread's CPU time, kernel time included.
#include <benchmark/benchmark.h>

#include <string>

#include "WmiSession.h"
#include "report/ReportOperations.h"
#include "report/StatusReport.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {
namespace {

// The data a typical small server shows, for a document of realistic size whatever the back end
// collects: 8 processors, 4 disks, a full load history.
void populate(SystemSnapshot& snapshot) {
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

class LinuxBackEnd {
  public:
    LinuxBackEnd() {
        session.open();
        refreshSnapshot(snapshot);  // the first refresh also takes the inventory
        refreshSnapshot(snapshot);
    }
    ~LinuxBackEnd() { session.close(); }

    WmiSession session;
    SystemSnapshot snapshot{session};
};

void renderLoop(benchmark::State& state, SystemSnapshot& snapshot) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string document = renderStatusReport(snapshot);
        bytes = document.size();
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["doc_bytes"] = static_cast<double>(bytes);
}

// One report as the handler produces it: lock, clock, the eight report-time operations, the
// document bytes.
void BM_Report_WhatThisMachineCollects(benchmark::State& state) {
    LinuxBackEnd backEnd;
    renderLoop(state, backEnd.snapshot);
}
BENCHMARK(BM_Report_WhatThisMachineCollects)->Unit(benchmark::kMicrosecond);

void BM_Report_Populated8Cpus4Disks(benchmark::State& state) {
    LinuxBackEnd backEnd;
    populate(backEnd.snapshot);
    renderLoop(state, backEnd.snapshot);
}
BENCHMARK(BM_Report_Populated8Cpus4Disks)->Unit(benchmark::kMicrosecond);

// The part of one report that the platform layer answers: the report-time operations alone.
void BM_ReportTimeOperationsOnly(benchmark::State& state) {
    LinuxBackEnd backEnd;
    Poco::FastMutex::ScopedLock lock(snapshotMutex);
    for (auto _ : state) {
        benchmark::DoNotOptimize(agentVersionString(backEnd.snapshot));
        benchmark::DoNotOptimize(agentDescription(backEnd.snapshot));
        benchmark::DoNotOptimize(agentCopyright(backEnd.snapshot));
        benchmark::DoNotOptimize(agentEdition(backEnd.snapshot));
        benchmark::DoNotOptimize(windowsServicePack());
        benchmark::DoNotOptimize(windowsProductName());
        benchmark::DoNotOptimize(windowsFullName());
        benchmark::DoNotOptimize(systemUptimeSeconds());
        benchmark::DoNotOptimize(currentLocalTimeText());
    }
}
BENCHMARK(BM_ReportTimeOperationsOnly)->Unit(benchmark::kMicrosecond);

// One timer tick: the periodic probes (operating system, disks, memory, processor times).
void BM_Refresh_Periodic(benchmark::State& state) {
    LinuxBackEnd backEnd;
    for (auto _ : state) {
        refreshSnapshot(backEnd.snapshot);
    }
    benchmark::DoNotOptimize(backEnd.snapshot.refreshCount);
}
BENCHMARK(BM_Refresh_Periodic)->Unit(benchmark::kMicrosecond);

// The start-up refresh, which also takes BIOS, computer system and processors.
void BM_Refresh_First(benchmark::State& state) {
    WmiSession session;
    session.open();
    for (auto _ : state) {
        SystemSnapshot snapshot(session);
        refreshSnapshot(snapshot);
        benchmark::DoNotOptimize(snapshot.refreshCount);
    }
    session.close();
}
BENCHMARK(BM_Refresh_First)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorvane

BENCHMARK_MAIN();
