#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LinuxInstanceSource.h"
#include "WqlQuery.h"
#include "fakes/FakeWmi.h"

namespace quorvane::linuxsource {
namespace {

using fake::integerValue;
using fake::nullValue;
using fake::textValue;

const std::u16string kDiskQuery = u"Select * from Win32_LogicalDisk Where DriveType = 3";
const std::u16string kCpuQuery =
    u"Select PercentPrivilegedTime,PercentUserTime,TimeStamp_Sys100NS from "
    u"Win32_PerfRawData_PerfOS_Processor Where Name='_Total'";

TEST(WqlTest, TheDiskQueryOfTheAgent) {
    const auto query = parseWqlQuery(kDiskQuery);
    ASSERT_TRUE(query);
    EXPECT_TRUE(query->properties.empty());
    EXPECT_EQ(query->className, u"Win32_LogicalDisk");
    ASSERT_TRUE(query->condition);
    EXPECT_EQ(query->condition->property, u"DriveType");
    EXPECT_EQ(query->condition->op, WqlOperator::Equal);
    EXPECT_EQ(query->condition->literal.kind, WqlLiteral::Kind::Number);
    EXPECT_EQ(query->condition->literal.number, 3);
}

TEST(WqlTest, TheCounterQueryOfTheAgent) {
    const auto query = parseWqlQuery(kCpuQuery);
    ASSERT_TRUE(query);
    EXPECT_EQ(query->properties,
              (std::vector<std::u16string>{u"PercentPrivilegedTime", u"PercentUserTime",
                                           u"TimeStamp_Sys100NS"}));
    EXPECT_EQ(query->className, u"Win32_PerfRawData_PerfOS_Processor");
    ASSERT_TRUE(query->condition);
    EXPECT_EQ(query->condition->property, u"Name");
    EXPECT_EQ(query->condition->literal.kind, WqlLiteral::Kind::String);
    EXPECT_EQ(query->condition->literal.text, u"_Total");
}

TEST(WqlTest, KeywordsInAnyLetterCaseAndFreeSpacing) {
    for (const char16_t* text :
         {u"SELECT * FROM Win32_LogicalDisk WHERE DriveType=3",
          u"select * from win32_logicaldisk where drivetype = 3",
          u"  sElEcT\t*\nFrOm Win32_LogicalDisk   wHeRe DriveType   =   3  ",
          u"Select Name , PercentUserTime from X where Name = \"_Total\"", u"Select * from X"}) {
        EXPECT_TRUE(parseWqlQuery(text)) << utf16ToUtf8(text);
    }
    const auto quoted = parseWqlQuery(u"select * from X where Name = 'it\\'s'");
    ASSERT_TRUE(quoted);
    EXPECT_EQ(quoted->condition->literal.text, u"it's");
    const auto negative = parseWqlQuery(u"select * from X where N >= -12");
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->condition->op, WqlOperator::GreaterOrEqual);
    EXPECT_EQ(negative->condition->literal.number, -12);
}

TEST(WqlTest, TextsOutsideTheSubsetFail) {
    for (const char16_t* text : {
             u"",
             u"   ",
             u"Select",
             u"Select *",
             u"Select * from",
             u"Select * Win32_LogicalDisk",
             u"Select from Win32_LogicalDisk",
             u"Select *, Name from Win32_LogicalDisk",
             u"Select Name, from Win32_LogicalDisk",
             u"Select * from Win32_LogicalDisk, Win32_BIOS",
             u"Select * from Win32_LogicalDisk Where",
             u"Select * from Win32_LogicalDisk Where DriveType",
             u"Select * from Win32_LogicalDisk Where DriveType =",
             u"Select * from Win32_LogicalDisk Where DriveType == 3",
             u"Select * from Win32_LogicalDisk Where DriveType = 3.5",
             u"Select * from Win32_LogicalDisk Where DriveType = 3x",
             u"Select * from Win32_LogicalDisk Where DriveType = 99999999999999999999",
             u"Select * from Win32_LogicalDisk Where DriveType = 3 And Size > 0",
             u"Select * from Win32_LogicalDisk Where DriveType = Size",
             u"Select * from Win32_Processor Where Name = '_Total",
             u"Select * from Win32_LogicalDisk;",
             u"Select * from Win32_LogicalDisk Where DriveType = 3 --",
             u"Select * from Where",
             u"Delete from Win32_LogicalDisk",
             u"ASSOCIATORS OF {Win32_LogicalDisk.DeviceID='C:'}",
             u"Select * from Win32_LogicalDisk Where DriveType ! 3",
         }) {
        EXPECT_FALSE(parseWqlQuery(text)) << utf16ToUtf8(text);
    }
}

WqlCondition conditionOf(const char16_t* text) {
    const auto query = parseWqlQuery(text);
    EXPECT_TRUE(query && query->condition) << utf16ToUtf8(text);
    return query && query->condition ? *query->condition : WqlCondition{};
}

TEST(WqlTest, ComparisonsOfNumbersAndStrings) {
    const WqlCondition fixed = conditionOf(u"select * from X where DriveType = 3");
    EXPECT_TRUE(conditionHolds(fixed, integerValue(3)));
    EXPECT_FALSE(conditionHolds(fixed, integerValue(2)));
    EXPECT_FALSE(conditionHolds(fixed, nullValue()));
    EXPECT_FALSE(conditionHolds(fixed, WmiValue{}));
    EXPECT_FALSE(conditionHolds(fixed, textValue(u"three")));
    EXPECT_TRUE(conditionHolds(fixed, textValue(u"3")));

    const WqlCondition total = conditionOf(u"select * from X where Name='_Total'");
    EXPECT_TRUE(conditionHolds(total, textValue(u"_TOTAL")));
    EXPECT_FALSE(conditionHolds(total, textValue(u"0")));
    EXPECT_FALSE(conditionHolds(total, textValue(u"_Total ")));
    EXPECT_FALSE(conditionHolds(total, integerValue(0)));

    // A uint32 property above 2^31 still compares as the unsigned value it is.
    const WqlCondition large = conditionOf(u"select * from X where N > 2147483648");
    EXPECT_TRUE(conditionHolds(large, integerValue(-1)));
    EXPECT_FALSE(conditionHolds(large, integerValue(5)));
    const WqlCondition size = conditionOf(u"select * from X where Size < 1000");
    EXPECT_FALSE(conditionHolds(size, textValue(u"18446744073709551615")));
    EXPECT_TRUE(conditionHolds(size, textValue(u"999")));
    EXPECT_TRUE(conditionHolds(conditionOf(u"select * from X where N <> -1"), integerValue(0)));
    EXPECT_TRUE(conditionHolds(conditionOf(u"select * from X where N != 1"), integerValue(0)));
    EXPECT_TRUE(conditionHolds(conditionOf(u"select * from X where N <= 0"), integerValue(0)));
}

// Over the Linux source: what fails and what a select list delivers. No file is needed for
// these, so the tree is one that does not exist.
TEST(WqlTest, SourceFailsUnknownClassesAndProperties) {
    LinuxInstanceSource source(
        "/nonexistent-quorvane-root", [] { return 1u; }, 100);
    EXPECT_EQ(source.execQuery(u"Select * from Win32_Nothing"), nullptr);
    EXPECT_EQ(source.execQuery(u"Select Nope from Win32_OperatingSystem"), nullptr);
    EXPECT_EQ(source.execQuery(u"Select * from Win32_OperatingSystem Where Nope = 1"), nullptr);
    EXPECT_EQ(source.execQuery(u"Select * from Win32_OperatingSystem Where"), nullptr);
    EXPECT_EQ(source.createInstanceEnum(u"Win32_Nothing"), nullptr);

    auto selected = source.execQuery(u"select version FROM win32_operatingsystem");
    ASSERT_NE(selected, nullptr);
    auto instance = selected->next();
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->get(u"Version").kind, WmiValue::Kind::Null);
    EXPECT_EQ(instance->get(u"LocalDateTime").kind, WmiValue::Kind::Failed);
    EXPECT_EQ(selected->next(), nullptr);

    auto none = source.execQuery(u"Select * from Win32_OperatingSystem Where Version = 'x'");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->next(), nullptr);
}

}  // namespace
}  // namespace quorvane::linuxsource
