#include "rules/RulesFile.h"

#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "platform/RegularFile.h"
#include "rules/RulesJson.h"
#include "settings/TkavoSetting.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <limits>
#include <unordered_map>

namespace kavo {
namespace rules {

void Fail(const std::string& where, const std::string& what)
{
    throw RulesError(where + ": " + what);
}

std::string Item(std::string_view list, std::size_t index)
{
    return std::string(list) + "[" + std::to_string(index) + "]";
}

std::string Member(std::string_view object, std::string_view key)
{
    return object.empty() ? std::string(key) : std::string(object) + "." + std::string(key);
}

std::string Utf8(std::string_view cp932)
{
    return Cp932ToUtf8(cp932);
}

namespace {

// Windows' system colour numbers by their names (COLOR_...); 25 has none.
constexpr std::array<std::string_view, 31> SystemColorNames = {
    "scrollbar",
    "desktop",
    "activeCaption",
    "inactiveCaption",
    "menu",
    "window",
    "windowFrame",
    "menuText",
    "windowText",
    "captionText",
    "activeBorder",
    "inactiveBorder",
    "appWorkspace",
    "highlight",
    "highlightText",
    "buttonFace",
    "buttonShadow",
    "grayText",
    "buttonText",
    "inactiveCaptionText",
    "buttonHighlight",
    "3dDarkShadow",
    "3dLight",
    "infoText",
    "infoBackground",
    "",
    "hotLight",
    "gradientActiveCaption",
    "gradientInactiveCaption",
    "menuHighlight",
    "menuBar",
};

constexpr std::string_view SystemPrefix = "system:";

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool SameWithoutCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// The first character of a UTF-8 text that CP932 cannot hold, or "".
std::string FirstWithoutForm(std::string_view utf8)
{
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::string_view character = utf8.substr(i, length);
        if (character != "?" && Utf8ToCp932(character) == "?")
            return std::string(character);
        i += length;
    }
    return {};
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

bool ValueReader::Flag(const Json& value, const std::string& where)
{
    if (!value.is_boolean())
        Fail(where, "expected true or false");
    return value.get<bool>();
}

std::string ValueReader::Text(const Json& value, const std::string& where, bool exact)
{
    if (!value.is_string())
        Fail(where, "expected a text");
    const std::string& utf8 = value.get_ref<const std::string&>();
    if (utf8.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        Fail(where, "a line break or NUL character cannot be kept in the settings file");
    if (exact && !utf8.empty() && (IsBlank(utf8.front()) || IsBlank(utf8.back())))
        Fail(where, "the settings file does not keep blanks at the start or end of a text");
    std::string cp932 = Utf8ToCp932(utf8);
    // A character without a Shift-JIS form came out as "?".
    if (std::count(cp932.begin(), cp932.end(), '?') != std::count(utf8.begin(), utf8.end(), '?'))
        Fail(where, "\"" + FirstWithoutForm(utf8) + "\" has no Shift-JIS form, which the settings file needs");
    return cp932;
}

ColorValue ValueReader::Colour(const Json& value, const std::string& where)
{
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto number = value.get<std::uint64_t>();
            if (number <= std::numeric_limits<std::uint32_t>::max())
                return static_cast<ColorValue>(static_cast<std::uint32_t>(number));
        } else {
            const auto number = value.get<std::int64_t>();
            if (number >= std::numeric_limits<std::int32_t>::min())
                return static_cast<ColorValue>(number);
        }
    } else if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        if (text.size() == 7 && text[0] == '#') {
            std::uint32_t rgb = 0;
            bool hex = true;
            for (std::size_t i = 1; i < 7 && hex; ++i) {
                const int digit = HexDigit(text[i]);
                hex = digit >= 0;
                rgb = rgb << 4 | static_cast<std::uint32_t>(digit);
            }
            // Stored as 0x00BBGGRR.
            if (hex)
                return static_cast<ColorValue>((rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16);
        } else if (text.starts_with(SystemPrefix)) {
            const std::string_view name = std::string_view(text).substr(SystemPrefix.size());
            for (std::size_t n = 0; n < SystemColorNames.size(); ++n)
                if (!SystemColorNames[n].empty() && SameWithoutCase(name, SystemColorNames[n]))
                    return SystemColor(static_cast<int>(n));
            std::uint32_t number = 0;
            const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
            if (!name.empty() && error == std::errc() && end == name.data() + name.size() && number <= 0xFFFFFF)
                return SystemColor(static_cast<int>(number));
        }
    }
    Fail(where, "a colour is \"#RRGGBB\", \"system:NAME\" (such as \"system:window\") or the number the settings "
                "file stores");
}

void ValueReader::CheckPattern(const std::string& pattern, const std::string& where)
{
    // As favorites are matched; the flags do not change what compiles.
    m_regExp.IgnoreCase = true;
    m_regExp.Global = true;
    m_regExp.Multiline = false;
    m_regExp.Pattern = pattern;
    try {
        m_regExp.Compile();
    } catch (const RegularExpressionError& error) {
        std::string message = error.what();
        // The engine names the pattern, which the place already does.
        const std::string prefix = "Invalid regular expression \"" + pattern + "\": ";
        if (message.starts_with(prefix))
            message.erase(0, prefix.size());
        Fail(where, Cp932ToUtf8(message));
    }
}

Json ColourJson(ColorValue color)
{
    const auto value = static_cast<std::uint32_t>(color);
    if (value >> 24 == 0) {
        static constexpr char Digits[] = "0123456789ABCDEF";
        std::string text = "#";
        for (const std::uint32_t byte : {value & 0xFF, value >> 8 & 0xFF, value >> 16 & 0xFF}) {
            text += Digits[byte >> 4];
            text += Digits[byte & 0xF];
        }
        return text;
    }
    if (IsSystemColor(color)) {
        const std::uint32_t number = value & 0xFFFFFF;
        if (number < SystemColorNames.size() && !SystemColorNames[number].empty())
            return std::string(SystemPrefix) + std::string(SystemColorNames[number]);
        return std::string(SystemPrefix) + std::to_string(number);
    }
    return color;
}

} // namespace rules

using namespace rules;

namespace {

// ---- the keys of a favorite and of a YP, in the order they are written

// A key and the fields it holds. A new field of the record is a new row.
template <class Fields>
struct Key
{
    enum Kind : std::uint8_t {
        Text,
        Flag,
        Pattern,    // a text that must compile as a regular expression
        PlainWord,  // favorites: Word with RegExp off
        RegexWord,  // favorites: Word with RegExp on
        FieldSet,   // favorites: the channel fields searched
        ColourPair, // Flag says whether Colour applies
    };
    std::string_view Name;
    Kind Type;
    std::string Fields::*TextMember = nullptr;
    bool Fields::*FlagMember = nullptr;
    ColorValue Fields::*ColourMember = nullptr;
};

using FavoriteKey = Key<FavoriteFields>;
using YpKey = Key<YpFields>;

const std::array<FavoriteKey, 11> FavoriteKeys = {{
    {"title", FavoriteKey::Text, &FavoriteFields::Title},
    {"enabled", FavoriteKey::Flag, nullptr, &FavoriteFields::Enabled},
    {"word", FavoriteKey::PlainWord},
    {"regex", FavoriteKey::RegexWord},
    {"fields", FavoriteKey::FieldSet},
    {"backgroundColor", FavoriteKey::ColourPair, nullptr, &FavoriteFields::ColorEnabled, &FavoriteFields::Color},
    {"textColor", FavoriteKey::ColourPair, nullptr, &FavoriteFields::ColorTextEnabled, &FavoriteFields::ColorText},
    {"sound", FavoriteKey::Text, &FavoriteFields::FileName},
    {"hide", FavoriteKey::Flag, nullptr, &FavoriteFields::ListDisable},
    {"ypStyle", FavoriteKey::Flag, nullptr, &FavoriteFields::YpLike},
    {"noNotify", FavoriteKey::Flag, nullptr, &FavoriteFields::NotNotify},
}};

const std::array<YpKey, 12> YpKeys = {{
    {"title", YpKey::Text, &YpFields::Title},
    {"url", YpKey::Text, &YpFields::Url},
    {"enabled", YpKey::Flag, nullptr, &YpFields::Enabled},
    {"type", YpKey::Pattern, &YpFields::ChType},
    {"bitrate", YpKey::Text, &YpFields::Bitrate},
    {"host", YpKey::Text, &YpFields::Host},
    {"script", YpKey::Text, &YpFields::Script},
    {"utf8", YpKey::Flag, nullptr, &YpFields::UTF2SJIS},
    {"chatUrlFromId", YpKey::Flag, nullptr, &YpFields::ChatURLFix},
    {"pcrawChannel", YpKey::Pattern, &YpFields::PCRawChName2},
    {"pcrawAddress", YpKey::Text, &YpFields::PCRawChIP},
    {"quietSecondUpdate", YpKey::Flag, nullptr, &YpFields::NoNotify2},
}};

// The channel fields a favorite searches, in the order they are joined for matching.
struct SearchField
{
    std::string_view Name;
    bool FavoriteFields::*Member;
};
constexpr std::array<SearchField, 9> SearchFields = {{
    {"channel", &FavoriteFields::Channel},
    {"description", &FavoriteFields::Description},
    {"comment", &FavoriteFields::Comment},
    {"contactUrl", &FavoriteFields::ContactURL},
    {"ypAddr", &FavoriteFields::YpAddr},
    {"streamUrl", &FavoriteFields::StreamURL},
    {"type", &FavoriteFields::ChType},
    {"listeners", &FavoriteFields::Listeners},
    {"bitrate", &FavoriteFields::Bitrate},
}};

// The keys only favorites have; other records have none of these kinds in their tables.
void WriteWord(const FavoriteFields& entry, bool regex, const std::string& name, Json& json)
{
    if (entry.RegExp == regex)
        json[name] = Utf8(entry.Word);
}

void WriteFieldSet(const FavoriteFields& entry, const std::string& name, Json& json)
{
    Json fields = Json::array();
    for (const SearchField& field : SearchFields)
        if (entry.*field.Member)
            fields.push_back(std::string(field.Name));
    json[name] = std::move(fields);
}

void ReadWord(const Json& value, bool regex, const std::string& place, ValueReader& values, FavoriteFields& entry)
{
    entry.RegExp = regex;
    entry.Word = values.Text(value, place);
    if (entry.RegExp && !entry.Word.empty())
        values.CheckPattern(entry.Word, place);
}

void ReadFieldSet(const Json& value, const std::string& place, FavoriteFields& entry)
{
    if (!value.is_array())
        Fail(place, "expected a list of field names");
    for (std::size_t i = 0; i < value.size(); ++i) {
        const Json& item = value[i];
        const auto field = std::find_if(SearchFields.begin(), SearchFields.end(), [&](const SearchField& f) {
            return item.is_string() && item.get_ref<const std::string&>() == f.Name;
        });
        if (field == SearchFields.end())
            Fail(Item(place, i), "a field is one of channel, description, comment, contactUrl, ypAddr, streamUrl, "
                                 "type, listeners, bitrate");
        entry.*field->Member = true;
    }
}

template <class Fields>
void WriteWord(const Fields&, bool, const std::string&, Json&)
{}
template <class Fields>
void WriteFieldSet(const Fields&, const std::string&, Json&)
{}
template <class Fields>
void ReadWord(const Json&, bool, const std::string&, ValueReader&, Fields&)
{}
template <class Fields>
void ReadFieldSet(const Json&, const std::string&, Fields&)
{}

template <class Fields, std::size_t N>
Json WriteEntry(const Fields& entry, const std::array<Key<Fields>, N>& keys)
{
    using K = Key<Fields>;
    Json json = Json::object();
    for (const K& key : keys) {
        const std::string name(key.Name);
        switch (key.Type) {
        case K::Text:
        case K::Pattern:
            json[name] = Utf8(entry.*key.TextMember);
            break;
        case K::Flag:
            json[name] = entry.*key.FlagMember;
            break;
        case K::PlainWord:
        case K::RegexWord:
            WriteWord(entry, key.Type == K::RegexWord, name, json);
            break;
        case K::FieldSet:
            WriteFieldSet(entry, name, json);
            break;
        case K::ColourPair:
            json[name] = Json{{"enabled", entry.*key.FlagMember}, {"color", ColourJson(entry.*key.ColourMember)}};
            break;
        }
    }
    return json;
}

template <class Fields, std::size_t N>
Fields ReadEntry(const Json& json, const std::string& where, const std::array<Key<Fields>, N>& keys,
                 ValueReader& values)
{
    using K = Key<Fields>;
    if (!json.is_object())
        Fail(where, "expected an object");
    Fields entry{};
    bool wordGiven = false;
    for (const auto& item : json.items()) {
        const std::string& name = item.key();
        const Json& value = item.value();
        const std::string place = Member(where, name);
        const auto key = std::find_if(keys.begin(), keys.end(), [&](const K& k) { return k.Name == name; });
        if (key == keys.end())
            Fail(place, "no such key");
        switch (key->Type) {
        case K::Text:
            entry.*key->TextMember = values.Text(value, place);
            break;
        case K::Pattern:
            entry.*key->TextMember = values.Text(value, place);
            values.CheckPattern(entry.*key->TextMember, place);
            break;
        case K::Flag:
            entry.*key->FlagMember = values.Flag(value, place);
            break;
        case K::PlainWord:
        case K::RegexWord:
            if (wordGiven)
                Fail(place, "give either \"word\" or \"regex\", not both");
            wordGiven = true;
            ReadWord(value, key->Type == K::RegexWord, place, values, entry);
            break;
        case K::FieldSet:
            ReadFieldSet(value, place, entry);
            break;
        case K::ColourPair: {
            if (!value.is_object())
                Fail(place, "expected an object with \"enabled\" and \"color\"");
            for (const auto& [part, partValue] : value.items()) {
                if (part == "enabled")
                    entry.*key->FlagMember = values.Flag(partValue, Member(place, part));
                else if (part == "color")
                    entry.*key->ColourMember = values.Colour(partValue, Member(place, part));
                else
                    Fail(Member(place, part), "no such key");
            }
            break;
        }
        }
    }
    return entry;
}

template <class Fields, std::size_t N>
std::vector<Fields> ReadSection(const Json& json, std::string_view section, const std::array<Key<Fields>, N>& keys,
                                ValueReader& values)
{
    if (!json.is_array())
        Fail(std::string(section), "expected a list");
    std::vector<Fields> entries;
    entries.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i)
        entries.push_back(ReadEntry(json[i], Item(section, i), keys, values));
    return entries;
}

RuleSet ReadKavoRules(const Json& document, ValueReader& values)
{
    RuleSet rules;
    bool versionGiven = false;
    for (const auto& [name, value] : document.items()) {
        if (name == "version") {
            if (!value.is_number_integer())
                Fail(name, "expected a whole number");
            const auto version = value.get<std::int64_t>();
            if (version > RulesVersion)
                Fail(name, std::to_string(version) + " is newer than the version this kavo reads (" +
                               std::to_string(RulesVersion) + ")");
            if (version < 1)
                Fail(name, std::to_string(version) + " is no version of this format");
            versionGiven = true;
        } else if (name == "favorites") {
            rules.Favorites = ReadSection(value, name, FavoriteKeys, values);
        } else if (name == "yps") {
            rules.Yps = ReadSection(value, name, YpKeys, values);
        } else if (name != "$schema") {
            Fail(name, "no such key");
        }
    }
    if (!versionGiven)
        Fail("version", "missing; a rules file starts with {\"version\": " + std::to_string(RulesVersion) + ", ...");
    if (rules.Yps) {
        // The settings keep one YP per URL.
        std::unordered_map<std::string, std::size_t> first;
        for (std::size_t i = 0; i < rules.Yps->size(); ++i) {
            const std::string& url = (*rules.Yps)[i].Url;
            if (url.empty())
                Fail(Member(Item("yps", i), "url"), "a YP needs its URL");
            const auto [it, added] = first.emplace(url, i);
            if (!added)
                Fail(Member(Item("yps", i), "url"), "the same URL as " + Item("yps", it->second));
        }
    }
    return rules;
}

// "line 3, column 7: ..." from the parser's message, without the library's prefix. A number too
// large for a double comes as another kind of exception, without a place.
std::string SyntaxError(const nlohmann::json::exception& error)
{
    const std::string message = error.what();
    const std::size_t at = message.find("at line ");
    if (at != std::string::npos)
        return message.substr(at + 3);
    const std::size_t end = message.starts_with("[json.exception.") ? message.find("] ") : std::string::npos;
    return end == std::string::npos ? message : message.substr(end + 2);
}

} // namespace

RulesReading ParseRules(std::string_view text)
{
    Json document;
    try {
        document = Json::parse(StripUtf8Bom(text));
    } catch (const nlohmann::json::exception& error) {
        throw RulesError(SyntaxError(error));
    }
    ValueReader values;
    if (document.is_array())
        return ReadPeercastYtFilters(document, values);
    if (!document.is_object())
        throw RulesError("the file holds no rules: a JSON object with \"version\", \"favorites\" and \"yps\" is "
                         "expected");
    RulesReading reading;
    reading.Rules = ReadKavoRules(document, values);
    return reading;
}

std::string RulesText(const RuleSet& rules)
{
    Json document = Json::object();
    document["version"] = RulesVersion;
    if (rules.Favorites) {
        Json favorites = Json::array();
        for (const FavoriteFields& favorite : *rules.Favorites)
            favorites.push_back(WriteEntry(favorite, FavoriteKeys));
        document["favorites"] = std::move(favorites);
    }
    if (rules.Yps) {
        Json yps = Json::array();
        for (const YpFields& yp : *rules.Yps)
            yps.push_back(WriteEntry(yp, YpKeys));
        document["yps"] = std::move(yps);
    }
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

RuleSet RulesOf(const TkavoSetting& setting)
{
    RuleSet rules = FavoriteRules(setting.Favorites);
    rules.Yps.emplace();
    rules.Yps->reserve(static_cast<std::size_t>(setting.YpList.Count()));
    for (const TkavoYpItem& yp : setting.YpList)
        rules.Yps->push_back(yp);
    return rules;
}

RuleSet FavoriteRules(const TkavoFavoriteList& favorites, const std::vector<int>& lines)
{
    RuleSet rules;
    rules.Favorites.emplace();
    if (lines.empty()) {
        rules.Favorites->reserve(static_cast<std::size_t>(favorites.Count()));
        for (const TkavoFavoriteItem& favorite : favorites)
            rules.Favorites->push_back(favorite);
    } else {
        for (const int line : lines)
            if (line >= 0 && line < favorites.Count())
                rules.Favorites->push_back(favorites[line]);
    }
    return rules;
}

std::string FollowedRulesFile(const TkavoSetting& setting)
{
    if (!setting.Rules.Follow || setting.Rules.File.empty())
        return {};
    // The settings hold CP932; file names here are UTF-8.
    std::string path = Cp932ToUtf8(setting.Rules.File);
    if (path.starts_with("~/"))
        if (const char* home = std::getenv("HOME"); home && *home)
            return home + path.substr(1);
    return path.front() == '/' ? path : ProgramFolder() + "/" + path;
}

std::string ReadRulesFile(const std::string& path)
{
    if (path == "-") {
        std::string text{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
        if (text.size() > MaxRulesFileBytes)
            throw RulesError("standard input: " + ReadErrorText(FileTooLarge, MaxRulesFileBytes));
        return text;
    }
    std::string text;
    if (const int error = ReadRegularFile(path, MaxRulesFileBytes, text); error != 0)
        throw RulesError(path + ": " + ReadErrorText(error, MaxRulesFileBytes));
    return text;
}

void WriteRulesFile(const std::string& path, std::string_view text)
{
    if (path == "-") {
        std::cout << text;
        std::cout.flush();
        if (!std::cout)
            throw RulesError("standard output: cannot write");
        return;
    }
    if (const int error = ReplaceRegularFile(path, text); error != 0)
        throw RulesError(path + ": " + ReadErrorText(error, 0));
}

} // namespace kavo
