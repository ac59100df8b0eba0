// How a probe stores what it found: the rules every back end follows, written once.
//
// - A probe that cannot reach its data returns -1 before it calls anything here, so its
//   destination keeps what it had (the previous refresh's disks, the processor list).
// - Only a successful query empties the disk slots or replaces the processor list; a processor
//   walk cut short (a time-out part-way) leaves the list as it was.
// - At most kMaxDisks disks are stored; the source is not asked for another once they are full.
// - Text is cut at kTextFieldLength units (setTextField, setTextFieldFromUtf8).
#pragma once

#include <utility>
#include <vector>

#include "SystemSnapshot.h"

namespace quorvane {

// Appends one processor for every call of `next(ProcessorInfo&)` that returns true; each starts
// with every text empty and every number 0. When the walk is over, `complete()` tells whether it
// reached the end of the source: only then does the list take what was found (count returned);
// a walk cut short is no processor list (-1, list untouched).
template <typename Next, typename Complete>
int storeProcessors(std::vector<ProcessorInfo>& processors, Next&& next, Complete&& complete) {
    std::vector<ProcessorInfo> found;
    ProcessorInfo processor;
    while (next(processor)) {
        found.push_back(processor);
        processor = ProcessorInfo{};
    }
    if (!complete()) {
        return -1;
    }
    processors.swap(found);
    return static_cast<int>(processors.size());
}

// For a source whose walk always reaches its end.
template <typename Next>
int storeProcessors(std::vector<ProcessorInfo>& processors, Next&& next) {
    return storeProcessors(processors, std::forward<Next>(next), [] { return true; });
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
