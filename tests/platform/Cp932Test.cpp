#include "platform/Cp932.h"
#include "support/Hex.h"

#include <gtest/gtest.h>

#include <array>

namespace kavo {
namespace {

using test::Bytes;
using test::Hex;

struct RoundTrip
{
    const char* utf8;
    const char* cp932;
};

TEST(Cp932, ConvertsBothWaysIncludingExtensionCharacters)
{
    constexpr std::array<RoundTrip, 10> cases = {{
        {"漢字", "8abf8e9a"},
        {"かなカナ", "82a982c8834a8369"},
        {"ｶﾀｶﾅ", "b6c0b6c5"}, // half-width katakana, one byte each
        {"①", "8740"},        // NEC extension
        {"髙", "fbfc"},       // IBM extension
        {"∥", "8161"},
        {"～", "8160"},                 // U+FF5E, the code page's own tilde
        {"－", "817c"},                 // U+FF0D
        {"表示", "955c8ea6"},           // trail byte 0x5C
        {"abc\\~<>", "6162635c7e3c3e"}, // ASCII passes unchanged
    }};
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(Utf8ToCp932(c.utf8)), c.cp932) << c.utf8;
        EXPECT_EQ(Cp932ToUtf8(Bytes(c.cp932)), c.utf8) << c.utf8;
    }
}

TEST(Cp932, CharactersWithoutAFormBecomeQuestionMarks)
{
    constexpr std::array<RoundTrip, 4> cases = {{
        {"a𠮷b", "613f62"},
        {"😀x😀", "3f783f"},
        {"\xff\xfe"
         "a",
         "3f3f61"},         // invalid UTF-8
        {"\xe6\xbc", "3f"}, // truncated sequence at the end
    }};
    for (const auto& c : cases)
        EXPECT_EQ(Hex(Utf8ToCp932(c.utf8)), c.cp932) << Hex(c.utf8);
}

TEST(Cp932, InvalidBytesBecomeReplacementCharacters)
{
    const std::string bad = "\xEF\xBF\xBD";
    const std::array<std::pair<std::string, std::string>, 5> cases = {{
        {Bytes("80"), bad},
        {Bytes("a0 41"), bad + "A"},
        {Bytes("fd 82a0"), bad + "あ"},
        {Bytes("82a0 82"), "あ" + bad},   // lone lead byte at the end
        {Bytes("81 0a 41"), bad + "\nA"}, // lead byte followed by an invalid trail
    }};
    for (const auto& [in, expected] : cases)
        EXPECT_EQ(Cp932ToUtf8(in), expected) << Hex(in);
}

// Whole texts of bad bytes (a hostile index, a broken template) convert in one pass: 8 MiB of them
// took hours while the buffer was resized at each one.
TEST(Cp932, LongRunsOfInvalidBytesConvertInOnePass)
{
    constexpr std::size_t size = 8 << 20;
    const std::string bad = "\xEF\xBF\xBD";
    const std::string badCp932(size, '\x80');
    const std::string converted = Cp932ToUtf8(badCp932 + Sjis("あ"));
    ASSERT_EQ(converted.size(), size * bad.size() + 3);
    EXPECT_EQ(converted.substr(size * bad.size() - 3), bad + "あ");

    std::string badUtf8(size, '\xFF');
    badUtf8 += "あ";
    const std::string back = Utf8ToCp932(badUtf8);
    ASSERT_EQ(back.size(), size + 2);
    EXPECT_EQ(back.substr(size - 1), "?" + Sjis("あ"));
}

TEST(Cp932, CutNeverSplitsADoubleByteCharacter)
{
    const std::string text = Sjis("aあいb");
    constexpr std::array<std::pair<std::size_t, const char*>, 6> cases = {{
        {0, ""},
        {1, "a"},
        {2, "a"},
        {3, "aあ"},
        {4, "aあ"},
        {6, "aあいb"},
    }};
    for (const auto& [limit, expected] : cases)
        EXPECT_EQ(Cp932Cut(text, limit), Sjis(expected)) << limit;
    EXPECT_EQ(Cp932Cut(Bytes("41 82"), 5), Bytes("41 82")); // a lone lead byte is one character
}

TEST(Cp932, LowerFoldsOnlySingleByteAsciiLetters)
{
    // "ア" is 0x83 0x41: its trail byte looks like "A" and must stay.
    EXPECT_EQ(Cp932AsciiLower(Sjis("ABCアＡz")), Sjis("abcアＡz"));
}

TEST(Cp932, FindMatchesOnlyOnCharacterBoundaries)
{
    struct Case
    {
        std::string text, word;
        std::size_t expected;
    };
    const std::array<Case, 6> cases = {{
        {Sjis("表示"), "\\", std::string::npos}, // 0x5C inside "表"
        {Sjis("表\\"), "\\", 2},
        {Sjis("ソ"), "\\", std::string::npos}, // "ソ" is 0x83 0x5C
        {Sjis("ポ|"), "|", 2},                 // "ポ" is 0x83 0x7C
        {Sjis("アA"), "A", 2},                 // skips the trail byte 0x41
        {Sjis("abc"), "", 0},
    }};
    for (const auto& c : cases)
        EXPECT_EQ(Cp932Find(c.text, c.word), c.expected) << Hex(c.text) << " / " << c.word;
}

TEST(Cp932, KnowsWhichDoubleBytePairsAreAssigned)
{
    struct Case
    {
        unsigned char lead, trail;
        bool assigned;
    };
    const Case cases[] = {
        {0x81, 0x40, true},                       // ideographic space, the first pair
        {0x82, 0xA0, true},                       // hiragana a
        {0x81, 0x80, true},                       // a trail byte above 0x7F
        {0x87, 0x40, true},                       // circled digit one (NEC special row)
        {0xFA, 0x40, true},                       // small roman numeral one (IBM extension)
        {0xFC, 0x4B, true},                       // the last assigned pair
        {0x81, 0x7F, false},                      // 0x7F is never a trail byte
        {0x85, 0x40, false},                      // unassigned rows
        {0xEB, 0x40, false}, {0x81, 0xAD, false}, // unassigned cell in an assigned row
        {0xFC, 0x4C, false}, {0x41, 0x41, false}, // not a lead byte at all
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsAssignedCp932Pair(c.lead, c.trail), c.assigned) << std::hex << int(c.lead) << int(c.trail);
}

TEST(Cp932, StripsAByteOrderMark)
{
    EXPECT_EQ(StripUtf8Bom("\xEF\xBB\xBFname"), "name");
    EXPECT_EQ(StripUtf8Bom("name"), "name");
}

} // namespace
} // namespace kavo
