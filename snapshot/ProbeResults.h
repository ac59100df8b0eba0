// How a probe stores what it found: the rules every back end follows, written once.
//
// - A probe that cannot reach its data returns -1 before it calls anything here, so its
//   destination keeps what it had (the previous refresh's disks, the processor list).
// - Only a successful query empties the processor list or the disk slots.
// - At most kMaxDisks disks are stored; the source is not asked for another once they are full.
// - Text is cut at kTextFieldLength units (setTextField, setTextFieldFromUtf8).
#pragma once

#include <vector>

#include "SystemSnapshot.h"

namespace quorvane {

// Empties the list, then appends one processor for every call of `next(ProcessorInfo&)` that
// returns true; each starts with every text empty and every number 0. Returns the count.
template <typename Next>
int storeProcessors(std::vector<ProcessorInfo>& processors, Next&& next) {
    // Collected apart and put in place at the end, so the list holds exactly what this walk found.
    std::vector<ProcessorInfo> found;
    ProcessorInfo processor;
    while (next(processor)) {
        found.push_back(processor);
        processor = ProcessorInfo{};
    }
    processors.swap(found);
    return static_cast<int>(processors.size());
}

// Empties every slot, then fills slots 0, 1, ... for every call of `next(DiskInfo&)` that returns
// true, and stops asking once kMaxDisks slots are filled. A slot delivered is in use whatever its
// other fields turn out to be. Returns the number of disks stored.
template <typename Next>
int storeDisks(DiskTable& disks, Next&& next) {
    disks.fill(DiskInfo{});
    std::size_t count = 0;
    while (count < kMaxDisks && next(disks[count])) {
        disks[count].inUse = 1;
        ++count;
    }
    // A slot the source wrote into before it said there was no further disk stays empty.
    if (count < kMaxDisks) {
        disks[count] = DiskInfo{};
    }
    return static_cast<int>(count);
}

}  // namespace quorvane
