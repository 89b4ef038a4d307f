#include "rules/RulesFile.h"
#include "platform/Cp932.h"
#include "platform/RegularExpression.h"
#include "rules/RulesImport.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <string>

namespace kavo {
namespace {

std::string ReadData(const std::string& name)
{
    std::ifstream in(std::string(KAVO_TEST_DATA) + "/rules/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ErrorOf(const std::string& text)
{
    try {
        ParseRules(text);
    } catch (const RulesError& error) {
        return error.what();
    }
    return "(no error)";
}

FavoriteFields Favorite(const std::string& title, const std::string& word)
{
    FavoriteFields favorite;
    favorite.Title = title;
    favorite.Word = word;
    favorite.Channel = true;
    return favorite;
}

YpFields Yp(const std::string& title, const std::string& url)
{
    YpFields yp;
    yp.Title = title;
    yp.Url = url;
    return yp;
}

template <class List, class Fields>
void Fill(List& list, const std::vector<Fields>& entries)
{
    list.Clear();
    for (const Fields& entry : entries) {
        auto item = std::make_unique<typename std::remove_reference_t<decltype(list[0])>>();
        static_cast<Fields&>(*item) = entry;
        list.Add(std::move(item));
    }
}

// Every field of both records is set in the golden file, so a field that export, import or the
// settings file loses changes the bytes.
TEST(RulesFileTest, ExportImportReplaceThroughTheSettingsFileGivesTheSameBytes)
{
    const std::string golden = ReadData("every-field.json");
    const RulesReading reading = ParseRules(golden);
    ASSERT_EQ(reading.Format, RulesFormat::Kavo);
    ASSERT_TRUE(reading.Notes.empty());
    ASSERT_EQ(reading.Rules.Favorites->size(), 2u);
    ASSERT_EQ(reading.Rules.Yps->size(), 2u);
    EXPECT_EQ(RulesText(reading.Rules), golden);

    // Into settings that hold other rules, through kavo.ini on disk, and out again.
    test::TempFolder folder;
    const std::string ini = folder / "kavo.ini";
    TkavoSetting setting;
    Fill(setting.Favorites, std::vector{Favorite("old", "x")});
    Fill(setting.YpList, std::vector{Yp("old", "http://old.example/")});
    const ImportSummary summary = ImportRules(reading, ImportMode::Replace, setting);
    EXPECT_EQ(summary.Favorites.Added, 2);
    EXPECT_EQ(summary.Favorites.Replaced, 1);
    EXPECT_EQ(summary.Yps.Added, 2);
    EXPECT_EQ(summary.Yps.Replaced, 1);
    setting.Save(ini);
    TkavoSetting loaded;
    loaded.Load(ini);
    EXPECT_EQ(RulesText(RulesOf(loaded)), golden);

    // The settings file stays Shift-JIS.
    const std::string bytes = IniFile::Read(ini).ReadString("Favorite", "Title0", "");
    EXPECT_EQ(bytes, Sjis("ゲーム実況"));
}

TEST(RulesFileTest, ColoursReadAndWriteInTheirReadableForms)
{
    struct Case
    {
        ColorValue Value;
        const char* Written;
    };
    const Case cases[] = {
        {0x000000FF, "\"#FF0000\""}, // red is the low byte
        {0x00C0E0FF, "\"#FFE0C0\""},
        {clWindow, "\"system:window\""},
        {clHighlightText, "\"system:highlightText\""},
        {SystemColor(25), "\"system:25\""}, // a number Windows gives no name
        {0x20000000, "536870912"},          // neither RGB nor system: the stored number
        {0x1FFFFFFF, "536870911"},
    };
    for (const Case& c : cases) {
        FavoriteFields favorite;
        favorite.Color = c.Value;
        const std::string text = RulesText(RuleSet{std::vector{favorite}, std::nullopt});
        EXPECT_NE(text.find(std::string("\"color\": ") + c.Written), std::string::npos) << c.Written << "\n" << text;
        EXPECT_EQ(ParseRules(text).Rules.Favorites->at(0).Color, c.Value) << c.Written;
    }
    // Hand-written forms: lower-case digits and names in any case.
    const auto colourOf = [](const std::string& json) {
        return ParseRules(R"({"version": 1, "favorites": [{"backgroundColor": {"color": )" + json + "}}]}")
            .Rules.Favorites->at(0)
            .Color;
    };
    EXPECT_EQ(colourOf("\"#00ff80\""), 0x0080FF00);
    EXPECT_EQ(colourOf("\"system:WINDOWTEXT\""), clWindowText);
}

TEST(RulesFileTest, EveryFaultIsRefusedWithItsPlace)
{
    struct Case
    {
        const char* Json;
        const char* Message; // the start of what() expected
    };
    const Case cases[] = {
        {"{\"version\": 1,\n \"favorites\": [}", "line 2, column 16: syntax error"},
        {"[1, 2", "line 1, column 6: syntax error"},
        {"{\"version\": 1, \"favorites\": [{\"title\": 1e999}]}", "number overflow parsing '1e999'"},
        {"\"text\"", "the file holds no rules"},
        {"{\"favorites\": []}", "version: missing"},
        {"{\"version\": 2}", "version: 2 is newer than the version this kavo reads (1)"},
        {"{\"version\": \"1\"}", "version: expected a whole number"},
        {"{\"version\": 1, \"rules\": []}", "rules: no such key"},
        {"{\"version\": 1, \"favorites\": {}}", "favorites: expected a list"},
        {"{\"version\": 1, \"favorites\": [3]}", "favorites[0]: expected an object"},
        {"{\"version\": 1, \"favorites\": [{\"colour\": \"#FF0000\"}]}", "favorites[0].colour: no such key"},
        {"{\"version\": 1, \"favorites\": [{\"enabled\": 1}]}", "favorites[0].enabled: expected true or false"},
        {"{\"version\": 1, \"favorites\": [{\"title\": null}]}", "favorites[0].title: expected a text"},
        {"{\"version\": 1, \"favorites\": [{\"word\": \"a\", \"regex\": \"b\"}]}",
         "favorites[0].regex: give either \"word\" or \"regex\", not both"},
        {"{\"version\": 1, \"favorites\": [{\"fields\": [\"channel\", \"genre\"]}]}",
         "favorites[0].fields[1]: a field is"},
        {"{\"version\": 1, \"favorites\": [{\"textColor\": {\"color\": \"red\"}}]}",
         "favorites[0].textColor.color: a colour is \"#RRGGBB\""},
        {"{\"version\": 1, \"favorites\": [{\"textColor\": {\"on\": true}}]}",
         "favorites[0].textColor.on: no such key"},
        {"{\"version\": 1, \"favorites\": [{\"title\": \"a😀b\"}]}", "favorites[0].title: \"😀\" has no Shift-JIS form"},
        {"{\"version\": 1, \"favorites\": [{\"title\": \"two\\nlines\"}]}",
         "favorites[0].title: a line break or NUL character"},
        {"{\"version\": 1, \"favorites\": [{\"word\": \"word \"}]}",
         "favorites[0].word: the settings file does not keep blanks"},
        {"{\"version\": 1, \"yps\": [{\"title\": \"a\"}]}", "yps[0].url: a YP needs its URL"},
        {"{\"version\": 1, \"yps\": [{\"url\": \"http://a/\", \"type\": \"wmv|(\"}]}", "yps[0].type: missing closing"},
        {"{\"version\": 1, \"yps\": [{\"url\": \"http://a/\"}, {\"url\": \"http://b/\"}, {\"url\": \"http://a/\"}]}",
         "yps[2].url: the same URL as yps[0]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrorOf(c.Json).rfind(c.Message, 0), 0u) << c.Json << "\n  gave: " << ErrorOf(c.Json);
}

TEST(RulesFileTest, AnInvalidPatternInEntry12IsNamed)
{
    std::string json = "{\"version\": 1, \"favorites\": [";
    for (int i = 0; i < 12; ++i)
        json += "{\"title\": \"f" + std::to_string(i) + "\", \"regex\": \"a|b\"}, ";
    json += "{\"title\": \"bad\", \"regex\": \"(a|b\"}]}";
    EXPECT_EQ(ErrorOf(json), "favorites[12].regex: missing closing parenthesis at offset 4");
}

TEST(RulesFileTest, AddSkipsExactDuplicatesAndKeepsConfiguredYps)
{
    TkavoSetting setting;
    Fill(setting.Favorites, std::vector{Favorite("a", "x"), Favorite("b", "y")});
    Fill(setting.YpList, std::vector{Yp("one", "http://one/"), Yp("two", "http://two/")});

    FavoriteFields otherColour = Favorite("b", "y");
    otherColour.ColorEnabled = true;
    RulesReading reading;
    reading.Rules.Favorites = std::vector{Favorite("a", "x"), otherColour, Favorite("c", "z"), Favorite("c", "z")};
    reading.Rules.Yps =
        std::vector{Yp("one", "http://one/"), Yp("renamed", "http://two/"), Yp("three", "http://three/")};

    const ImportSummary summary = ImportRules(reading, ImportMode::Add, setting);
    EXPECT_EQ(summary.Favorites.Added, 2);   // b with its colour, and c once
    EXPECT_EQ(summary.Favorites.Skipped, 2); // a, and c a second time
    EXPECT_EQ(summary.Yps.Added, 1);
    EXPECT_EQ(summary.Yps.Skipped, 2);
    ASSERT_EQ(setting.Favorites.Count(), 4);
    EXPECT_TRUE(setting.Favorites[2].ColorEnabled);
    EXPECT_EQ(setting.Favorites[3].Title, "c");
    ASSERT_EQ(setting.YpList.Count(), 3);
    EXPECT_EQ(setting.YpList[1].Title, "two");
    EXPECT_EQ(setting.YpList[2].Url, "http://three/");
    // Only the YP whose values differ is worth a word.
    ASSERT_EQ(summary.Notes.size(), 1u);
    EXPECT_EQ(summary.Notes[0].rfind("yps[1] (http://two/): this YP is configured already", 0), 0u);
}

TEST(RulesFileTest, ASectionTheFileLeavesOutIsLeftAlone)
{
    TkavoSetting setting;
    Fill(setting.Favorites, std::vector{Favorite("a", "x")});
    Fill(setting.YpList, std::vector{Yp("one", "http://one/")});
    const RulesReading reading = ParseRules(R"({"version": 1, "favorites": []})");

    const ImportSummary summary = ImportRules(reading, ImportMode::Replace, setting);
    EXPECT_EQ(setting.Favorites.Count(), 0);
    EXPECT_EQ(setting.YpList.Count(), 1);
    EXPECT_TRUE(summary.Favorites.Present);
    EXPECT_FALSE(summary.Yps.Present);

    // Export of some favorites writes that section alone.
    Fill(setting.Favorites, std::vector{Favorite("a", "x"), Favorite("b", "y"), Favorite("c", "z")});
    const RuleSet chosen = FavoriteRules(setting.Favorites, {0, 2});
    EXPECT_FALSE(chosen.Yps);
    ASSERT_EQ(chosen.Favorites->size(), 2u);
    EXPECT_EQ(chosen.Favorites->at(1).Title, "c");
    EXPECT_EQ(RulesText(chosen).find("\"yps\""), std::string::npos);
}

TEST(RulesFileTest, PeercastYtFiltersBecomeFavoritesWithNotes)
{
    const RulesReading reading = ParseRules(ReadData("channelFilters.json"));
    EXPECT_EQ(reading.Format, RulesFormat::PeercastYt);
    EXPECT_FALSE(reading.Rules.Yps);
    ASSERT_EQ(reading.Rules.Favorites->size(), 6u);
    const std::vector<FavoriteFields>& f = *reading.Rules.Favorites;

    FavoriteFields streamer;
    streamer.Title = Sjis("好きな配信者");
    streamer.Enabled = true;
    streamer.RegExp = true;
    streamer.Word = Sjis("たろう|花子");
    streamer.Channel = true;
    streamer.ColorEnabled = true;
    streamer.Color = 0x00C0E0FF; // [255, 224, 192]
    EXPECT_EQ(f[0], streamer);

    EXPECT_TRUE(f[1].ListDisable); // "ignore"
    EXPECT_TRUE(f[1].Channel && f[1].Description && f[1].Comment);

    // AND and NOT over the same fields: one pattern of look-aheads.
    EXPECT_TRUE(f[2].Enabled);
    EXPECT_EQ(f[2].Word, R"(^(?=[\s\S]*?(?:game))(?=[\s\S]*?(?:live))(?![\s\S]*?(?:rerun)))");
    EXPECT_TRUE(f[2].Description);
    EXPECT_FALSE(f[2].Channel);

    // AND over other fields: the base search alone, disabled.
    EXPECT_FALSE(f[3].Enabled);
    EXPECT_EQ(f[3].Word, "^abc$");
    EXPECT_TRUE(f[3].Channel);
    EXPECT_FALSE(f[3].Comment);

    // Nothing kavo can search: disabled.
    EXPECT_FALSE(f[4].Enabled);

    EXPECT_TRUE(f[5].ChType && f[5].ContactURL && f[5].YpAddr);
    EXPECT_EQ(f[5].Color, 0x00FF8000); // [0, 128, 255]

    const std::vector<std::string> notes = {
        "[3] (mixed): its AND or NOT search looks in other fields than its base search, which one favorite cannot "
        "say; imported disabled with the base search alone",
        "[3] (mixed): kavo's favorites always ignore letter case",
        "[4] (tracker): kavo's favorites cannot search id, tip; left out",
        "[4] (tracker): it searches no field kavo's favorites have; imported disabled",
        "[5] (flv): kavo's favorites cannot search status; left out",
        "[5] (flv): it only colours channels in peercast-yt; here the channels it finds count as favorites too",
    };
    EXPECT_EQ(reading.Notes, notes);

    // The look-ahead pattern does what the three searches did.
    TkavoSetting setting;
    ImportRules(reading, ImportMode::Add, setting);
    RegularExpression regExp;
    regExp.IgnoreCase = true;
    regExp.Pattern = f[2].Word;
    EXPECT_TRUE(regExp.Test("[Game - live talk]"));
    EXPECT_FALSE(regExp.Test("[Game - talk]"));
    EXPECT_FALSE(regExp.Test("[Game - live, rerun]"));
}

TEST(RulesFileTest, APeercastYtFilterWithAnInvalidPatternIsRefused)
{
    EXPECT_EQ(ErrorOf(R"([{"name": "a"}, {"name": "b", "base_search": {"fields": ["name"], "search": "[x"}}])")
                  .rfind("[1].base_search.search: missing terminating ]", 0),
              0u);
}

// The schema shipped for editors documents every key the program writes, with the values an entry
// that leaves a key out gets.
TEST(RulesFileTest, TheSchemaDescribesWhatIsWritten)
{
    using Json = nlohmann::json;
    std::ifstream in(std::string(KAVO_TEST_DATA) + "/../../data/schema/kavo-rules.schema.json");
    const Json schema = Json::parse(in);
    const Json written =
        Json::parse(RulesText(ParseRules(R"({"version": 1, "favorites": [{}], "yps": [{"url": "u"}]})").Rules));
    for (const auto& [section, definition] : {std::pair("favorites", "favorite"), std::pair("yps", "yp")}) {
        const Json& properties = schema["$defs"][definition]["properties"];
        const Json& entry = written[section][0];
        for (const auto& [key, value] : entry.items()) {
            ASSERT_TRUE(properties.contains(key)) << section << "." << key << " is not in the schema";
            if (properties[key].contains("default")) {
                EXPECT_EQ(properties[key]["default"], value) << section << "." << key;
            }
        }
        for (const auto& [key, property] : properties.items())
            EXPECT_TRUE(entry.contains(key) || key == "word" || key == "regex") << key << " is never written";
    }
    const Json& fieldNames = schema["$defs"]["favorite"]["properties"]["fields"]["items"]["enum"];
    FavoriteFields all;
    all.Channel = all.Description = all.Comment = all.ContactURL = all.YpAddr = all.StreamURL = all.ChType =
        all.Listeners = all.Bitrate = true;
    EXPECT_EQ(Json::parse(RulesText(RuleSet{std::vector{all}, std::nullopt}))["favorites"][0]["fields"], fieldNames);
}

} // namespace
} // namespace kavo
