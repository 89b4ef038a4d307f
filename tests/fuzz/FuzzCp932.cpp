// CP932 to and from UTF-8: outputs are bounded and well formed, the validity checks agree with
// the conversions, and one round trip reaches a text that further round trips keep.
#include "FuzzSupport.h"

#include "platform/Cp932.h"

using namespace kavo;

namespace {
std::size_t CodePoints(std::string_view utf8)
{
    std::size_t count = 0;
    for (const char c : utf8)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = fuzz::Text(data, size);

    const std::string utf8 = Cp932ToUtf8(input);
    FUZZ_CHECK(utf8.size() <= 3 * input.size());
    FUZZ_CHECK(fuzz::IsUtf8(utf8));
    // What the checks call valid converts without a replacement character.
    if (IsValidCp932(input))
        FUZZ_CHECK(utf8.find("\xEF\xBF\xBD") == std::string::npos);
    FUZZ_CHECK(IsValidUtf8(input) == fuzz::IsUtf8(input));
    const std::string cp932 = Utf8ToCp932(utf8);
    FUZZ_CHECK(cp932.size() <= utf8.size());
    FUZZ_CHECK(Cp932ToUtf8(cp932) == Cp932ToUtf8(Utf8ToCp932(Cp932ToUtf8(cp932))));

    const std::string back = Utf8ToCp932(input);
    FUZZ_CHECK(back.size() <= input.size());
    // Valid UTF-8 whose characters all have a CP932 form comes back character for character (a few
    // characters share a form, so not always as the same ones).
    if (fuzz::IsUtf8(input) && back.find('?') == std::string::npos)
        FUZZ_CHECK(CodePoints(Cp932ToUtf8(back)) == CodePoints(input));

    // Cuts and searches stay on character boundaries.
    const std::string_view cut = Cp932Cut(input, input.size() / 2);
    FUZZ_CHECK(cut.size() <= input.size() / 2);
    FUZZ_CHECK(Cp932Cut(input, input.size()) == input);
    const std::size_t hit = Cp932Find(input, "\\");
    if (hit != std::string_view::npos)
        FUZZ_CHECK(Cp932Cut(input, hit).size() == hit);
    return 0;
}
