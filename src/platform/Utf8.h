#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kavo {

// What DecodeUtf8At returns for a byte that starts no well-formed character.
constexpr char32_t InvalidUtf8 = 0xFFFFFFFF;

// The code point of the character at text[pos] (pos < text.size()) and its length in bytes. An
// overlong form, a code point past U+10FFFF, a sequence cut off by the end of the text or a stray
// byte gives InvalidUtf8 with length 1. Surrogates are refused unless allowSurrogates (CESU-8
// spells characters past U+FFFF as two of them).
inline char32_t DecodeUtf8At(std::string_view text, std::size_t pos, std::size_t& length, bool allowSurrogates = false)
{
    const auto lead = static_cast<unsigned char>(text[pos]);
    length = 1;
    if (lead < 0x80)
        return lead;
    std::size_t trail = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return InvalidUtf8;
    }
    if (pos + trail >= text.size())
        return InvalidUtf8;
    for (std::size_t i = 1; i <= trail; ++i) {
        const auto c = static_cast<unsigned char>(text[pos + i]);
        if ((c & 0xC0) != 0x80)
            return InvalidUtf8;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (!allowSurrogates && cp >= 0xD800 && cp <= 0xDFFF))
        return InvalidUtf8;
    length = trail + 1;
    return cp;
}

// Writes the UTF-8 form of cp (at most U+10FFFF; a surrogate is written as it is) at out, at most
// four bytes, and returns the end.
inline char* EncodeUtf8(char* out, char32_t cp)
{
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

inline void AppendUtf8(std::string& out, char32_t cp)
{
    char bytes[4];
    out.append(bytes, static_cast<std::size_t>(EncodeUtf8(bytes, cp) - bytes));
}

} // namespace kavo
