// The version resource as GetFileVersionInfoW copies it into a block; its values are looked up
// with VerQueryValueW. The agent reads its own executable's block this way.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/AgentIdentity.h"

namespace quorvane {

// Never reads beyond the block, whatever length a query reports.
std::unique_ptr<VersionResource> versionResourceFromBlock(std::vector<std::uint8_t> block);

}  // namespace quorvane
