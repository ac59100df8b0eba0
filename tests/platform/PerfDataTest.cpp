#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/PerfData.h"

namespace quorvane {
namespace {

constexpr std::uint32_t kDataBlockSize = 88;  // sizeof(PERF_DATA_BLOCK)

struct Counter {
    std::uint32_t titleIndex;
    std::uint64_t value;
};

// A performance data block as Windows lays it out: PERF_DATA_BLOCK, one PERF_OBJECT_TYPE without
// instances, its counter definitions and then its counter block with 64-bit values.
class PerfBlock {
  public:
    PerfBlock(std::uint64_t perfTime, std::uint64_t perfFreq, std::vector<Counter> counters) {
        const auto count = static_cast<std::uint32_t>(counters.size());
        const std::uint32_t definitionLength = 64 + 40 * count;
        const std::uint32_t counterBlockLength = 8 + 8 * count;
        bytes.assign(kDataBlockSize + definitionLength + counterBlockLength, 0);
        const char16_t signature[] = u"PERF";
        std::memcpy(bytes.data(), signature, 8);
        put32(20, static_cast<std::uint32_t>(bytes.size()));  // TotalByteLength
        put32(24, kDataBlockSize);                            // HeaderLength
        put32(28, 1);                                         // NumObjectTypes
        put64(56, 999999);                                    // the block's PerfTime: not used
        put64(64, 1);                                         // the block's PerfFreq: not used
        object = kDataBlockSize;
        put32(object + 0, definitionLength + counterBlockLength);
        put32(object + 4, definitionLength);
        put32(object + 8, 64);
        put32(object + 12, 2);  // ObjectNameTitleIndex: System
        put32(object + 32, count);
        put32(object + 40, 0xFFFFFFFF);  // NumInstances: PERF_NO_INSTANCES
        put64(object + 48, perfTime);
        put64(object + 56, perfFreq);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t definition = object + 64 + 40 * i;
            put32(definition + 0, 40);
            put32(definition + 4, counters[i].titleIndex);
            put32(definition + 32, 8);          // CounterSize
            put32(definition + 36, 8 + 8 * i);  // CounterOffset, after the block's ByteLength
            put64(object + definitionLength + 8 + 8 * i, counters[i].value);
        }
        put32(object + definitionLength, counterBlockLength);
    }

    void put32(std::size_t offset, std::uint32_t value) {
        std::memcpy(bytes.data() + offset, &value, sizeof value);
    }
    void put64(std::size_t offset, std::uint64_t value) {
        std::memcpy(bytes.data() + offset, &value, sizeof value);
    }

    // The walk over exactly `length` bytes of a heap copy, so a read beyond them is caught by
    // AddressSanitizer.
    std::uint64_t uptime(std::size_t length) const {
        std::vector<std::uint8_t> copy(bytes.begin(), bytes.begin() + length);
        return uptimeFromPerfData(copy.data(), copy.size());
    }
    std::uint64_t uptime() const { return uptime(bytes.size()); }

    std::size_t definitionAt(std::uint32_t index) const { return object + 64 + 40 * index; }

    std::vector<std::uint8_t> bytes;
    std::size_t object = 0;
};

PerfBlock systemObject(std::uint64_t perfTime, std::uint64_t value, std::uint64_t perfFreq) {
    return PerfBlock(perfTime, perfFreq, {{kSystemUpTimeTitleIndex, value}});
}

TEST(PerfDataWalkTest, UptimeIsTheTruncatedQuotientOfTheObjectTimes) {
    EXPECT_EQ(systemObject(500, 200, 100).uptime(), 3u);
    EXPECT_EQ(systemObject(500, 200, 120).uptime(), 2u);
    EXPECT_EQ(systemObject(500, 500, 100).uptime(), 0u);
    // Realistic: a 10 MHz counter, 86400 s after boot.
    EXPECT_EQ(systemObject(133000000000000000ull + 864000000000ull, 133000000000000000ull, 10000000)
                  .uptime(),
              86400u);
}

TEST(PerfDataWalkTest, CounterAbovePerfTimeWraps) {
    EXPECT_EQ(systemObject(100, 300, 1).uptime(), 0xFFFFFFFFFFFFFFFFull - 199);
    EXPECT_EQ(systemObject(100, 300, 7).uptime(), (0xFFFFFFFFFFFFFFFFull - 199) / 7);
}

TEST(PerfDataWalkTest, FindsCounter674AmongOthers) {
    const PerfBlock block(1000, 10, {{6, 1}, {10, 2}, {kSystemUpTimeTitleIndex, 400}, {12, 3}});
    EXPECT_EQ(block.uptime(), 60u);
}

TEST(PerfDataWalkTest, WithoutCounter674TheResultIs0) {
    EXPECT_EQ(PerfBlock(1000, 10, {{6, 1}, {10, 2}}).uptime(), 0u);
    EXPECT_EQ(PerfBlock(1000, 10, {}).uptime(), 0u);
    // Counter 674 beyond NumCounters is not looked at.
    PerfBlock hidden(1000, 10, {{6, 1}, {kSystemUpTimeTitleIndex, 400}});
    hidden.put32(hidden.object + 32, 1);
    EXPECT_EQ(hidden.uptime(), 0u);
}

TEST(PerfDataWalkTest, NoObjectsOrBadSignatureGive0) {
    PerfBlock noObjects = systemObject(500, 200, 100);
    noObjects.put32(28, 0);
    EXPECT_EQ(noObjects.uptime(), 0u);

    PerfBlock badSignature = systemObject(500, 200, 100);
    badSignature.bytes[6] = 'G';
    EXPECT_EQ(badSignature.uptime(), 0u);

    // "PERF" in ASCII is not the UTF-16 signature.
    PerfBlock ascii = systemObject(500, 200, 100);
    std::memcpy(ascii.bytes.data(), "PERF\0\0\0\0", 8);
    EXPECT_EQ(ascii.uptime(), 0u);

    EXPECT_EQ(uptimeFromPerfData(nullptr, 0), 0u);
}

TEST(PerfDataWalkTest, FrequencyZeroGives0) {
    EXPECT_EQ(systemObject(500, 200, 0).uptime(), 0u);
}

TEST(PerfDataWalkTest, EveryTruncationGives0AndNeverReadsOutside) {
    const PerfBlock block(1000, 10, {{6, 1}, {kSystemUpTimeTitleIndex, 400}});
    // The last bytes read are the 674 value, the last one of the counter block.
    const std::size_t needed = block.bytes.size();
    for (std::size_t length = 0; length < needed; ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ(block.uptime(length), 0u);
    }
    EXPECT_EQ(block.uptime(needed), 60u);
}

TEST(PerfDataWalkTest, OffsetsAndLengthsOutsideTheBlockGive0) {
    const auto expectMalformed = [](PerfBlock block, std::size_t offset, std::uint32_t value) {
        SCOPED_TRACE(offset);
        block.put32(offset, value);
        EXPECT_EQ(block.uptime(), 0u);
    };
    const PerfBlock valid(1000, 10, {{6, 1}, {kSystemUpTimeTitleIndex, 400}});
    ASSERT_EQ(valid.uptime(), 60u);
    const std::size_t object = valid.object;
    expectMalformed(valid, 24, 0xFFFFFFFF);  // block HeaderLength
    expectMalformed(valid, 24, static_cast<std::uint32_t>(valid.bytes.size() - 63));
    expectMalformed(valid, object + 8, 0xFFFFFFF0);                  // object HeaderLength
    expectMalformed(valid, object + 4, 0xFFFFFFFF);                  // DefinitionLength
    expectMalformed(valid, valid.definitionAt(1) + 36, 0xFFFFFFFF);  // CounterOffset
    // NumCounters past the end of a block without counter 674.
    expectMalformed(PerfBlock(1000, 10, {{6, 1}, {7, 2}}), object + 32, 0xFFFFFFFF);
    // 32-bit sums would wrap back into the buffer here; the walk must not.
    PerfBlock wrapping = valid;
    wrapping.put32(object + 4, 0xFFFFFFF8);
    wrapping.put32(valid.definitionAt(1) + 36,
                   static_cast<std::uint32_t>(0x100000000ull - 0xFFFFFFF8ull + 8 + 8));
    EXPECT_EQ(wrapping.uptime(), 0u);
}

TEST(PerfDataWalkTest, DefinitionsShorterThanTheirRecordAreMalformed) {
    PerfBlock zero(1000, 10, {{6, 1}, {kSystemUpTimeTitleIndex, 400}});
    zero.put32(zero.definitionAt(0), 0);
    zero.put32(zero.object + 32, 0xFFFFFFFF);  // would otherwise spin on the same definition
    EXPECT_EQ(zero.uptime(), 0u);

    // A longer ByteLength is followed as given.
    PerfBlock longer(1000, 10, {{6, 1}, {7, 2}, {kSystemUpTimeTitleIndex, 400}});
    longer.put32(longer.definitionAt(0), 80);
    EXPECT_EQ(longer.uptime(), 60u);
}

// A registry stand-in: answers ERROR_MORE_DATA until the buffer holds `required` bytes.
class FakeSource : public PerfDataSource {
  public:
    std::int32_t query(std::uint8_t* buffer, std::uint32_t& length) override {
        sizes.push_back(length);
        EXPECT_EQ(closes, 0) << "queried after the key was closed";
        if (status != kErrorSuccess && status != kErrorMoreData) {
            return status;
        }
        if (length < required) {
            return kErrorMoreData;
        }
        std::fill(buffer, buffer + length, 0xCD);
        std::copy(data.begin(), data.end(), buffer);
        length = returnedLength ? returnedLength : static_cast<std::uint32_t>(data.size());
        return kErrorSuccess;
    }

    void close() override { ++closes; }

    std::vector<std::uint8_t> data;
    std::uint32_t required = 0;
    std::int32_t status = kErrorSuccess;
    std::uint32_t returnedLength = 0;
    std::vector<std::uint32_t> sizes;
    int closes = 0;
};

std::vector<std::uint32_t> sizesUpTo(std::uint32_t last) {
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t size = 1024; size <= last; size += 1024) {
        sizes.push_back(size);
    }
    return sizes;
}

TEST(PerfDataQueryTest, FirstAnswerFits) {
    FakeSource source;
    source.data = systemObject(500, 200, 100).bytes;
    source.required = static_cast<std::uint32_t>(source.data.size());
    EXPECT_EQ(uptimeFromPerfDataSource(source), 3u);
    EXPECT_EQ(source.sizes, sizesUpTo(1024));
    EXPECT_EQ(source.closes, 1);
}

TEST(PerfDataQueryTest, MoreDataGrowsTheBufferBy1024) {
    FakeSource source;
    source.data = systemObject(500, 200, 100).bytes;
    source.required = 2048;
    EXPECT_EQ(uptimeFromPerfDataSource(source), 3u);
    EXPECT_EQ(source.sizes, sizesUpTo(2048));
    EXPECT_EQ(source.closes, 1);
}

TEST(PerfDataQueryTest, ExactlyTheLimitStillSucceeds) {
    FakeSource source;
    source.data = systemObject(500, 200, 100).bytes;
    source.required = 65536;
    EXPECT_EQ(uptimeFromPerfDataSource(source), 3u);
    EXPECT_EQ(source.sizes.size(), 64u);
    EXPECT_EQ(source.closes, 1);
}

TEST(PerfDataQueryTest, MoreThan65536BytesGive0AfterSixtyFourAttempts) {
    FakeSource source;
    source.data = systemObject(500, 200, 100).bytes;
    source.required = 65537;
    EXPECT_EQ(uptimeFromPerfDataSource(source), 0u);
    EXPECT_EQ(source.sizes, sizesUpTo(65536));
    EXPECT_EQ(source.closes, 1);
}

TEST(PerfDataQueryTest, OtherErrorsStopAtOnce) {
    FakeSource source;
    source.status = 5;  // ERROR_ACCESS_DENIED
    EXPECT_EQ(uptimeFromPerfDataSource(source), 0u);
    EXPECT_EQ(source.sizes, sizesUpTo(1024));
    EXPECT_EQ(source.closes, 1);
}

TEST(PerfDataQueryTest, UnacceptableSuccessfulAnswersGive0WithoutRetry) {
    {
        SCOPED_TRACE("bad signature");
        FakeSource source;
        source.data = systemObject(500, 200, 100).bytes;
        source.data[0] = 'X';
        EXPECT_EQ(uptimeFromPerfDataSource(source), 0u);
        EXPECT_EQ(source.sizes.size(), 1u);
        EXPECT_EQ(source.closes, 1);
    }
    {
        SCOPED_TRACE("length 0");
        FakeSource source;
        EXPECT_EQ(uptimeFromPerfDataSource(source), 0u);
        EXPECT_EQ(source.sizes.size(), 1u);
        EXPECT_EQ(source.closes, 1);
    }
    {
        SCOPED_TRACE("length beyond the buffer");
        FakeSource source;
        source.data = systemObject(500, 200, 100).bytes;
        source.returnedLength = 4096;
        EXPECT_EQ(uptimeFromPerfDataSource(source), 0u);
        EXPECT_EQ(source.sizes.size(), 1u);
        EXPECT_EQ(source.closes, 1);
    }
}

TEST(PerfDataQueryTest, TheWalkSeesOnlyTheReturnedLength) {
    // The value of counter 674 lies in the buffer but beyond what the query returned.
    FakeSource source;
    source.data = systemObject(500, 200, 100).bytes;
    source.returnedLength = static_cast<std::uint32_t>(source.data.size() - 1);
    EXPECT_EQ(uptimeFromPerfDataSource(source), 0u);
    EXPECT_EQ(source.closes, 1);
}

}  // namespace
}  // namespace quorvane
