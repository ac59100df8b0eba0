// Linux stand-in for the agent's version resource: the fixed product version and the four string
// values that the build compiled in from the CMake project's metadata.
#pragma once

#include "platform/AgentIdentity.h"

namespace quorvane {

class EmbeddedVersionResourceReader : public VersionResourceReader {
  public:
    std::unique_ptr<VersionResource> read() override;
};

}  // namespace quorvane
