// What the platform layer offers the report while it is made: the agent's identity, the system's
// names and its uptime. Each returns a value in every case (a fallback text, an empty string or 0)
// and none throws.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

struct SystemSnapshot;

// Called once each per report, in this order, while snapshotMutex is held. The agent
// operations may fill the snapshot's cached identity strings.
std::string agentVersionString(SystemSnapshot& snapshot);
std::string agentDescription(SystemSnapshot& snapshot);
std::string agentCopyright(SystemSnapshot& snapshot);
std::string agentEdition(SystemSnapshot& snapshot);
std::u16string windowsServicePack();
std::u16string windowsProductName();
std::u16string windowsFullName();
std::uint64_t systemUptimeSeconds();

// The "type" of the "os" element: "windows" or "linux", after the platform layer built in.
std::string operatingSystemType();

}  // namespace quorvane
