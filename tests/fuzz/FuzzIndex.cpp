// A YP's index as it arrives: every record comes from a line with enough fields, its number is that
// line's, and parsing the same text again gives the same channels.
#include "FuzzSupport.h"

#include "core/TkavoYpItem.h"
#include "net/IndexParser.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"

using namespace kavo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input = fuzz::Text(data, size);
    const unsigned options = fuzz::TakeByte(input);
    YpRecord yp;
    yp.Url = "http://yp.example/";
    yp.Host = options & 1 ? "localhost:7144" : "";
    yp.ChatURLFix = options & 2;
    yp.ChType = options & 4 ? "wmv|flv" : "";
    yp.Bitrate = options & 8 ? "100,1000" : "";
    std::string converted;
    if (options & 16)
        converted = Utf8ToCp932(StripUtf8Bom(input));
    const std::string_view text = options & 16 ? std::string_view(converted) : input;

    RegularExpression regExp;
    ReplaceFromIndex(yp, text, regExp);
    const int lines = CountLines(text);
    FUZZ_CHECK(yp.ChList.Count() <= lines);
    std::int32_t previous = 0;
    for (const TkavoChItem& channel : yp.ChList) {
        FUZZ_CHECK(channel.No > previous && channel.No <= lines);
        previous = channel.No;
        for (const std::string* field : {&channel.ChannelName, &channel.Genre, &channel.ContactURL, &channel.Hash})
            FUZZ_CHECK(field->find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(channel.StreamURL.starts_with(yp.Host.empty() ? "peercast://pls/" : "http://localhost:7144/pls/"));
        if (options & 8)
            FUZZ_CHECK(channel.BitrateValue >= 100 && channel.BitrateValue < 1000);
    }

    // The same text again, over the records of the first parse, gives the same list.
    std::vector<std::string> names;
    for (const TkavoChItem& channel : yp.ChList)
        names.push_back(channel.ChannelName + "\n" + channel.Playing + "\n" + channel.Comment);
    ReplaceFromIndex(yp, text, regExp);
    FUZZ_CHECK(yp.ChList.Count() == static_cast<int>(names.size()));
    int i = 0;
    for (const TkavoChItem& channel : yp.ChList)
        FUZZ_CHECK(channel.ChannelName + "\n" + channel.Playing + "\n" + channel.Comment == names[i++]);
    return 0;
}
