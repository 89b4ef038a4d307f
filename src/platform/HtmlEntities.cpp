#include "platform/HtmlEntities.h"

#include <array>
#include <utility>

namespace kavo {

namespace {

constexpr std::array<std::pair<char, std::string_view>, 6> Entities = {{
    {'&', "&amp;"},
    {'<', "&lt;"},
    {'>', "&gt;"},
    {' ', "&nbsp;"},
    {'"', "&quot;"},
    {'\'', "&#039;"},
}};

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, std::size_t pos, std::string_view lowerWord)
{
    if (text.size() - pos < lowerWord.size())
        return false;
    for (std::size_t i = 0; i < lowerWord.size(); ++i)
        if (AsciiLower(text[pos + i]) != lowerWord[i])
            return false;
    return true;
}

std::size_t EntityLength(char plain)
{
    for (const auto& [character, entity] : Entities)
        if (character == plain)
            return entity.size();
    return 1;
}

bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsHexDigit(char c)
{
    return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// What a character becomes in a page; "" when it stays. The five are below 0x40, never the trail
// byte of a CP932 character, so bytes may be looked at one by one.
constexpr std::string_view SafeForm(char c)
{
    switch (c) {
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\'':
        return "&#039;";
    default:
        return {};
    }
}

// The bytes a page value may need changed for: the four of SafeForm and "&".
constexpr std::array<bool, 256> MayNeedChange = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : std::string_view("<>\"'&"))
        table[c] = true;
    return table;
}();

} // namespace

std::size_t CharacterReferenceLength(std::string_view text, std::size_t pos)
{
    // The longest named reference has 31 letters; longer numbers only name U+FFFD.
    constexpr std::size_t LongestBody = 32;
    std::size_t i = pos + 1;
    std::size_t bodyStart = i;
    bool (*allowed)(char) = nullptr;
    if (i < text.size() && text[i] == '#') {
        ++i;
        if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
            ++i;
            allowed = IsHexDigit;
        } else {
            allowed = IsAsciiDigit;
        }
        bodyStart = i;
    } else if (i < text.size() && IsAsciiLetter(text[i])) {
        allowed = [](char c) { return IsAsciiLetter(c) || IsAsciiDigit(c); };
    } else {
        return 0;
    }
    while (i < text.size() && i - bodyStart < LongestBody && allowed(text[i]))
        ++i;
    if (i == bodyStart || i >= text.size() || text[i] != ';')
        return 0;
    return i + 1 - pos;
}

bool NeedsHtmlSafe(std::string_view text)
{
    // Most values need nothing: one table look-up a byte finds that out.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!MayNeedChange[static_cast<unsigned char>(text[i])])
            continue;
        if (text[i] != '&' || CharacterReferenceLength(text, i) == 0)
            return true;
    }
    return false;
}

void AppendHtmlSafe(std::string& out, std::string_view text)
{
    std::size_t plainStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string_view replacement = SafeForm(c);
        if (c == '&') {
            const std::size_t reference = CharacterReferenceLength(text, i);
            if (reference != 0) {
                i += reference - 1;
                continue;
            }
            replacement = "&amp;";
        }
        if (replacement.empty())
            continue;
        out.append(text, plainStart, i - plainStart);
        out += replacement;
        plainStart = i + 1;
    }
    out.append(text, plainStart);
}

std::string HtmlSafe(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    AppendHtmlSafe(out, text);
    return out;
}

// All six characters are below 0x40 and so never the trail byte of a CP932 character: working on
// bytes is safe. No entity contains a character of a later row, so one pass equals six.
std::string HtmlEncode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (const char c : text) {
        bool escaped = false;
        for (const auto& [plain, entity] : Entities)
            if (c == plain) {
                out += entity;
                escaped = true;
                break;
            }
        if (!escaped)
            out += c;
    }
    return out;
}

// One pass that gives what six replace-all passes in table order give: a "&" decoded from "&amp;"
// can still start one of the five later entities, and no other decoded character can take part
// in an entity.
std::string HtmlDecode(std::string_view text)
{
    std::string out;
    HtmlDecode(text, out);
    return out;
}

void HtmlDecode(std::string_view text, std::string& out)
{
    out.clear();
    std::size_t amp = text.find('&');
    if (amp == std::string_view::npos) {
        out.assign(text);
        return;
    }
    // The character of the entity after "&amp;" at pos (its "&" already there), or 0.
    auto laterEntity = [&](std::size_t pos) -> char {
        for (std::size_t row = 1; row < Entities.size(); ++row)
            if (StartsWithNoCase(text, pos, Entities[row].second.substr(1)))
                return Entities[row].first;
        return 0;
    };
    out.reserve(text.size());
    std::size_t pos = 0;
    while (amp != std::string_view::npos) {
        out.append(text, pos, amp - pos);
        pos = amp + 1;
        if (StartsWithNoCase(text, amp, "&amp;")) {
            pos = amp + 5;
            // "&amp;lt;" becomes "&lt;" and then "<".
            if (const char plain = laterEntity(pos)) {
                out += plain;
                pos += EntityLength(plain) - 1;
            } else {
                out += '&';
            }
        } else if (const char plain = laterEntity(amp + 1)) {
            out += plain;
            pos = amp + EntityLength(plain);
        } else {
            out += '&';
        }
        amp = text.find('&', pos);
    }
    out.append(text, pos);
}

} // namespace kavo
