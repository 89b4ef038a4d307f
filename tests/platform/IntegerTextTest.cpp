#include "platform/IntegerText.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <optional>

namespace kavo {
namespace {

struct IntegerCase
{
    const char* Text;
    std::optional<std::int32_t> DecimalOrHex;
    std::optional<std::int32_t> Decimal;
};

TEST(IniInteger, ProfileRuleAndDecimalText)
{
    constexpr std::nullopt_t none = std::nullopt;
    const std::array<IntegerCase, 28> cases = {{
        {"0", 0, 0},
        {"-5", -5, -5},
        {"+7", 7, 7},
        {"007", 7, 7},
        {" 50\t", 50, 50},
        {"0x1F", 31, none},
        {"0X1f", 31, none},
        {"$10", 16, none},
        {"-0x10", -16, none},
        {"0xFFFFFFFF", -1, none},
        {"0xFF000005", -16777211, none},
        {"-16777211", -16777211, -16777211},
        {"2147483647", 2147483647, 2147483647},
        {"-2147483648", INT32_MIN, INT32_MIN},
        {"2147483648", none, none},
        {"99999999999", none, none},
        {"0x100000000", none, none},
        {"", none, none},
        {" ", none, none},
        {"-", none, none},
        {"+-5", none, none},
        {"0x", none, none},
        {"abc", none, none},
        {"yes", none, none},
        {"12abc", none, none},
        {"5x", none, none},
        {"1 2", none, none},
        {"\xef\xbc\x95", none, none}, // a full-width digit
    }};
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(ParseIniInteger(c.Text), c.DecimalOrHex) << '"' << c.Text << '"';
        EXPECT_EQ(ParseIniInteger(c.Text, IntegerForm::Decimal), c.Decimal) << '"' << c.Text << '"';
    }
}

} // namespace
} // namespace kavo
