#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cwchar>
#include <limits>
#include <string>

#include "fakes/FakeWmi.h"
#include "platform/wmi/WmiAccess.h"

namespace quorvane {
namespace {

using fake::integerValue;
using fake::nullValue;
using fake::textValue;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

fake::FakeWmiObject objectWith(const std::u16string& name, WmiValue value) {
    return fake::FakeWmiObject({{name, std::move(value)}}, std::make_shared<fake::FakeWmiLog>());
}

std::uint64_t read64(WmiValue value) {
    auto object = objectWith(u"P", std::move(value));
    std::uint64_t result = 12345;
    readUInt64Property(object, u"P", result);
    return result;
}

TEST(WmiAccessTest, TextIsCopiedAndTheRestOfTheFieldZeroed) {
    auto object = objectWith(u"P", textValue(u"abc"));
    TextField field;
    field.fill(u'x');
    readTextProperty(object, u"P", field);
    EXPECT_EQ(textFieldValue(field), u"abc");
    for (std::size_t i = 3; i < kTextFieldLength; ++i) {
        ASSERT_EQ(field[i], u'\0') << i;
    }
}

TEST(WmiAccessTest, LongTextFillsTheWholeField) {
    auto object = objectWith(u"P", textValue(std::u16string(300, u'a') + u"b"));
    TextField field{};
    readTextProperty(object, u"P", field);
    EXPECT_EQ(textFieldLength(field), kTextFieldLength);
    EXPECT_EQ(field[kTextFieldLength - 1], u'a');
}

TEST(WmiAccessTest, TextReadThatFailsOrIsNullLeavesTheField) {
    TextField field{};
    setTextField(field, u"before");
    for (WmiValue value : {nullValue(), WmiValue{}, integerValue(4)}) {
        auto object = objectWith(u"P", value);
        readTextProperty(object, u"P", field);
        EXPECT_EQ(textFieldValue(field), u"before");
    }
    auto object = objectWith(u"Other", textValue(u"x"));
    readTextProperty(object, u"P", field);
    EXPECT_EQ(textFieldValue(field), u"before");
}

TEST(WmiAccessTest, UInt32KeepsTheBitPatternAndIsZeroWhenUnreadable) {
    std::uint32_t value = 99;
    auto big = objectWith(u"P", integerValue(-1));
    readUInt32Property(big, u"P", value);
    EXPECT_EQ(value, 4294967295u);
    auto plain = objectWith(u"P", integerValue(3700));
    readUInt32Property(plain, u"P", value);
    EXPECT_EQ(value, 3700u);
    for (WmiValue unreadable : {nullValue(), WmiValue{}, textValue(u"12")}) {
        value = 99;
        auto object = objectWith(u"P", unreadable);
        readUInt32Property(object, u"P", value);
        EXPECT_EQ(value, 0u);
    }
}

TEST(WmiAccessTest, UInt64FromDecimalText) {
    EXPECT_EQ(read64(textValue(u"5000")), 5000u);
    EXPECT_EQ(read64(textValue(u"")), 0u);
    EXPECT_EQ(read64(textValue(u"   42")), 42u);
    EXPECT_EQ(read64(textValue(u"\t\n 7")), 7u);
    EXPECT_EQ(read64(textValue(u"abc")), 0u);
    EXPECT_EQ(read64(textValue(u"x12")), 0u);
    EXPECT_EQ(read64(textValue(u"123abc")), 123u);
    EXPECT_EQ(read64(textValue(u"18446744073709551615")), kMax);
    EXPECT_EQ(read64(textValue(u"18446744073709551616")), kMax);
    EXPECT_EQ(read64(textValue(u"99999999999999999999999999")), kMax);
    EXPECT_EQ(read64(textValue(u"18446744073709551614")), kMax - 1);
    EXPECT_EQ(read64(textValue(u"00000000000000000000000000001")), 1u);
}

TEST(WmiAccessTest, UInt64IsZeroWhenTheReadFailsOrIsNull) {
    EXPECT_EQ(read64(nullValue()), 0u);
    EXPECT_EQ(read64(WmiValue{}), 0u);
    EXPECT_EQ(read64(integerValue(17)), 0u);
}

// The standard function itself is the reference for the text forms counters could take.
TEST(WmiAccessTest, UInt64ParsingAgreesWithWcstoull) {
    std::setlocale(LC_ALL, "C");
    const char* samples[] = {"0",
                             "1",
                             "  12 34",
                             "+15",
                             "-1",
                             "-18446744073709551615",
                             "-18446744073709551616",
                             "18446744073709551615",
                             "18446744073709551616",
                             "340282366920938463463374607431768211456",
                             "\v\f\r 9x",
                             "+",
                             "-",
                             " - 5",
                             "0x1F",
                             "007",
                             "12.5",
                             "1e5"};
    for (const char* sample : samples) {
        const std::string text(sample);
        const std::wstring wide(text.begin(), text.end());
        const std::u16string utf16(text.begin(), text.end());
        errno = 0;
        const unsigned long long expected = std::wcstoull(wide.c_str(), nullptr, 10);
        EXPECT_EQ(parseUInt64Text(utf16.data(), utf16.size()), expected) << text;
    }
}

}  // namespace
}  // namespace quorvane
