#include "platform/RegularExpression.h"

#include "platform/Cp932.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

namespace kavo {
namespace {

struct FirstMatchCase
{
    const char* name;
    std::string pattern;
    std::string subject;
    bool ignoreCase;
    bool multiline;
    std::optional<std::string> expected; // the first match, or none
};

TEST(RegularExpressionTest, FirstMatchFollowsEcmaScript)
{
    const std::array<FirstMatchCase, 38> cases{{
        {"alternation", "foo|bar", "xxbarfoo", false, false, "bar"},
        {"class with range", "[a-c]+\\d", "zzab3", false, false, "ab3"},
        {"negated class", "[^0-9]+", "123abc", false, false, "abc"},
        {"empty class never matches", "a[]", "a]", false, false, std::nullopt},
        {"negated empty class matches a line end", "a[^]b", "a\nb", false, false, "a\nb"},
        {"^ only at start", "^b", "a\r\nb", false, false, std::nullopt},
        {"^ after CR LF with multiline", "^b", "a\r\nb", false, true, "b"},
        {"^ after lone CR with multiline", "^b", "a\rb", false, true, "b"},
        {"$ only at the very end", "a$", "a\r\nb", false, false, std::nullopt},
        {"$ not before a final LF", "b$", "ab\n", false, false, std::nullopt},
        {"$ before CR LF with multiline", "a$", "a\r\nb", false, true, "a"},
        {"a whole middle line", "^b+$", "a\r\nbb\r\nc", false, true, "bb"},
        {"dot stops at CR", "a.b", "a\rb", false, false, std::nullopt},
        {"dot stops at LF", "a.b", "a\nb", false, false, std::nullopt},
        {"dot takes any other", "a.b", "a\tb", false, false, "a\tb"},
        {"greedy", "<.+>", "<a><b>", false, false, "<a><b>"},
        {"lazy", "<.+?>", "<a><b>", false, false, "<a>"},
        {"lazy braces", "a{2,}?", "aaaa", false, false, "aa"},
        {"look-ahead", "\\w+(?=:)", "key: v", false, false, "key"},
        {"negative look-ahead", "ab(?!c)", "abcabd", false, false, "ab"},
        {"back reference", "(\\w)\\1", "abccd", false, false, "cc"},
        {"back reference to an unset group is empty", "(a)?b\\1", "bc", false, false, "b"},
        {"\\u escape", "\\u0041", "xA", false, false, "A"},
        {"\\x escape", "\\x41", "xA", false, false, "A"},
        {"short \\u is a literal u", "\\u12", "u12", false, false, "u12"},
        {"\\w stays ASCII", "\\w+", Sjis("ＡＢabc"), false, false, "abc"},
        {"\\d stays ASCII", "\\d", Sjis("１2"), false, false, "2"},
        {"case matters by default", "ABC", "xabc", false, false, std::nullopt},
        {"ASCII without case", "ABC", "xabcx", true, false, "abc"},
        {"full-width Latin without case", Sjis("ａｂｃ"), Sjis("xＡＢＣ"), true, false, Sjis("ＡＢＣ")},
        {"full-width Latin with case", Sjis("ａｂｃ"), Sjis("ＡＢＣ"), false, false, std::nullopt},
        {"Greek without case", Sjis("α"), Sjis("Α"), true, false, Sjis("Α")},
        {"Cyrillic without case", Sjis("Я"), Sjis("я"), true, false, Sjis("я")},
        {"kanji without case", Sjis("漢字"), Sjis("この漢字です"), true, false, Sjis("漢字")},
        // "ア" is 0x83 0x41 and "ヂ" 0x83 0x61: their trail bytes differ only in ASCII case.
        {"kana trail bytes are not letters", Sjis("ア"), Sjis("ヂ"), true, false, std::nullopt},
        {"ASCII letter never hits a trail byte", "a", Sjis("ア"), true, false, std::nullopt},
        {"kana with itself", Sjis("ア+"), Sjis("xアア"), true, false, Sjis("アア")},
        {"class of kana", Sjis("[ぁ-ん]+"), Sjis("漢ひらがなカナ"), false, false, Sjis("ひらがな")},
    }};
    for (const auto& c : cases) {
        RegularExpression re;
        re.Pattern = c.pattern;
        re.IgnoreCase = c.ignoreCase;
        re.Multiline = c.multiline;
        const auto matches = re.Execute(c.subject);
        EXPECT_EQ(re.Test(c.subject), c.expected.has_value()) << c.name;
        if (c.expected) {
            ASSERT_EQ(matches.size(), 1u) << c.name;
            EXPECT_EQ(matches[0].Value, *c.expected) << c.name;
        } else {
            EXPECT_TRUE(matches.empty()) << c.name;
        }
    }
}

TEST(RegularExpressionTest, ExecuteReportsCp932Offsets)
{
    const std::string subject = Sjis("表示ABC表xyz");
    RegularExpression re;
    re.Pattern = "(B)(C)|(z)";
    auto matches = re.Execute(subject);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].FirstIndex, 5u);
    EXPECT_EQ(matches[0].Length, 2u);
    EXPECT_EQ(matches[0].Value, "BC");
    EXPECT_EQ(matches[0].SubMatches, (std::vector<std::string>{"B", "C", ""}));

    re.Global = true;
    matches = re.Execute(subject);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[1].FirstIndex, 11u);
    EXPECT_EQ(matches[1].SubMatches, (std::vector<std::string>{"", "", "z"}));

    re.Pattern = Sjis("表(.)");
    matches = re.Execute(subject);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].FirstIndex, 0u);
    EXPECT_EQ(matches[0].Length, 4u);
    EXPECT_EQ(matches[0].SubMatches, std::vector<std::string>{Sjis("示")});
    EXPECT_EQ(matches[1].FirstIndex, 7u);
    EXPECT_EQ(matches[1].Value, Sjis("表x"));
}

TEST(RegularExpressionTest, TrailByteBackslashIsNotABackslash)
{
    // "表" is 0x95 0x5C; its trail byte is the code of "\".
    RegularExpression re;
    re.Pattern = "\\\\";
    re.Global = true;
    EXPECT_FALSE(re.Test(Sjis("表示")));
    const auto matches = re.Execute(Sjis("表\\示"));
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].FirstIndex, 2u);
    EXPECT_EQ(re.Replace(Sjis("表\\示\\"), "/"), Sjis("表/示/"));
}

TEST(RegularExpressionTest, BrokenSubjectBytesStayWhole)
{
    // Lone lead byte at the end, a lead byte before a control character, unassigned codes, a NUL.
    const std::array<std::string, 5> subjects{
        std::string("ab\x81"),
        std::string("\x81\x0a\\x"),
        std::string("\x85\x5c\x80\xa0\xfd\xfe\xff"),
        std::string("a\0b\x95\x5c", 5),
        Sjis("表") + std::string("\xEF\xBF\xBD\xF0\x9F"),
    };
    RegularExpression re;
    re.Global = true;
    for (const auto& subject : subjects) {
        re.Pattern = "[^]";
        std::string joined;
        for (const auto& match : re.Execute(subject)) {
            EXPECT_EQ(match.FirstIndex, joined.size()) << subject;
            EXPECT_EQ(subject.substr(match.FirstIndex, match.Length), match.Value) << subject;
            joined += match.Value;
        }
        EXPECT_EQ(joined, subject);
        // A double-byte character, broken or not, never yields a backslash.
        re.Pattern = "\\\\";
        EXPECT_EQ(re.Execute(subject).size(), subject == subjects[1] ? 1u : 0u) << subject;
    }
}

struct ReplaceCase
{
    const char* name;
    std::string pattern;
    bool global;
    std::string subject;
    std::string replacement;
    std::string expected;
};

TEST(RegularExpressionTest, ReplaceExpandsLikeJavaScript)
{
    const std::array<ReplaceCase, 17> cases{{
        {"groups swapped", "(\\w+)@(\\w+)", false, "me@host", "$2 at $1", "host at me"},
        {"whole match, first only", "b", false, "abcb", "[$&]", "a[b]cb"},
        {"whole match, global", "b", true, "abcb", "[$&]", "a[b]c[b]"},
        {"dollar", "b", false, "abcb", "$$", "a$cb"},
        {"before and after", "b", false, "abc", "$`|$'", "aa|cc"},
        {"unknown stays literal", "(b)", false, "abc", "$1$9$x$0$", "ab$9$x$0$c"},
        {"one digit when two name no group", "(b)", false, "abc", "$10", "ab0c"},
        {"two digits", "(b)", false, "abc", "$01", "abc"},
        {"unmatched group is empty", "(a)|(b)", true, "ab", "[$2]", "[][b]"},
        {"empty matches, global", "x*", true, "abc", "-", "-a-b-c-"},
        {"empty match, first only", "x*", false, "abc", "-", "-abc"},
        {"empty match after a match", "a*", true, "baaac", "-", "-b--c-"},
        {"no match", "z", true, "abc", "-", "abc"},
        {"empty subject", "^$", true, "", "e", "e"},
        {"double-byte text kept whole", Sjis("表(.)"), true, Sjis("表示と表ア"), Sjis("[$1裏]"),
         Sjis("[示裏]と[ア裏]")},
        {"empty matches step over double-byte characters", "", true, Sjis("表ア"), "|", Sjis("|表|ア|")},
        {"multiline anchors", "^", true, "a\nb\rc", ">", ">a\n>b\r>c"},
    }};
    for (const auto& c : cases) {
        RegularExpression re;
        re.Pattern = c.pattern;
        re.Global = c.global;
        re.Multiline = std::string_view(c.name) == "multiline anchors";
        EXPECT_EQ(re.Replace(c.subject, c.replacement), c.expected) << c.name;
    }
}

TEST(RegularExpressionTest, InvalidPatternThrowsFromEveryOperation)
{
    RegularExpression re;
    re.Pattern = "(";
    EXPECT_THROW(re.Test("a"), RegularExpressionError);
    EXPECT_THROW(re.Execute("a"), RegularExpressionError);
    EXPECT_THROW(re.Replace("a", "b"), RegularExpressionError);
    // Twice: the second error comes from the cache and must read the same.
    for (int i = 0; i < 2; ++i) {
        try {
            re.Test("");
            FAIL() << "no error";
        } catch (const RegularExpressionError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("missing closing parenthesis"), std::string::npos) << message;
            EXPECT_NE(message.find("offset 1"), std::string::npos) << message;
        }
    }
    // The offset counts CP932 bytes of the pattern.
    re.Pattern = Sjis("表表)");
    try {
        re.Test("");
        FAIL() << "no error";
    } catch (const RegularExpressionError& e) {
        EXPECT_NE(std::string(e.what()).find("offset 4"), std::string::npos) << e.what();
    }
    re.Pattern = "a";
    EXPECT_TRUE(re.Test("a"));
}

TEST(RegularExpressionTest, RunawayBacktrackingThrows)
{
    RegularExpression re;
    re.Pattern = "(a+)+$";
    EXPECT_THROW(re.Test(std::string(40, 'a') + "!"), RegularExpressionError);
    re.Pattern = "b";
    EXPECT_TRUE(re.Test("ab"));
}

TEST(RegularExpressionTest, CacheKeepsResultsBeyondItsBound)
{
    RegularExpression re;
    const auto check = [&](int i) {
        re.Pattern = "K" + std::to_string(i) + "$";
        re.IgnoreCase = false;
        EXPECT_FALSE(re.Test("xk" + std::to_string(i))) << i;
        re.IgnoreCase = true;
        EXPECT_TRUE(re.Test("xk" + std::to_string(i))) << i;
        EXPECT_FALSE(re.Test("xk" + std::to_string(i) + "0")) << i;
        re.Pattern = "(" + std::to_string(i);
        EXPECT_THROW(re.Test(""), RegularExpressionError) << i;
    };
    for (int i = 0; i < 150; ++i)
        check(i);
    for (int i = 149; i >= 0; --i)
        check(i);
    for (int i = 0; i < 150; i += 7)
        check(i);
}

TEST(RegularExpressionTest, CopyHasItsOwnState)
{
    RegularExpression re;
    re.Pattern = "A";
    re.IgnoreCase = true;
    ASSERT_TRUE(re.Test("a"));
    RegularExpression copy(re);
    copy.Pattern = "b";
    EXPECT_TRUE(copy.Test("B"));
    EXPECT_TRUE(re.Test("a"));
    RegularExpression moved(std::move(copy));
    EXPECT_TRUE(moved.Test("xb"));
    copy = re;
    EXPECT_TRUE(copy.Test("a"));
}

} // namespace
} // namespace kavo
