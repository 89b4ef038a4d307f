// Templates from the data, expanded with channel texts full of tags: a value is written as it is
// and never read again for tags, so swapping a plain value for a tag-laden one changes the output
// in exactly the places the value went. In the YP-style page a value full of markup adds no markup
// character to what the template itself writes.
#include "FuzzSupport.h"

#include "common/Templates.h"
#include "core/TkavoChItem.h"

#include <algorithm>

using namespace kavo;

namespace {

void FillTexts(TkavoChItem& channel, const std::string& value)
{
    for (std::string* field :
         {&channel.ChannelName, &channel.Description, &channel.Genre, &channel.Playing, &channel.ContactURL,
          &channel.ChatURL, &channel.StatisticsURL, &channel.Type, &channel.StreamURL, &channel.DirectStreamURL,
          &channel.Hash, &channel.YpAddr, &channel.BroadcastTime, &channel.Status, &channel.Comment, &channel.Bitrate})
        *field = value;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input = fuzz::Text(data, size);
    const unsigned choice = fuzz::TakeByte(input);
    const TagSet set = choice % 4 == 0   ? TagSet::Path
                       : choice % 4 == 1 ? TagSet::List
                       : choice % 4 == 2 ? TagSet::Channel
                                         : TagSet::Command;
    const std::string source(input);
    const CompiledTemplate compiled(source, set);
    FUZZ_CHECK(compiled.Text() == source);

    // A sentinel the template does not hold, and a value made of tags and escape forms.
    const std::string sentinel = "\x01\x02";
    if (source.find('\x01') != std::string::npos)
        return 0;
    const std::string hostile = "<hash/>$ee{<channelname/>}$es{<NUM/>}<inputbox/><templatepath/><results/>";

    TkavoChItem plain;
    FillTexts(plain, sentinel);
    TkavoChItem tagged;
    FillTexts(tagged, hostile);
    TkavoChList list;
    const std::string withSentinel = compiled.Expand({nullptr, &plain, &list, sentinel});
    const std::string withTags = compiled.Expand({nullptr, &tagged, &list, hostile});
    FUZZ_CHECK(withTags == ReplaceAll(withSentinel, sentinel, hostile));

    // Every slot writes one value at most a few times over.
    FUZZ_CHECK(withTags.size() <= (source.size() + 1) * (2 * hostile.size() + 64));

    if (set == TagSet::List || set == TagSet::Channel) {
        CompiledTemplate page(source, set);
        page.MarkPageScripts(set == TagSet::List);
        const PageMarks marks{"N", "P"};
        const std::string markup = "<script>x</script>\"'<img onerror=y>&";
        TkavoChItem hostileMarkup;
        FillTexts(hostileMarkup, markup);
        const auto markupCount = [](const std::string& text) {
            return std::count_if(text.begin(), text.end(), [](char c) { return c == '<' || c == '"' || c == '\''; });
        };
        TagValues plainValues{nullptr, &plain, &list, ""};
        plainValues.Page = &marks;
        TagValues markupValues{nullptr, &hostileMarkup, &list, ""};
        markupValues.Page = &marks;
        FUZZ_CHECK(markupCount(page.Expand(markupValues)) == markupCount(page.Expand(plainValues)));
    }
    return 0;
}
