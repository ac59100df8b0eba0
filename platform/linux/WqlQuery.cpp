#include "WqlQuery.h"

#include <cstddef>
#include <limits>

namespace quorvane::linuxsource {

namespace {

char16_t foldCase(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

int compareIgnoringCase(const std::u16string& left, const std::u16string& right) {
    const std::size_t common = left.size() < right.size() ? left.size() : right.size();
    for (std::size_t i = 0; i < common; ++i) {
        const char16_t a = foldCase(left[i]);
        const char16_t b = foldCase(right[i]);
        if (a != b) {
            return a < b ? -1 : 1;
        }
    }
    if (left.size() == right.size()) {
        return 0;
    }
    return left.size() < right.size() ? -1 : 1;
}

bool isLetter(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') || unit == u'_';
}
bool isDigit(char16_t unit) {
    return unit >= u'0' && unit <= u'9';
}
bool isBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n';
}

struct Token {
    enum class Kind { Identifier, Star, Comma, Operator, Number, String, End };
    Kind kind = Kind::End;
    std::u16string text;  // identifier, operator or string contents
    std::int64_t number = 0;
};

// Splits the text into tokens; nothing when it holds a character WQL of this form never has.
std::optional<std::vector<Token>> tokenize(const std::u16string& text) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (true) {
        while (i < n && isBlank(text[i])) {
            ++i;
        }
        Token token;
        if (i == n) {
            tokens.push_back(token);
            return tokens;
        }
        const char16_t unit = text[i];
        if (isLetter(unit)) {
            const std::size_t start = i;
            while (i < n && (isLetter(text[i]) || isDigit(text[i]))) {
                ++i;
            }
            token.kind = Token::Kind::Identifier;
            token.text = text.substr(start, i - start);
        } else if (unit == u'*') {
            token.kind = Token::Kind::Star;
            ++i;
        } else if (unit == u',') {
            token.kind = Token::Kind::Comma;
            ++i;
        } else if (unit == u'=' || unit == u'<' || unit == u'>' || unit == u'!') {
            std::size_t length = 1;
            if (i + 1 < n && (text[i + 1] == u'=' || (unit == u'<' && text[i + 1] == u'>'))) {
                length = 2;
            }
            token.kind = Token::Kind::Operator;
            token.text = text.substr(i, length);
            if (token.text == u"!" || token.text == u"==") {
                return std::nullopt;
            }
            i += length;
        } else if (isDigit(unit) || unit == u'-') {
            const bool negative = unit == u'-';
            if (negative) {
                ++i;
            }
            if (i == n || !isDigit(text[i])) {
                return std::nullopt;
            }
            // Accumulated as a negative number, which reaches one further than a positive one.
            std::int64_t value = 0;
            constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
            while (i < n && isDigit(text[i])) {
                const std::int64_t digit = text[i] - u'0';
                if (value < (kMin + digit) / 10) {
                    return std::nullopt;
                }
                value = value * 10 - digit;
                ++i;
            }
            if (!negative) {
                if (value == kMin) {
                    return std::nullopt;
                }
                value = -value;
            }
            if (i < n && (isLetter(text[i]) || text[i] == u'.')) {
                return std::nullopt;
            }
            token.kind = Token::Kind::Number;
            token.number = value;
        } else if (unit == u'\'' || unit == u'"') {
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == u'\\' && i + 1 < n) {
                    token.text.push_back(text[i + 1]);
                    i += 2;
                } else if (text[i] == unit) {
                    ++i;
                    closed = true;
                    break;
                } else {
                    token.text.push_back(text[i]);
                    ++i;
                }
            }
            if (!closed) {
                return std::nullopt;
            }
            token.kind = Token::Kind::String;
        } else {
            return std::nullopt;
        }
        tokens.push_back(token);
    }
}

bool isKeyword(const Token& token, const char16_t* keyword) {
    return token.kind == Token::Kind::Identifier && equalsIgnoringCase(token.text, keyword);
}

bool isName(const Token& token) {
    return token.kind == Token::Kind::Identifier && !isKeyword(token, u"select") &&
           !isKeyword(token, u"from") && !isKeyword(token, u"where");
}

std::optional<WqlOperator> operatorOf(const std::u16string& text) {
    if (text == u"=") {
        return WqlOperator::Equal;
    }
    if (text == u"<>" || text == u"!=") {
        return WqlOperator::NotEqual;
    }
    if (text == u"<") {
        return WqlOperator::Less;
    }
    if (text == u"<=") {
        return WqlOperator::LessOrEqual;
    }
    if (text == u">") {
        return WqlOperator::Greater;
    }
    if (text == u">=") {
        return WqlOperator::GreaterOrEqual;
    }
    return std::nullopt;
}

bool holds(WqlOperator op, int order) {
    switch (op) {
        case WqlOperator::Equal:
            return order == 0;
        case WqlOperator::NotEqual:
            return order != 0;
        case WqlOperator::Less:
            return order < 0;
        case WqlOperator::LessOrEqual:
            return order <= 0;
        case WqlOperator::Greater:
            return order > 0;
        case WqlOperator::GreaterOrEqual:
            return order >= 0;
    }
    return false;
}

// A non-negative value against a literal that may be negative.
int compareUnsigned(std::uint64_t value, std::int64_t literal) {
    if (literal < 0) {
        return 1;
    }
    const auto bound = static_cast<std::uint64_t>(literal);
    return value == bound ? 0 : (value < bound ? -1 : 1);
}

// The decimal text of a 64-bit property, strictly digits.
std::optional<std::uint64_t> decimalValue(const std::u16string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char16_t unit : text) {
        if (!isDigit(unit)) {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(unit - u'0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

bool equalsIgnoringCase(const std::u16string& left, const std::u16string& right) {
    return left.size() == right.size() && compareIgnoringCase(left, right) == 0;
}

std::optional<WqlQuery> parseWqlQuery(const std::u16string& text) {
    const std::optional<std::vector<Token>> tokenized = tokenize(text);
    if (!tokenized) {
        return std::nullopt;
    }
    const std::vector<Token>& tokens = *tokenized;
    std::size_t at = 0;
    // The last token is always End, so looking one ahead never leaves the list.
    auto take = [&]() -> const Token& { return tokens[at < tokens.size() - 1 ? at++ : at]; };

    WqlQuery query;
    if (!isKeyword(take(), u"select")) {
        return std::nullopt;
    }
    if (tokens[at].kind == Token::Kind::Star) {
        take();
    } else {
        while (true) {
            const Token& name = take();
            if (!isName(name)) {
                return std::nullopt;
            }
            query.properties.push_back(name.text);
            if (tokens[at].kind != Token::Kind::Comma) {
                break;
            }
            take();
        }
    }
    if (!isKeyword(take(), u"from")) {
        return std::nullopt;
    }
    const Token& className = take();
    if (!isName(className)) {
        return std::nullopt;
    }
    query.className = className.text;

    if (isKeyword(tokens[at], u"where")) {
        take();
        WqlCondition condition;
        const Token& property = take();
        if (!isName(property)) {
            return std::nullopt;
        }
        condition.property = property.text;
        const Token& op = take();
        if (op.kind != Token::Kind::Operator) {
            return std::nullopt;
        }
        const std::optional<WqlOperator> parsed = operatorOf(op.text);
        if (!parsed) {
            return std::nullopt;
        }
        condition.op = *parsed;
        const Token& literal = take();
        if (literal.kind == Token::Kind::Number) {
            condition.literal.kind = WqlLiteral::Kind::Number;
            condition.literal.number = literal.number;
        } else if (literal.kind == Token::Kind::String) {
            condition.literal.kind = WqlLiteral::Kind::String;
            condition.literal.text = literal.text;
        } else {
            return std::nullopt;
        }
        query.condition = condition;
    }
    if (tokens[at].kind != Token::Kind::End) {
        return std::nullopt;
    }
    return query;
}

bool conditionHolds(const WqlCondition& condition, const WmiValue& value) {
    const WqlLiteral& literal = condition.literal;
    if (value.kind == WmiValue::Kind::Integer) {
        if (literal.kind != WqlLiteral::Kind::Number) {
            return false;
        }
        // The source's integer properties are all uint32, handed over as their bit pattern.
        const auto unsignedValue = static_cast<std::uint32_t>(value.integer);
        return holds(condition.op, compareUnsigned(unsignedValue, literal.number));
    }
    if (value.kind == WmiValue::Kind::Text) {
        if (literal.kind == WqlLiteral::Kind::String) {
            return holds(condition.op, compareIgnoringCase(value.text, literal.text));
        }
        const std::optional<std::uint64_t> number = decimalValue(value.text);
        return number && holds(condition.op, compareUnsigned(*number, literal.number));
    }
    return false;
}

}  // namespace quorvane::linuxsource
