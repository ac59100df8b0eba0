// What the Windows back end names the system from: the version record and the product type. The
// report-time operations read them on every call; the back end's tests hold them to the system's
// own answers.
#pragma once

#include <cstdint>

#include "platform/VersionNaming.h"

namespace quorvane {

// A fresh record from GetVersionExW. Its result is not tested: on failure the record stays
// zero-filled but for its size, which names the system "Unknown" with no service pack.
VersionInfoRecord readVersionInfo();

// GetProductInfo, looked up at run time: systems before Vista do not have it. A missing module,
// a missing entry point or a failed call all give 0.
std::uint32_t queryProductType(std::uint32_t majorVersion, std::uint32_t minorVersion,
                               std::uint32_t servicePackMajor, std::uint32_t servicePackMinor);

}  // namespace quorvane
