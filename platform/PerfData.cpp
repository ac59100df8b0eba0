#include "PerfData.h"

#include <cstring>
#include <vector>

namespace quorvane {

namespace {

// A view of the returned bytes in which every read is checked first; offsets are 64-bit so that
// adding 32-bit lengths and offsets of a hostile block cannot wrap.
class BoundedBlock {
  public:
    BoundedBlock(const std::uint8_t* data, std::size_t length) : data_(data), length_(length) {}

    bool contains(std::uint64_t offset, std::uint64_t size) const {
        return offset <= length_ && size <= length_ - offset;
    }

    bool read32(std::uint64_t offset, std::uint32_t& value) const {
        return read(offset, &value, sizeof value);
    }
    bool read64(std::uint64_t offset, std::uint64_t& value) const {
        return read(offset, &value, sizeof value);
    }

  private:
    bool read(std::uint64_t offset, void* value, std::size_t size) const {
        if (!contains(offset, size)) {
            return false;
        }
        std::memcpy(value, data_ + offset, size);
        return true;
    }

    const std::uint8_t* data_;
    std::uint64_t length_;
};

}  // namespace

bool hasPerfSignature(const std::uint8_t* data, std::size_t length) {
    static const std::uint8_t kSignature[] = {'P', 0, 'E', 0, 'R', 0, 'F', 0};
    return data != nullptr && length >= sizeof kSignature &&
           std::memcmp(data, kSignature, sizeof kSignature) == 0;
}

std::uint64_t uptimeFromPerfData(const std::uint8_t* data, std::size_t length) {
    if (!hasPerfSignature(data, length) || length < perf::kBlockMinimumSize) {
        return 0;
    }
    const BoundedBlock block(data, length);
    std::uint32_t blockHeaderLength = 0;
    std::uint32_t numObjectTypes = 0;
    block.read32(perf::kBlockHeaderLength, blockHeaderLength);
    block.read32(perf::kBlockNumObjectTypes, numObjectTypes);
    if (numObjectTypes == 0) {
        return 0;
    }

    // Only the first object is examined: value "2" asks for the System object alone.
    const std::uint64_t object = blockHeaderLength;
    if (!block.contains(object, perf::kObjectSize)) {
        return 0;
    }
    std::uint32_t objectHeaderLength = 0;
    std::uint32_t definitionLength = 0;
    std::uint32_t numCounters = 0;
    std::uint64_t perfTime = 0;
    std::uint64_t perfFreq = 0;
    block.read32(object + perf::kObjectHeaderLength, objectHeaderLength);
    block.read32(object + perf::kObjectDefinitionLength, definitionLength);
    block.read32(object + perf::kObjectNumCounters, numCounters);
    block.read64(object + perf::kObjectPerfTime, perfTime);
    block.read64(object + perf::kObjectPerfFreq, perfFreq);

    std::uint64_t definition = object + objectHeaderLength;
    for (std::uint32_t i = 0; i < numCounters; ++i) {
        if (!block.contains(definition, perf::kCounterSize)) {
            return 0;
        }
        std::uint32_t titleIndex = 0;
        block.read32(definition + perf::kCounterNameTitleIndex, titleIndex);
        if (titleIndex == kSystemUpTimeTitleIndex) {
            std::uint32_t counterOffset = 0;
            block.read32(definition + perf::kCounterOffset, counterOffset);
            // The object has no instances, so its one counter block follows the definitions.
            std::uint64_t value = 0;
            if (!block.read64(object + definitionLength + counterOffset, value) || perfFreq == 0) {
                return 0;
            }
            return (perfTime - value) / perfFreq;
        }
        std::uint32_t byteLength = 0;
        block.read32(definition + perf::kCounterByteLength, byteLength);
        // A definition shorter than its own record would make the walk revisit the same bytes.
        if (byteLength < perf::kCounterSize) {
            return 0;
        }
        definition += byteLength;
    }
    return 0;
}

std::uint64_t uptimeFromPerfDataSource(PerfDataSource& source) {
    std::vector<std::uint8_t> buffer;
    std::uint32_t returned = 0;
    bool accepted = false;
    for (std::uint32_t size = kPerfBufferStep; size <= kPerfBufferLimit; size += kPerfBufferStep) {
        buffer.assign(size, 0);
        returned = size;
        const std::int32_t status = source.query(buffer.data(), returned);
        // A length beyond the buffer cannot be true; such an answer is not trusted.
        accepted = status == kErrorSuccess && returned > 0 && returned <= size &&
                   hasPerfSignature(buffer.data(), returned);
        if (accepted || status != kErrorMoreData) {
            break;
        }
    }
    source.close();
    if (!accepted) {
        return 0;
    }
    return uptimeFromPerfData(buffer.data(), returned);
}

}  // namespace quorvane
