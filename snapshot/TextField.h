// Fixed-capacity UTF-16 text fields and the UTF-16/UTF-8 conversions the agent uses.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

inline constexpr std::size_t kTextFieldLength = 256;

// A value of kTextFieldLength units or more fills the whole field without a terminating zero;
// readers therefore always bound their reading at the field's end.
using TextField = std::array<char16_t, kTextFieldLength>;

// Copies at most kTextFieldLength units of `text` into `field` and zero-fills the rest.
void setTextField(TextField& field, const char16_t* text, std::size_t length);
void setTextField(TextField& field, const std::u16string& text);

// Number of units before the first zero unit, never more than kTextFieldLength.
std::size_t textFieldLength(const TextField& field);
std::u16string textFieldValue(const TextField& field);

// UTF-16 to UTF-8. A surrogate that is not part of a valid pair becomes "?", one per unit, and
// never swallows the unit after it.
std::string utf16ToUtf8(const char16_t* text, std::size_t length);
std::string utf16ToUtf8(const std::u16string& text);
std::string textFieldToUtf8(const TextField& field);

// UTF-8 to UTF-16. A byte that does not start a valid, shortest-form sequence becomes "?".
std::u16string utf8ToUtf16(const std::string& text);
// The same straight into a field: at most kTextFieldLength units (a pair that does not fit
// whole is cut after its first unit), the rest zero.
void setTextFieldFromUtf8(TextField& field, std::string_view text);

}  // namespace quorvane
