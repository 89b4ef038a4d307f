#include "platform/IntegerText.h"

namespace kavo {

std::optional<std::int32_t> ParseIniInteger(std::string_view text, IntegerForm form)
{
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') // most booleans and indices
        return text[0] - '0';
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    std::size_t i = 0;
    const std::size_t n = text.size();
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (form == IntegerForm::DecimalOrHex) {
        if (i < n && text[i] == '$') {
            hex = true;
            ++i;
        } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            hex = true;
            i += 2;
        }
    }
    if (i == n)
        return std::nullopt;
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : negative ? 2147483648ull : 2147483647ull;
    const unsigned base = hex ? 16 : 10;
    std::uint64_t value = 0;
    for (; i < n; ++i) {
        const char c = text[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    // Hexadecimal wraps to 32 bits as the Windows program reads it; negation wraps likewise.
    auto bits = static_cast<std::uint32_t>(value);
    if (negative)
        bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

} // namespace kavo
