// HTML entities: encoding leaves no character the table names, decoding never grows a text, and a
// text without "&" comes back from encoding and decoding as it was. Text made safe for a page holds
// no markup character, every "&" in it starts a reference, and making it safe again changes nothing.
#include "FuzzSupport.h"

#include "platform/HtmlEntities.h"

using namespace kavo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = fuzz::Text(data, size);
    const std::string encoded = HtmlEncode(input);
    FUZZ_CHECK(encoded.find_first_of("<>\"' ") == std::string::npos);
    FUZZ_CHECK(encoded.size() <= 6 * input.size());
    const std::string decoded = HtmlDecode(input);
    FUZZ_CHECK(decoded.size() <= input.size());
    std::string reused = "left over";
    HtmlDecode(input, reused);
    FUZZ_CHECK(reused == decoded);
    if (input.find('&') == std::string_view::npos)
        FUZZ_CHECK(HtmlDecode(encoded) == input);

    const std::string safe = HtmlSafe(input);
    FUZZ_CHECK(safe.find_first_of("<>\"'") == std::string::npos);
    for (std::size_t at = safe.find('&'); at != std::string::npos; at = safe.find('&', at + 1))
        FUZZ_CHECK(CharacterReferenceLength(safe, at) != 0);
    FUZZ_CHECK(HtmlSafe(safe) == safe);
    FUZZ_CHECK(NeedsHtmlSafe(input) == (safe != input));
    FUZZ_CHECK(safe.size() <= 6 * input.size());
    return 0;
}
