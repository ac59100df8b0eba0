#include <gtest/gtest.h>

#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponseImpl.h>
#include <Poco/Net/HTTPServerSession.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/StreamSocketImpl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "report/FrontDoor.h"
#include "report/RequestHead.h"

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

// The dependency's own server reading a request from those bytes: true when it would wait.
bool dependencyWaits(const std::string& bytes) {
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

// How many bytes of `bytes` the dependency needs before it reads the request without waiting
// (more than all when it would still wait). Waiting ends for good once it ends, so a binary
// search finds it.
std::size_t dependencyNeeds(const std::string& bytes) {
    std::size_t low = 0, high = bytes.size() + 1;
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        if (middle <= bytes.size() && !dependencyWaits(bytes.substr(0, middle))) {
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
    EXPECT_EQ(scannerNeeds(bytes), dependencyNeeds(bytes))
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

struct Peer {
    Poco::Net::IPAddress peer;
};

// Full set of 6 (at most 3 from one address): a, a, b, a, b, c.
TEST(PendingHeadsTest, AFullSetStillTakesANewAddress) {
    FrontDoorLimits limits;
    limits.maxPending = 6;
    limits.maxPendingPerAddress = 3;
    const Poco::Net::IPAddress a("127.0.0.2"), b("127.0.0.3"), c("127.0.0.4"), d("127.0.0.5");
    std::vector<Peer> pending = {{a}, {a}, {b}, {a}, {b}, {c}};
    // A new address: the address holding the most (a) gives up its oldest.
    EXPECT_EQ(connectionToClose(pending, d, limits), 0u);
    // a at its share: a pays, even with room left.
    pending.pop_back();
    EXPECT_EQ(connectionToClose(pending, a, limits), 0u);
    // b has room in a set with room: nothing closes.
    EXPECT_EQ(connectionToClose(pending, b, limits), pending.size());
    // Full again with two addresses tied at the most: the older connection of the two pays.
    pending = {{c}, {b}, {b}, {c}, {a}, {d}};
    EXPECT_EQ(connectionToClose(pending, a, limits), 0u);
}

}  // namespace
}  // namespace quorvane
