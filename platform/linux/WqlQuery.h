// The part of WQL the agent sends, for the Linux instance source: a select list or "*", one
// class, and at most one Where comparison of a property with a number or a quoted string.
// Keywords, class and property names are matched in any letter case, as WMI does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/WmiConnection.h"

namespace quorvane::linuxsource {

enum class WqlOperator { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };

struct WqlLiteral {
    enum class Kind { Number, String };
    Kind kind = Kind::Number;
    std::int64_t number = 0;
    std::u16string text;
};

struct WqlCondition {
    std::u16string property;
    WqlOperator op = WqlOperator::Equal;
    WqlLiteral literal;
};

struct WqlQuery {
    std::vector<std::u16string> properties;  // empty for "*"
    std::u16string className;
    std::optional<WqlCondition> condition;
};

// Nothing when the text is not a query of this form; the caller fails it like WMI would.
std::optional<WqlQuery> parseWqlQuery(const std::u16string& text);

// Whether a property value satisfies the comparison. A null or unreadable value never does, a
// string compares without regard to letter case, a number against a number or against the
// decimal text of a 64-bit property.
bool conditionHolds(const WqlCondition& condition, const WmiValue& value);

// Letter case of ASCII letters ignored, as in WMI names and string comparisons.
bool equalsIgnoringCase(const std::u16string& left, const std::u16string& right);

}  // namespace quorvane::linuxsource
