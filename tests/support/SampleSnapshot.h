// A snapshot as a typical small server shows it: 8 processors, 4 disks, a full load history.
// Used where a document of realistic size matters more than what this machine collects.
#pragma once

namespace quorvane {

struct SystemSnapshot;

// Fills the snapshot under snapshotMutex.
void populateSampleServer(SystemSnapshot& snapshot);

}  // namespace quorvane
