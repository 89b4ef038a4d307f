#include "settings/IniEncoding.h"

#include "platform/Cp932.h"

#include <algorithm>

namespace kavo {

namespace {

std::function<void(const std::string&)>& Utf8Handler()
{
    static std::function<void(const std::string&)> handler;
    return handler;
}

bool IsCp932Trail(unsigned char c)
{
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

} // namespace

bool IsValidCp932(std::string_view text)
{
    bool ascii = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) {
            ascii = ascii && c < 0x80;
            continue;
        }
        ascii = false;
        if (!IsCp932Lead(c) || i + 1 >= text.size() || !IsCp932Trail(static_cast<unsigned char>(text[i + 1])))
            return false;
        ++i;
    }
    // In range is not yet assigned: a pair without a mapping comes back as U+FFFD, which no CP932
    // character maps to.
    return ascii || Cp932ToUtf8(text).find("\xEF\xBF\xBD") == std::string::npos;
}

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned min = 0;
        unsigned code = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            min = 0x80;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            min = 0x800;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            min = 0x10000;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are no UTF-8.
        if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

bool ConvertUtf8SettingsText(std::string& text)
{
    if (IsValidCp932(text) || !IsValidUtf8(text))
        return false;
    // The mark has no CP932 form; the reader would drop it anyway.
    std::string_view body = text;
    while (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);
    text = Utf8ToCp932(body);
    return true;
}

void SetIniUtf8Handler(std::function<void(const std::string& path)> handler)
{
    Utf8Handler() = std::move(handler);
}

void ReportIniUtf8(const std::string& path)
{
    if (const auto& handler = Utf8Handler())
        handler(path);
}

} // namespace kavo
