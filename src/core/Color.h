#pragma once

#include <cstdint>

namespace kavo {

// A colour as stored in the INI file: RGB as 0x00BBGGRR, or 0xFF000000 plus a system colour number.
using TColor = std::int32_t;

constexpr TColor SystemColor(int number)
{
    return static_cast<TColor>(0xFF000000u | static_cast<std::uint32_t>(number));
}
constexpr bool IsSystemColor(TColor color)
{
    return (static_cast<std::uint32_t>(color) & 0xFF000000u) == 0xFF000000u;
}

constexpr TColor clWindow = SystemColor(5);         // -16777211
constexpr TColor clWindowText = SystemColor(8);     // -16777208
constexpr TColor clHighlightText = SystemColor(14); // -16777202
constexpr TColor clBlue = 0x00FF0000;
constexpr TColor clPurple = 0x00800080;

} // namespace kavo
