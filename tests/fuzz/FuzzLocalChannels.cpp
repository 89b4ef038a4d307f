// The local server's status document: never more records than channel elements, attribute values
// without their quotes, and an untaken document leaves the earlier list alone.
#include "FuzzSupport.h"

#include "net/LocalChannels.h"
#include "platform/RegularExpression.h"

#include <memory>

using namespace kavo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = fuzz::Text(data, size);
    RegularExpression regExp;
    TkavoChList list;
    auto earlier = std::make_unique<TkavoChItem>();
    earlier->Hash = "earlier";
    list.Add(std::move(earlier));

    const bool taken = ParseLocalChannels(input, regExp, list);
    if (!taken) {
        FUZZ_CHECK(list.Count() == 1 && list[0].Hash == "earlier");
        return 0;
    }
    // Each record needs an opening and a closing tag.
    std::size_t opens = 0;
    for (const char c : input)
        opens += c == '<';
    FUZZ_CHECK(2 * static_cast<std::size_t>(list.Count()) <= opens);
    for (const TkavoChItem& channel : list) {
        FUZZ_CHECK(channel.Hash.find('"') == std::string::npos);
        FUZZ_CHECK(channel.LocalStatus.find('"') == std::string::npos);
    }
    return 0;
}
