#include "platform/HtmlEntities.h"
#include "platform/Cp932.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>

namespace kavo {
namespace {

TEST(HtmlEntities, Encode)
{
    EXPECT_EQ(HtmlEncode("a<b & c"), "a&lt;b&nbsp;&amp;&nbsp;c");
    EXPECT_EQ(HtmlEncode("\"x\" 'y' >"), "&quot;x&quot;&nbsp;&#039;y&#039;&nbsp;&gt;");
    EXPECT_EQ(HtmlEncode("&amp;"), "&amp;amp;");
    EXPECT_EQ(HtmlEncode(Sjis("表示")), Sjis("表示"));
}

TEST(HtmlEntities, DecodeStepByStepWithoutCase)
{
    constexpr std::array<std::pair<const char*, const char*>, 8> cases = {{
        {"Tom &amp; Jerry", "Tom & Jerry"},
        {"&QUOT;x&quot;", "\"x\""},
        {"&amp;lt;", "<"}, // the "&lt;" left by the first step is decoded by the next
        {"&lt;&gt;&nbsp;&#039;", "<> '"},
        {"&copy;&#39;", "&copy;&#39;"},
        {"&Amp;amp;", "&amp;"}, // one step each: "&amp;" decoded once only
        {"&", "&"},
        {"a&nbsp", "a&nbsp"},
    }};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(HtmlDecode(in), out) << in;
}

} // namespace
} // namespace kavo

namespace kavo {
namespace {

// The decoder works in one pass; it must agree with six replace-all passes in table order.
std::string SixPassDecode(std::string text)
{
    const std::pair<char, std::string> table[] = {{'&', "&amp;"},  {'<', "&lt;"},   {'>', "&gt;"},
                                                  {' ', "&nbsp;"}, {'"', "&quot;"}, {'\'', "&#039;"}};
    for (const auto& [plain, entity] : table) {
        std::string out;
        for (std::size_t pos = 0; pos < text.size();) {
            bool hit = text.size() - pos >= entity.size();
            for (std::size_t i = 0; hit && i < entity.size(); ++i)
                hit = std::tolower(static_cast<unsigned char>(text[pos + i])) == entity[i];
            if (hit) {
                out += plain;
                pos += entity.size();
            } else {
                out += text[pos++];
            }
        }
        text = out;
    }
    return text;
}

TEST(HtmlEntities, DecodeAgreesWithStepByStepReplacement)
{
    const std::string pieces[] = {"&",     "amp;",  "AMP;", "lt;", "gt;",   "nbsp;",
                                  "quot;", "#039;", "a",    ";",   "&amp;", "&L"};
    std::uint32_t seed = 7;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int count = 1 + round % 7;
        for (int i = 0; i < count; ++i) {
            seed = seed * 1103515245 + 12345;
            text += pieces[(seed >> 16) % std::size(pieces)];
        }
        ASSERT_EQ(HtmlDecode(text), SixPassDecode(text)) << text;
    }
}

} // namespace
} // namespace kavo

namespace kavo {
namespace {

TEST(HtmlEntities, SafeForAPageKeepsReferences)
{
    struct Case
    {
        const char* In;
        const char* Out;
    };
    constexpr std::array<Case, 12> cases = {{
        {"plain text", "plain text"},
        {"A&B <test>", "A&amp;B &lt;test&gt;"},
        {"\"q\" 'a'", "&quot;q&quot; &#039;a&#039;"},
        {"<img src=x onerror=alert(1)>", "&lt;img src=x onerror=alert(1)&gt;"},
        // References the sender wrote stay, named or numbered, in any case of hex digit.
        {"&amp; &lt;b&gt; &#039; &#39; &#x27; &#X2F; &hearts;", "&amp; &lt;b&gt; &#039; &#39; &#x27; &#X2F; &hearts;"},
        // Anything short of one is a bare "&".
        {"& &; &#; &#x; &amp &#12a; &1;", "&amp; &amp;; &amp;#; &amp;#x; &amp;amp &amp;#12a; &amp;1;"},
        {"&&amp;", "&amp;&amp;"},
        {"a&", "a&amp;"},
        {"&abcdefghijklmnopqrstuvwxyzabcdefgh;", "&amp;abcdefghijklmnopqrstuvwxyzabcdefgh;"},
        {"&CounterClockwiseContourIntegral;", "&CounterClockwiseContourIntegral;"},
        {"", ""},
        {"<<>>", "&lt;&lt;&gt;&gt;"},
    }};
    for (const Case& c : cases) {
        EXPECT_EQ(HtmlSafe(c.In), c.Out) << c.In;
        EXPECT_EQ(NeedsHtmlSafe(c.In), std::string_view(c.In) != c.Out) << c.In;
        // Safe text stays as it is.
        EXPECT_EQ(HtmlSafe(c.Out), c.Out) << c.In;
    }
    // Trail bytes of CP932 characters that look like ASCII ("\" in ソ, 表, 能) are no markup.
    const std::string text = Sjis("ソ表能<x>&");
    EXPECT_EQ(HtmlSafe(text), Sjis("ソ表能&lt;x&gt;&amp;"));
}

} // namespace
} // namespace kavo
