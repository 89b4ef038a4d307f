#include "settings/IniEncoding.h"

#include "platform/Cp932.h"

namespace kavo {

namespace {

std::function<void(const std::string&)>& Utf8Handler()
{
    static std::function<void(const std::string&)> handler;
    return handler;
}

} // namespace

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
