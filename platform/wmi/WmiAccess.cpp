#include "WmiAccess.h"

#include <limits>

#include "snapshot/TextScan.h"

namespace quorvane {

void readTextProperty(WmiObject& object, const char16_t* propertyName, TextField& field) {
    const WmiValue value = object.get(propertyName);
    if (value.kind == WmiValue::Kind::Text) {
        setTextField(field, value.text);
    }
}

void readUInt32Property(WmiObject& object, const char16_t* propertyName, std::uint32_t& value) {
    value = 0;
    const WmiValue read = object.get(propertyName);
    if (read.kind == WmiValue::Kind::Integer) {
        // WMI hands uint32 properties over in a signed 32-bit VARIANT: keep the bit pattern.
        value = static_cast<std::uint32_t>(read.integer);
    }
}

void readUInt64Property(WmiObject& object, const char16_t* propertyName, std::uint64_t& value) {
    value = 0;
    TextField buffer{};
    readTextProperty(object, propertyName, buffer);
    const std::size_t length = textFieldLength(buffer);
    if (length == 0) {
        return;
    }
    value = parseUInt64Text(buffer.data(), length);
}

std::uint64_t parseUInt64Text(const char16_t* text, std::size_t length) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::size_t i = 0;
    // The process locale must not change how counters parse.
    while (i < length && isSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < length && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    std::uint64_t result = 0;
    bool overflow = false;
    for (; i < length && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - u'0');
        if (result > (kMax - digit) / 10) {
            overflow = true;
        } else {
            result = result * 10 + digit;
        }
    }
    if (overflow) {
        return kMax;
    }
    // Unsigned negation is defined modulo 2^64, as wcstoull specifies for a leading minus.
    return negative ? 0 - result : result;
}

}  // namespace quorvane
