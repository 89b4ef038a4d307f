#pragma once

#include <cstdint>

namespace kavo {

// A colour as stored in the INI file: RGB as 0x00BBGGRR, or 0xFF000000 plus a system colour number.
using ColorValue = std::int32_t;

constexpr ColorValue SystemColor(int number)
{
    return static_cast<ColorValue>(0xFF000000u | static_cast<std::uint32_t>(number));
}
constexpr bool IsSystemColor(ColorValue color)
{
    return (static_cast<std::uint32_t>(color) & 0xFF000000u) == 0xFF000000u;
}

constexpr ColorValue clWindow = SystemColor(5);         // -16777211
constexpr ColorValue clWindowText = SystemColor(8);     // -16777208
constexpr ColorValue clHighlightText = SystemColor(14); // -16777202
constexpr ColorValue clBlue = 0x00FF0000;
constexpr ColorValue clPurple = 0x00800080;

} // namespace kavo
