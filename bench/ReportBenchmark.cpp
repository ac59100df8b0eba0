// In-process costs on the Linux back end: one report document and one refresh cycle. The times
// Google Benchmark prints as "CPU" are the calling thread's CPU time, kernel time included.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/ReportOperations.h"
#include "platform/Session.h"
#include "report/StatusReport.h"
#include "snapshot/SystemSnapshot.h"
#include "support/SampleSnapshot.h"

namespace quorvane {
namespace {

class LinuxBackEnd {
  public:
    LinuxBackEnd() {
        session.open();
        refreshSnapshot(snapshot);  // the first refresh also takes the inventory
        refreshSnapshot(snapshot);
    }
    ~LinuxBackEnd() { session.close(); }

    Session session;
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
    populateSampleServer(backEnd.snapshot);
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
    Session session;
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
