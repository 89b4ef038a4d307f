#pragma once

// What the readers of the rules formats share: values taken from JSON with the place of a fault.

#include "core/Color.h"
#include "platform/RegularExpression.h"
#include "rules/RulesFile.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace kavo::rules {

using Json = nlohmann::ordered_json;

[[noreturn]] void Fail(const std::string& where, const std::string& what);

// "favorites" and 3 give "favorites[3]"; "favorites[3]" and "word" give "favorites[3].word".
std::string Item(std::string_view list, std::size_t index);
std::string Member(std::string_view object, std::string_view key);

// A text as the settings hold it, in CP932.
std::string Utf8(std::string_view cp932);

// Takes values out of a document, each checked, and says where one is wrong.
class ValueReader
{
public:
    bool Flag(const Json& value, const std::string& where);
    // A UTF-8 text as CP932. It must have a Shift-JIS form and no line break, and with exact it
    // must not begin or end with a blank: the settings file would not keep it as it is.
    std::string Text(const Json& value, const std::string& where, bool exact = true);
    ColorValue Colour(const Json& value, const std::string& where);
    // A pattern as favorites and YP type filters use it (CP932).
    void CheckPattern(const std::string& pattern, const std::string& where);

private:
    RegularExpression m_regExp;
};

// "#RRGGBB", "system:NAME" or the stored number.
Json ColourJson(ColorValue color);

// peercast-yt's filter file, a top-level array.
RulesReading ReadPeercastYtFilters(const Json& filters, ValueReader& values);

} // namespace kavo::rules
