#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Channel texts, templates and INI values are code page 932 byte strings; these helpers convert
// them at the edges and work on them without ever splitting a double-byte character.
namespace kavo {

// A character without a CP932 form becomes "?"; an invalid UTF-8 sequence becomes "?" too.
std::string Utf8ToCp932(std::string_view utf8);
// An invalid or truncated sequence becomes U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);
// Readable spelling of CP932 literals in the source: Sjis("通知").
inline std::string Sjis(std::string_view utf8)
{
    return Utf8ToCp932(utf8);
}

constexpr bool IsCp932Lead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
// Whether the double-byte character lead+trail has a meaning in code page 932 (not merely its
// lead and trail bytes in range).
bool IsAssignedCp932Pair(unsigned char lead, unsigned char trail);
// Valid CP932: every double-byte character is an assigned pair, and no byte stands alone that
// only a pair may hold.
bool IsValidCp932(std::string_view text);
// Well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF, nothing cut off.
bool IsValidUtf8(std::string_view text);
// Length in bytes of the character starting at text[pos] (1 or 2; 1 for a lone lead byte at the end).
inline std::size_t Cp932CharLength(std::string_view text, std::size_t pos)
{
    return IsCp932Lead(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

// The longest prefix of at most maxBytes bytes that ends on a character boundary.
std::string_view Cp932Cut(std::string_view text, std::size_t maxBytes);
// "A".."Z" to "a".."z" in single-byte characters only; the trail byte of a double-byte character
// (which may look like an ASCII letter) is left alone.
std::string Cp932AsciiLower(std::string_view text);
// Position of the first occurrence of word at or after from that starts on a character boundary,
// or npos. A trail byte such as 0x5C never starts a match.
std::size_t Cp932Find(std::string_view text, std::string_view word, std::size_t from = 0);

// Drops a UTF-8 byte-order mark at the start.
std::string_view StripUtf8Bom(std::string_view text);

} // namespace kavo
