#include "core/FindPattern.h"

#include "core/ChannelSearch.h"
#include "core/TkavoChItem.h"
#include "platform/RegularExpression.h"

namespace kavo {

std::string FindPatternFromInput(std::string_view input)
{
    // The find dialog's own rule, with an object of its own.
    RegularExpression regExp;
    return MakeSearchPattern(input, regExp);
}

std::string FindSubject(const std::string& channelName, const std::string& genre, const std::string& description)
{
    std::string text = channelName;
    AppendGenreDescription(text, genre, description);
    return text;
}

} // namespace kavo
