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

} // namespace

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
