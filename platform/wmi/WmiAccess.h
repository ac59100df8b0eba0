// The property readers every probe goes through, from an instance into the snapshot's fields.
// They hold the rules for failed reads and null values, so every probe follows one set of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "WmiConnection.h"
#include "snapshot/TextField.h"

namespace quorvane {

// Copies a string property into the field; a failed or null read leaves the field as it was.
void readTextProperty(WmiObject& object, const char16_t* propertyName, TextField& field);

// A 32-bit integer property; 0 when the read fails or the value is null.
void readUInt32Property(WmiObject& object, const char16_t* propertyName, std::uint32_t& value);

// A 64-bit integer property delivered as decimal text; 0 when the read fails, the value is null
// or the text is empty.
void readUInt64Property(WmiObject& object, const char16_t* propertyName, std::uint64_t& value);

// Decimal text to a 64-bit value as the standard wcstoull does with base 10: leading white space
// skipped, an optional sign (a minus negates modulo 2^64), digits up to the first other
// character, 0 when there are none, 2^64 - 1 for any number beyond the range. Reads at most
// `length` units.
std::uint64_t parseUInt64Text(const char16_t* text, std::size_t length);

}  // namespace quorvane
