#include "net/ContentDecoder.h"

#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace kavo {
namespace {

using test::BodyEncoding;

struct Form
{
    const char* name;
    BodyEncoding server;
    ContentEncoding client;
};
constexpr std::array<Form, 3> Forms = {{
    {"gzip", BodyEncoding::Gzip, ContentEncoding::Gzip},
    {"deflate", BodyEncoding::Deflate, ContentEncoding::Deflate},
    {"raw deflate", BodyEncoding::RawDeflate, ContentEncoding::Deflate},
}};

std::string Text()
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += "channel " + std::to_string(i * 7919 % 1000) + "<>ABCDEF<>\r\n";
    return text;
}

// However the pieces fall, the whole stream decodes, and only the whole stream finishes.
TEST(ContentDecoderTest, DecodesAnySplitAndRefusesEveryCut)
{
    const std::string text = Text();
    for (const Form& form : Forms) {
        const std::string encoded = test::Encode(text, form.server);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, encoded.size()}) {
            ContentDecoder decoder(form.client, 1 << 20);
            std::string out;
            for (std::size_t at = 0; at < encoded.size(); at += piece)
                ASSERT_TRUE(decoder.Feed(std::string_view(encoded).substr(at, piece), out)) << form.name;
            EXPECT_TRUE(decoder.Finish()) << form.name << " " << decoder.Error();
            EXPECT_EQ(out, text) << form.name << " in pieces of " << piece;
        }
        for (std::size_t cut = 1; cut < encoded.size(); cut += 13) {
            ContentDecoder decoder(form.client, 1 << 20);
            std::string out;
            decoder.Feed(std::string_view(encoded).substr(0, cut), out);
            EXPECT_FALSE(decoder.Finish()) << form.name << " cut at " << cut;
            EXPECT_FALSE(decoder.Error().empty()) << form.name << " cut at " << cut;
        }
    }
}

TEST(ContentDecoderTest, StopsAtTheSizeLimit)
{
    const std::string bomb = test::GzipBomb(std::uint64_t{8} << 20);
    ContentDecoder decoder(ContentEncoding::Gzip, 1 << 20);
    std::string out;
    EXPECT_FALSE(decoder.Feed(bomb, out));
    EXPECT_TRUE(decoder.TooLarge());
    EXPECT_LE(out.size(), std::size_t{1} << 20);
    EXPECT_FALSE(decoder.Finish());

    ContentDecoder identity(ContentEncoding::Identity, 4);
    out.clear();
    EXPECT_TRUE(identity.Feed("abcd", out));
    EXPECT_FALSE(identity.Feed("e", out));
    EXPECT_TRUE(identity.TooLarge());
}

TEST(ContentDecoderTest, NamesEncodingsWithoutRegardToCase)
{
    const std::array<std::pair<const char*, ContentEncoding>, 7> cases = {{
        {"", ContentEncoding::Identity},
        {" identity ", ContentEncoding::Identity},
        {"GZIP", ContentEncoding::Gzip},
        {"x-gzip", ContentEncoding::Gzip},
        {"Deflate\r\n", ContentEncoding::Deflate},
        {"br", ContentEncoding::Unknown},
        {"gzip, gzip", ContentEncoding::Unknown},
    }};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(ContentEncodingOf(value), expected) << value;
}

} // namespace
} // namespace kavo
