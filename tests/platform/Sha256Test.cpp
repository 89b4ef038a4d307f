#include "platform/Sha256.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace kavo {
namespace {

std::string Digest(const std::string& data)
{
    const auto digest = Sha256(data);
    return Base64(std::string(digest.begin(), digest.end()));
}

TEST(Sha256, KnownDigestsInBase64)
{
    // Lengths around the block and padding edges: 0, 3, 55, 56, 64 and 1,000,000 bytes.
    struct Case
    {
        std::string Data;
        const char* Base64Digest;
    };
    const std::array<Case, 6> cases = {{
        {"", "47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU="},
        {"abc", "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0="},
        {std::string(55, 'a'), "n0OQ+NMMLdkuyfCVtl4rmumwqSWlJY4kHJ8ekQ9zQxg="},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "JI1qYdIGOLjlwCaTDD5gOaM85Flk/yFn9uzt1BnbBsE="},
        {std::string(64, 'a'), "/+BU/nrgy23GXDr5th1SCfQ5hR20PQulmXM33xVGaOs="},
        {std::string(1000000, 'a'), "zcduXJkU+5KBocfihNc+Z/GAmkiklyAOBG05zMcRLNA="},
    }};
    for (const Case& c : cases)
        EXPECT_EQ(Digest(c.Data), c.Base64Digest) << c.Data.size() << " bytes";
}

TEST(Sha256, Base64Padding)
{
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64(std::string("\xff\xfe\x00", 3)), "//4A");
}

} // namespace
} // namespace kavo
