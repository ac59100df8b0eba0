// System uptime from the performance data of the System object (title index 2): the buffer loop
// over the registry query and the walk over the returned block, both without Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvane {

inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorMoreData = 234;  // ERROR_MORE_DATA
inline constexpr std::uint32_t kSystemUpTimeTitleIndex = 674;
inline constexpr std::uint32_t kPerfBufferStep = 1024;
inline constexpr std::uint32_t kPerfBufferLimit = 65536;

// Byte offsets of the members the walk reads, as in winperf.h (the same on 32 and 64 bits).
namespace perf {
inline constexpr std::size_t kBlockHeaderLength = 24;    // PERF_DATA_BLOCK::HeaderLength
inline constexpr std::size_t kBlockNumObjectTypes = 28;  // PERF_DATA_BLOCK::NumObjectTypes
inline constexpr std::size_t kBlockMinimumSize = 32;
inline constexpr std::size_t kObjectDefinitionLength = 4;
inline constexpr std::size_t kObjectHeaderLength = 8;
inline constexpr std::size_t kObjectNumCounters = 32;
inline constexpr std::size_t kObjectPerfTime = 48;
inline constexpr std::size_t kObjectPerfFreq = 56;
inline constexpr std::size_t kObjectSize = 64;  // sizeof(PERF_OBJECT_TYPE)
inline constexpr std::size_t kCounterByteLength = 0;
inline constexpr std::size_t kCounterNameTitleIndex = 4;
inline constexpr std::size_t kCounterOffset = 36;
inline constexpr std::size_t kCounterSize = 40;  // sizeof(PERF_COUNTER_DEFINITION)
}  // namespace perf

// The registry value "2" of HKEY_PERFORMANCE_DATA, as the back end reaches it.
class PerfDataSource {
  public:
    virtual ~PerfDataSource() = default;
    // Fills at most `length` bytes of `buffer`, sets `length` to the bytes returned and answers
    // the registry status (0, ERROR_MORE_DATA or another error).
    virtual std::int32_t query(std::uint8_t* buffer, std::uint32_t& length) = 0;
    // Closes HKEY_PERFORMANCE_DATA.
    virtual void close() = 0;
};

// True when the block starts with the UTF-16 characters "PERF".
bool hasPerfSignature(const std::uint8_t* data, std::size_t length);

// Seconds of the System Up Time counter of the block's first object: (PerfTime - value) /
// PerfFreq in wrapping unsigned 64-bit arithmetic. 0 for a bad signature, no object, no counter
// 674, a frequency of 0, or any offset or length that points outside the `length` bytes.
std::uint64_t uptimeFromPerfData(const std::uint8_t* data, std::size_t length);

// Queries with buffers of 1024, 2048, ... bytes while the source answers ERROR_MORE_DATA, up to
// 65536; closes the source once whatever happens; walks the accepted block. 0 on any failure.
std::uint64_t uptimeFromPerfDataSource(PerfDataSource& source);

}  // namespace quorvane
