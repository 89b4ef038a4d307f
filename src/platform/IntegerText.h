#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kavo {

// How a setting spells an integer.
enum class IntegerForm {
    // Keys read as integers, as the Windows profile functions read them: decimal, or "0x"/"$"
    // hexadecimal of at most 32 bits (0xFFFFFFFF is -1, as colours are written).
    DecimalOrHex,
    // Numbers that text settings hold ("Notify/BallonTimer"): decimal only.
    Decimal,
};

// A whole text as a 32-bit integer: blanks (space, tab) around it, an optional sign, the digits.
// nullopt for anything else, an overflow included.
std::optional<std::int32_t> ParseIniInteger(std::string_view text, IntegerForm form = IntegerForm::DecimalOrHex);

} // namespace kavo
