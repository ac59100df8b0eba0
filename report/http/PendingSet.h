// The connections the front door holds, by client address: heads still coming, complete requests
// waiting for a connection thread, and answered connections being drained before they close.
// Every operation costs the same however many are held: counts are kept as connections come and
// go, never counted again.
#pragma once

#include <chrono>
#include <cstddef>
#include <unordered_map>
#include <vector>

#include "platform/SocketWatch.h"

namespace quorvane {

// Links of an intrusive list, so that an entry leaves its lists without a search.
template <typename T>
struct Links {
    T* prev = nullptr;
    T* next = nullptr;
};

template <typename T, Links<T> T::*member>
class Chain {
  public:
    T* front() const { return first_; }
    bool empty() const { return first_ == nullptr; }

    void pushBack(T* item) {
        Links<T>& links = item->*member;
        links.prev = last_;
        links.next = nullptr;
        (last_ != nullptr ? (last_->*member).next : first_) = item;
        last_ = item;
    }

    void remove(T* item) {
        Links<T>& links = item->*member;
        (links.prev != nullptr ? (links.prev->*member).next : first_) = links.next;
        (links.next != nullptr ? (links.next->*member).prev : last_) = links.prev;
        links = Links<T>{};
    }

  private:
    T* first_ = nullptr;
    T* last_ = nullptr;
};

struct PendingEntry {
    enum class State : unsigned char { head, waiting, lingering };

    PeerAddress peer;
    State state = State::head;
    // A head's from its accept, a lingering connection's from its response.
    std::chrono::steady_clock::time_point deadline;

    Links<PendingEntry> inState;    // all heads, or all lingering, in order of arrival
    Links<PendingEntry> ofAddress;  // its address's heads, waiting requests or lingering
    struct PendingAddress* address = nullptr;
};

struct PendingAddress {
    PeerAddress key;
    std::size_t count = 0;  // entries of every state
    Chain<PendingEntry, &PendingEntry::ofAddress> heads, waiting, lingering;
    Links<PendingAddress> rank;  // among the addresses holding `count` entries
    Links<PendingAddress> turn;  // among the addresses with requests waiting
};

class PendingSet {
  public:
    std::size_t size() const { return size_; }
    std::size_t waiting() const { return waiting_; }

    // `entry.peer` set; the set does not own the entry.
    void addHead(PendingEntry& entry, std::chrono::steady_clock::time_point deadline);
    void addLingering(PendingEntry& entry, std::chrono::steady_clock::time_point deadline);
    // A head that has come whole, to wait for its turn.
    void headComplete(PendingEntry& entry);
    void remove(PendingEntry& entry);

    // The waiting request whose turn it is, taken out of the set: addresses take turns, one
    // request each, in the order they first had one waiting; an address's own in arrival
    // order. Null when none waits.
    PendingEntry* takeNextTurn();

    // Oldest first, for their deadlines.
    PendingEntry* oldestHead() const { return allHeads_.front(); }
    PendingEntry* oldestLingering() const { return allLingering_.front(); }

    // What to give up to make room: of the address holding the most (of those tied, the one
    // that got there first), its oldest lingering connection (answered already), else its
    // oldest head, else its oldest waiting request. Null when the set is empty.
    PendingEntry* candidateToGiveUp() const;

  private:
    using AddressChain = Chain<PendingAddress, &PendingAddress::rank>;
    struct Hash {
        std::size_t operator()(const PeerAddress& address) const;
    };

    void add(PendingEntry& entry);
    void rank(PendingAddress& address, std::size_t from, std::size_t to);

    std::unordered_map<PeerAddress, PendingAddress, Hash> addresses_;
    std::vector<AddressChain> byCount_;  // [n]: the addresses holding n entries
    std::size_t most_ = 0;
    Chain<PendingEntry, &PendingEntry::inState> allHeads_, allLingering_;
    Chain<PendingAddress, &PendingAddress::turn> turns_;
    std::size_t size_ = 0;
    std::size_t waiting_ = 0;
};

}  // namespace quorvane
