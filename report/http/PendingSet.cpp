#include "PendingSet.h"

namespace quorvane {

std::size_t PendingSet::Hash::operator()(const PeerAddress& address) const {
    // FNV-1a over the address bytes.
    std::size_t hash = 14695981039346656037ull & static_cast<std::size_t>(-1);
    for (std::size_t i = 0; i < address.length; ++i) {
        hash = (hash ^ address.bytes[i]) * (1099511628211ull & static_cast<std::size_t>(-1));
    }
    return hash;
}

void PendingSet::rank(PendingAddress& address, std::size_t from, std::size_t to) {
    if (from > 0) {
        byCount_[from].remove(&address);
    }
    if (to > 0) {
        if (byCount_.size() <= to) {
            byCount_.resize(to + 1);
        }
        byCount_[to].pushBack(&address);
    }
    if (to > most_) {
        most_ = to;
    }
    while (most_ > 0 && byCount_[most_].empty()) {
        --most_;
    }
}

void PendingSet::add(PendingEntry& entry) {
    PendingAddress& address = addresses_[entry.peer];
    address.key = entry.peer;
    entry.address = &address;
    rank(address, address.count, address.count + 1);
    ++address.count;
    ++size_;
}

void PendingSet::addHead(PendingEntry& entry, std::chrono::steady_clock::time_point deadline) {
    entry.state = PendingEntry::State::head;
    entry.deadline = deadline;
    add(entry);
    entry.address->heads.pushBack(&entry);
    allHeads_.pushBack(&entry);
}

void PendingSet::addLingering(PendingEntry& entry, std::chrono::steady_clock::time_point deadline) {
    entry.state = PendingEntry::State::lingering;
    entry.deadline = deadline;
    add(entry);
    entry.address->lingering.pushBack(&entry);
    allLingering_.pushBack(&entry);
}

void PendingSet::headComplete(PendingEntry& entry) {
    PendingAddress& address = *entry.address;
    address.heads.remove(&entry);
    allHeads_.remove(&entry);
    entry.state = PendingEntry::State::waiting;
    if (address.waiting.empty()) {
        turns_.pushBack(&address);
    }
    address.waiting.pushBack(&entry);
    ++waiting_;
}

void PendingSet::remove(PendingEntry& entry) {
    PendingAddress& address = *entry.address;
    switch (entry.state) {
        case PendingEntry::State::head:
            address.heads.remove(&entry);
            allHeads_.remove(&entry);
            break;
        case PendingEntry::State::waiting:
            address.waiting.remove(&entry);
            if (address.waiting.empty()) {
                turns_.remove(&address);
            }
            --waiting_;
            break;
        case PendingEntry::State::lingering:
            address.lingering.remove(&entry);
            allLingering_.remove(&entry);
            break;
    }
    entry.address = nullptr;
    rank(address, address.count, address.count - 1);
    --address.count;
    --size_;
    if (address.count == 0) {
        addresses_.erase(address.key);
    }
}

PendingEntry* PendingSet::takeNextTurn() {
    PendingAddress* address = turns_.front();
    if (address == nullptr) {
        return nullptr;
    }
    PendingEntry* entry = address->waiting.front();
    if (entry->ofAddress.next != nullptr) {
        // More of its own wait: its next turn comes after every other address's.
        turns_.remove(address);
        turns_.pushBack(address);
    }
    remove(*entry);  // the last one waiting takes its address out of the turns
    return entry;
}

PendingEntry* PendingSet::candidateToGiveUp() const {
    if (most_ == 0) {
        return nullptr;
    }
    const PendingAddress& address = *byCount_[most_].front();
    if (!address.lingering.empty()) {
        return address.lingering.front();
    }
    if (!address.heads.empty()) {
        return address.heads.front();
    }
    return address.waiting.front();
}

}  // namespace quorvane
