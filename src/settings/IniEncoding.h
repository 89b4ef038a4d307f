#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kavo {

// Settings files are CP932. One that is not valid CP932 but is valid UTF-8 was saved by an editor
// in UTF-8: its text is converted to CP932 (a character without a CP932 form becomes "?") and true
// is returned. Every other text, a valid CP932 one above all, is left byte for byte; pure ASCII is
// both and needs nothing.
bool ConvertUtf8SettingsText(std::string& text);

// Told the path of every settings file that reading converted from UTF-8 (main thread).
void SetIniUtf8Handler(std::function<void(const std::string& path)> handler);
void ReportIniUtf8(const std::string& path);

} // namespace kavo
