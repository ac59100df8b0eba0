#include <gtest/gtest.h>

#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponseImpl.h>
#include <Poco/Net/HTTPServerSession.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/StreamSocketImpl.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "report/http/PendingSet.h"
#include "report/http/RequestHead.h"

namespace quorvane {
namespace {

// A connection that has sent `bytes` and nothing more: records whether the reader asked for a
// byte beyond them, which on a real connection is where it would wait for the client.
class SentSoFarSocketImpl : public Poco::Net::StreamSocketImpl {
  public:
    SentSoFarSocketImpl(const std::string& bytes, bool& wanted)
        : StreamSocketImpl(Poco::Net::SocketAddress::IPv4), bytes(bytes), wanted(wanted) {}

    using StreamSocketImpl::receiveBytes;
    int receiveBytes(void* buffer, int length, int) override {
        if (position == bytes.size()) {
            wanted = true;
            return 0;
        }
        const std::size_t count =
            std::min(bytes.size() - position, static_cast<std::size_t>(length));
        std::memcpy(buffer, bytes.data() + position, count);
        position += count;
        return static_cast<int>(count);
    }
    Poco::Net::SocketAddress peerAddress() override { return {"127.0.0.1", 1}; }
    Poco::Net::SocketAddress address() override { return {"127.0.0.1", 2}; }

  private:
    const std::string bytes;
    std::size_t position = 0;
    bool& wanted;
};

// POCO's own server reading a request from those bytes: true when it would wait.
bool pocoWaits(const std::string& bytes) {
    bool wanted = false;
    Poco::Net::StreamSocket socket(new SentSoFarSocketImpl(bytes, wanted));
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    Poco::Net::HTTPServerSession session(socket, params);
    Poco::Net::HTTPServerResponseImpl response(session);
    try {
        Poco::Net::HTTPServerRequestImpl request(response, session, params);
    } catch (const Poco::Exception&) {
        // malformed: answered at once
    }
    return wanted;
}

// How many bytes of `bytes` POCO needs before it reads the request without waiting
// (more than all when it would still wait). Waiting ends for good once it ends, so a binary
// search finds it.
std::size_t pocoNeeds(const std::string& bytes) {
    std::size_t low = 0, high = bytes.size() + 1;
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (middle <= bytes.size() && !pocoWaits(bytes.substr(0, middle))) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// The same for the scanner, fed a byte at a time as a trickling client would send them.
std::size_t scannerNeeds(const std::string& bytes) {
    RequestHeadScanner scanner;
    std::string received;
    for (std::size_t length = 0;; ++length) {
        if (scanner.complete(received) || length > bytes.size()) {
            return length;
        }
        if (length < bytes.size()) {
            received.push_back(bytes[length]);
        }
    }
}

void expectCompleteAtTheSameByte(const std::string& bytes) {
    EXPECT_EQ(scannerNeeds(bytes), pocoNeeds(bytes))
        << testing::PrintToString(bytes.substr(0, 80)) << " (" << bytes.size() << " bytes)";
}

TEST(RequestHeadTest, CompleteExactlyWhenTheDependencyWouldReadWithoutWaiting) {
    const std::vector<std::string> samples = {
        "GET /getdata HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n",
        "GET / HTTP/1.0\n\n",
        "\r\n\r\nGET / HTTP/1.1\r\n\r\n",
        "GET\r\n/\r\nHTTP/1.1\r\n\r\n",          // line ends count as spaces in the request line
        "GET\r\n\r\nX",                          // waits for a target
        "GET /\r\n\r\n",                         // waits for a version
        "GET /x\r\nHost: x\r\n\r\n",             // "Host:" read as the version
        "GET / HTTP/1.1\r\nX\nHost: y\r\n\r\n",  // a two-byte line ends the head early
        "GET / HTTP/1.1\r\nno colon here\r\nHost: y\r\n\r\n",
        "GET / HTTP/1.1\r\nX-Folded: a\r\n  b\r\n\tc\r\n\r\n",
        "GET / HTTP/1.1\r\n: empty name\r\n\r\n",
        "GET / HTTP/1.1\r\nA:\rB\r\n\r\n",
        "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n",
        "GET / HTTP/1.1 trailing words\r\n\r\n",
        "GET / HTTP/1.10\r\n\r\n",
    };
    for (const auto& sample : samples) {
        expectCompleteAtTheSameByte(sample);
    }

    // Each limit, at it and one past it: the line of 4092 bytes, the method of 32, the target of
    // 16384, the version of 8, the name of 256, the value of 8192 (continuation lines count
    // towards it, a tab starts one as well as a space), 100 fields.
    const std::string start = "GET / HTTP/1.1\r\n";
    const std::string end = "\r\n\r\n";
    expectCompleteAtTheSameByte(std::string(5000, 'M'));
    for (const std::size_t extra : {0, 1}) {
        expectCompleteAtTheSameByte(std::string(32 + extra, 'M') + " / HTTP/1.1" + end);
        expectCompleteAtTheSameByte("GET /" + std::string(16383 + extra, 'a') + " HTTP/1.1" + end);
        expectCompleteAtTheSameByte("GET / HTTP/1." + std::string(3 + extra, '1') + end);
        expectCompleteAtTheSameByte(start + std::string(256 + extra, 'N') + ": v" + end);
        expectCompleteAtTheSameByte(start + "V: " + std::string(8190, 'v') + "\r\n x" +
                                    std::string(extra, 'y') + end);
        expectCompleteAtTheSameByte(start + "V: a\r\n" + (extra ? "\t" : "") +
                                    std::string(8200, 'b') + end);
        std::string fields = start;
        for (std::size_t i = 0; i < 100 + extra; ++i) {
            fields += "X-" + std::to_string(i) + ": v\r\n";
        }
        expectCompleteAtTheSameByte(fields + "\r\n");
    }

    // Short random heads over the characters that matter to the reader.
    std::mt19937 random(5782);
    const std::string alphabet = "GET /H:x\r\n\t\r\n  1.";
    for (int i = 0; i < 2000; ++i) {
        std::string bytes(std::uniform_int_distribution<std::size_t>(1, 40)(random), ' ');
        for (char& c : bytes) {
            c = alphabet[std::uniform_int_distribution<std::size_t>(0,
                                                                    alphabet.size() - 1)(random)];
        }
        expectCompleteAtTheSameByte(bytes);
    }
}

PendingEntry entryFrom(unsigned char lastByte) {
    PendingEntry entry;
    entry.peer.bytes = {127, 0, 0, lastByte};
    entry.peer.length = 4;
    return entry;
}

// Complete requests take turns by address, one each, in the order the addresses first had one
// waiting; an address's own go in arrival order.
TEST(PendingSetTest, WaitingRequestsTakeTurnsByAddress) {
    PendingSet set;
    const auto now = std::chrono::steady_clock::now();
    PendingEntry a1 = entryFrom(2), a2 = entryFrom(2), a3 = entryFrom(2);
    PendingEntry b1 = entryFrom(3), c1 = entryFrom(4), c2 = entryFrom(4);
    for (PendingEntry* entry : {&a1, &a2, &b1, &a3, &c1, &c2}) {
        set.addHead(*entry, now);
    }
    for (PendingEntry* entry : {&a1, &a2, &a3, &c1, &b1, &c2}) {
        set.headComplete(*entry);
    }
    EXPECT_EQ(set.oldestHead(), nullptr);
    EXPECT_EQ(set.waiting(), 6u);
    std::vector<PendingEntry*> order;
    while (PendingEntry* next = set.takeNextTurn()) {
        order.push_back(next);
    }
    EXPECT_EQ(order, (std::vector<PendingEntry*>{&a1, &c1, &b1, &a2, &c2, &a3}));
    EXPECT_EQ(set.size(), 0u);

    // An address that waits again joins the turns behind those still waiting.
    set.addHead(a1, now);
    set.addHead(b1, now);
    set.addHead(a2, now);
    set.headComplete(a1);
    set.headComplete(a2);
    set.headComplete(b1);
    EXPECT_EQ(set.takeNextTurn(), &a1);
    set.addHead(c1, now);
    set.headComplete(c1);
    EXPECT_EQ(set.takeNextTurn(), &b1);
    EXPECT_EQ(set.takeNextTurn(), &a2);
    EXPECT_EQ(set.takeNextTurn(), &c1);
    EXPECT_EQ(set.takeNextTurn(), nullptr);
}

// When room must be made, the address holding the most gives up first what it loses least by:
// an answered connection, then its oldest head, and a waiting request only when it has nothing
// else. Of addresses tied, the one that got there first.
TEST(PendingSetTest, TheAddressHoldingTheMostGivesUpFirst) {
    PendingSet set;
    const auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(set.candidateToGiveUp(), nullptr);
    PendingEntry a1 = entryFrom(2), a2 = entryFrom(2);
    PendingEntry b1 = entryFrom(3), b2 = entryFrom(3), b3 = entryFrom(3);
    set.addHead(a1, now);
    set.addLingering(b1, now);
    set.addHead(a2, now);
    set.headComplete(a2);
    set.addHead(b2, now + std::chrono::seconds(1));
    set.addHead(b3, now + std::chrono::seconds(2));
    EXPECT_EQ(set.candidateToGiveUp(), &b1);
    EXPECT_EQ(set.oldestLingering(), &b1);
    set.remove(b1);
    EXPECT_EQ(set.oldestLingering(), nullptr);
    EXPECT_EQ(set.candidateToGiveUp(), &a1);  // a and b hold 2 each; a had 2 first
    set.remove(a1);
    EXPECT_EQ(set.candidateToGiveUp(), &b2);
    EXPECT_EQ(set.oldestHead(), &b2);
    set.remove(b2);
    set.remove(b3);
    EXPECT_EQ(set.oldestHead(), nullptr);
    EXPECT_EQ(set.candidateToGiveUp(), &a2);
    EXPECT_EQ(set.size(), 1u);
}

}  // namespace
}  // namespace quorvane
