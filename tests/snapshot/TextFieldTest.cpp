#include <gtest/gtest.h>

#include <Poco/UnicodeConverter.h>

#include "snapshot/TextField.h"

namespace quorvane {
namespace {

TEST(TextFieldTest, CopiesAtMostTheFieldAndZeroFillsTheRest) {
    TextField field;
    field.fill(u'x');
    setTextField(field, u"abc");
    EXPECT_EQ(textFieldLength(field), 3u);
    for (std::size_t i = 3; i < kTextFieldLength; ++i) {
        ASSERT_EQ(field[i], u'\0') << i;
    }

    const std::u16string longValue(300, u'z');
    setTextField(field, longValue);
    // A full field has no terminator: readers stop at its end.
    EXPECT_EQ(textFieldLength(field), kTextFieldLength);
    EXPECT_EQ(textFieldValue(field), std::u16string(kTextFieldLength, u'z'));

    // An empty value clears even a full field.
    setTextField(field, u"");
    EXPECT_EQ(textFieldLength(field), 0u);
    EXPECT_EQ(textFieldToUtf8(field), "");
}

TEST(TextFieldTest, Utf16ToUtf8EncodesEveryPlane) {
    EXPECT_EQ(utf16ToUtf8(u"A\u00e9\u20ac"), "A\xc3\xa9\xe2\x82\xac");
    EXPECT_EQ(utf16ToUtf8(u"\U0001F600"), "\xf0\x9f\x98\x80");
}

TEST(TextFieldTest, UnpairedSurrogatesBecomeOneQuestionMarkEach) {
    const char16_t units[] = {0xD800, u'A', 0xDC00, u'B', 0xD83D, 0xDE00, 0xDBFF};
    EXPECT_EQ(utf16ToUtf8(units, 7), "?A?B\xf0\x9f\x98\x80?");
    const char16_t lowThenHigh[] = {0xDC00, 0xD800};
    EXPECT_EQ(utf16ToUtf8(lowThenHigh, 2), "??");
}

TEST(TextFieldTest, AgreesWithPocoOnValidUtf16) {
    std::u16string text;
    for (char32_t cp = 1; cp < 0x30000; cp += 37) {
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            continue;
        }
        if (cp >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(cp));
        }
    }
    std::string expected;
    Poco::UTF16String pocoText(text.begin(), text.end());
    Poco::UnicodeConverter::toUTF8(pocoText, expected);
    EXPECT_EQ(utf16ToUtf8(text), expected);
    EXPECT_EQ(utf8ToUtf16(expected), text);
}

TEST(TextFieldTest, Utf8ToUtf16ReplacesMalformedBytes) {
    EXPECT_EQ(utf8ToUtf16("caf\xc3\xa9"), u"caf\u00e9");
    EXPECT_EQ(utf8ToUtf16("\xf0\x9f\x98\x80"), u"\U0001F600");
    EXPECT_EQ(utf8ToUtf16("a\xff"
                          "b"),
              u"a?b");
    EXPECT_EQ(utf8ToUtf16("\xc3"), u"?");                 // truncated sequence
    EXPECT_EQ(utf8ToUtf16("\xc0\xaf"), u"??");            // overlong form
    EXPECT_EQ(utf8ToUtf16("\xed\xa0\x80"), u"???");       // encoded surrogate
    EXPECT_EQ(utf8ToUtf16("\xf4\x90\x80\x80"), u"????");  // beyond U+10FFFF
}

TEST(TextFieldTest, Utf8StraightIntoAFieldIsCutAt256UnitsAndZeroFilled) {
    TextField field;
    field.fill(u'x');
    setTextFieldFromUtf8(field, "caf\xc3\xa9\xff");
    EXPECT_EQ(textFieldValue(field), u"caf\u00e9?");
    EXPECT_EQ(field[5], u'\0');
    EXPECT_EQ(field[kTextFieldLength - 1], u'\0');

    // 255 units, then a character of two: only its first unit fits, as with setTextField.
    const std::string text = std::string(255, 'a') + "\xf0\x9f\x98\x80" + "tail";
    setTextFieldFromUtf8(field, text);
    TextField viaUtf16;
    setTextField(viaUtf16, utf8ToUtf16(text));
    EXPECT_EQ(field, viaUtf16);
    EXPECT_EQ(field[kTextFieldLength - 1], char16_t{0xD83D});
}

}  // namespace
}  // namespace quorvane
