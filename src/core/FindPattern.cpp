#include "core/FindPattern.h"

#include "core/TkavoChItem.h"
#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "platform/TkavoRegExp.h"

namespace kavo {

std::string FindPatternFromInput(std::string_view input)
{
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!input.empty() && blank(input.front()))
        input.remove_prefix(1);
    while (!input.empty() && blank(input.back()))
        input.remove_suffix(1);
    if (input.empty())
        return {};
    TkavoRegExp regExp;
    regExp.Global = true;
    regExp.Pattern = Sjis("　") + "|\\s";
    return HtmlEncode(regExp.Replace(input, "|"));
}

std::string FindSubject(const std::string& channelName, const std::string& genre, const std::string& description)
{
    std::string text = channelName;
    AppendGenreDescription(text, genre, description);
    return text;
}

} // namespace kavo
