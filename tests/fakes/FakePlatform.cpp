#include "FakePlatform.h"

#include <stdexcept>

#include "platform/ReportOperations.h"
#include "platform/Session.h"
#include "snapshot/Probes.h"

namespace quorvane {

namespace fake {

ProbeState& probes() {
    static ProbeState state;
    return state;
}

ReportState& reportValues() {
    static ReportState state;
    return state;
}

void reset() {
    probes() = ProbeState{};
    reportValues() = ReportState{};
}

}  // namespace fake

// A session with nothing behind it: the fake probes never look inside.
struct SessionState {};
Session::Session() = default;
Session::Session(std::unique_ptr<SessionState> state) : state_(std::move(state)) {}
Session::~Session() = default;
bool Session::open() {
    state_ = std::make_unique<SessionState>();
    return true;
}
bool Session::retryOpen() {
    auto& state = fake::probes();
    ++state.sessionRetries;
    if (state.duringSessionRetry) {
        state.duringSessionRetry();
    }
    return state_ != nullptr;
}
void Session::close() {
    state_.reset();
}

namespace {

int inventoryResult(int calls, int failures) {
    return calls <= failures ? -1 : 0;
}

}  // namespace

int queryBios(BiosInfo&, Session&) {
    auto& state = fake::probes();
    return inventoryResult(++state.biosCalls, state.biosFailures);
}

int queryComputerSystem(ComputerSystemInfo&, Session&) {
    auto& state = fake::probes();
    return inventoryResult(++state.computerSystemCalls, state.computerSystemFailures);
}

int queryProcessors(std::vector<ProcessorInfo>&, Session&) {
    auto& state = fake::probes();
    return inventoryResult(++state.processorCalls, state.processorFailures);
}

int queryOperatingSystem(OperatingSystemInfo&, Session&) {
    ++fake::probes().operatingSystemCalls;
    if (fake::probes().duringRefresh) {
        fake::probes().duringRefresh();
    }
    return -1;
}

int queryLogicalDisks(DiskTable&, Session&) {
    ++fake::probes().diskCalls;
    return -1;
}

void queryMemoryStatus(MemoryInfo&, Session&) {
    ++fake::probes().memoryCalls;
}

int queryCpuTimes(Session&, CpuTimesSample& sample) {
    auto& state = fake::probes();
    ++state.cpuTimesCalls;
    if (state.cpuTimesCalls <= state.cpuTimesFailures || state.cpuSamples.empty()) {
        return -1;
    }
    sample = state.cpuSamples.front();
    state.cpuSamples.pop_front();
    return 1;
}

std::string agentVersionString(SystemSnapshot&) {
    fake::reportValues().calls.push_back("agentVersionString");
    return fake::reportValues().agentVersion;
}

std::string agentDescription(SystemSnapshot&) {
    fake::reportValues().calls.push_back("agentDescription");
    return fake::reportValues().agentDescription;
}

std::string agentCopyright(SystemSnapshot&) {
    fake::reportValues().calls.push_back("agentCopyright");
    return fake::reportValues().agentCopyright;
}

std::string agentEdition(SystemSnapshot&) {
    fake::reportValues().calls.push_back("agentEdition");
    return fake::reportValues().agentEdition;
}

std::u16string windowsServicePack() {
    fake::reportValues().calls.push_back("windowsServicePack");
    return fake::reportValues().servicePack;
}

std::u16string windowsProductName() {
    fake::reportValues().calls.push_back("windowsProductName");
    return fake::reportValues().productName;
}

std::u16string windowsFullName() {
    fake::reportValues().calls.push_back("windowsFullName");
    return fake::reportValues().fullName;
}

std::uint64_t systemUptimeSeconds() {
    fake::reportValues().calls.push_back("systemUptimeSeconds");
    if (fake::reportValues().throwFromUptime) {
        throw std::runtime_error("uptime unavailable");
    }
    return fake::reportValues().uptime;
}

std::string operatingSystemType() {
    return fake::reportValues().operatingSystemType;
}

}  // namespace quorvane
