// peercast-yt's YP page keeps its channel filters as a JSON array (channelFilters.json in its state
// folder). Each filter has a base search (a regular expression over some channel fields), an
// optional AND and NOT search, flags to list the channel among the favorites or to ignore it, and
// a background colour. A filter becomes a favorite with a regular expression; what a favorite
// cannot say is told in the notes.

#include "platform/Cp932.h"
#include "rules/RulesJson.h"

#include <algorithm>
#include <array>
#include <set>

namespace kavo::rules {
namespace {

// peercast-yt's channel fields and the favorite field that holds the same text, if any. kavo's
// description holds genre, description and the track texts in one.
struct YtField
{
    std::string_view Name;
    bool FavoriteFields::*Member;
};
constexpr std::array<YtField, 14> YtFields = {{
    {"name", &FavoriteFields::Channel},
    {"genre", &FavoriteFields::Description},
    {"desc", &FavoriteFields::Description},
    {"comment", &FavoriteFields::Comment},
    {"trackArtist", &FavoriteFields::Description},
    {"trackName", &FavoriteFields::Description},
    {"trackAlbum", &FavoriteFields::Description},
    {"feedUrl", &FavoriteFields::YpAddr},
    {"url", &FavoriteFields::ContactURL},
    {"trackContact", &FavoriteFields::Description},
    {"contentTypeStr", &FavoriteFields::ChType},
    {"status", nullptr},
    {"id", nullptr},
    {"tip", nullptr},
}};

struct Search
{
    bool Enabled = false;
    std::set<std::string> Fields; // as peercast-yt names them
    std::string Pattern;          // CP932
};

class FilterReader
{
public:
    FilterReader(ValueReader& values, std::vector<std::string>& notes) : m_values(values), m_notes(notes) {}

    FavoriteFields Read(const Json& filter, const std::string& where)
    {
        if (!filter.is_object())
            Fail(where, "expected an object");
        // A key the filter leaves out has the value of a filter the page makes anew.
        FavoriteFields favorite;
        favorite.Enabled = true;
        favorite.RegExp = true;
        bool listed = true; // "favorite"
        bool ignoreCase = true;
        Search base{true, {"name"}, {}};
        Search also;
        Search unless;
        std::vector<std::string> unknown;
        for (const auto& [key, value] : filter.items()) {
            const std::string place = Member(where, key);
            if (key == "enabled") {
                favorite.Enabled = m_values.Flag(value, place);
            } else if (key == "name") {
                favorite.Title = trimmed(value, place);
            } else if (key == "favorite") {
                listed = m_values.Flag(value, place);
            } else if (key == "ignore") {
                favorite.ListDisable = m_values.Flag(value, place);
            } else if (key == "base_search") {
                base = readSearch(value, place, true);
            } else if (key == "and_search") {
                also = readSearch(value, place, false);
            } else if (key == "not_search") {
                unless = readSearch(value, place, false);
            } else if (key == "ignore_case") {
                ignoreCase = m_values.Flag(value, place);
            } else if (key == "enable_color") {
                favorite.ColorEnabled = m_values.Flag(value, place);
            } else if (key == "color") {
                favorite.Color = readColor(value, place);
            } else {
                unknown.push_back(key);
            }
        }
        m_name = favorite.Title.empty() ? where : where + " (" + Utf8(favorite.Title) + ")";
        for (const std::string& key : unknown)
            note("its key \"" + key + "\" is not known here and was left out");

        // Searches over other fields than the base search's cannot share one favorite's text.
        const bool combined = also.Enabled || unless.Enabled;
        const bool sameFields =
            (!also.Enabled || also.Fields == base.Fields) && (!unless.Enabled || unless.Fields == base.Fields);
        favorite.Word = base.Pattern;
        if (combined && sameFields) {
            // Look-aheads say all of them at once over the same text.
            std::string word = "^(?=[\\s\\S]*?(?:" + base.Pattern + "))";
            if (also.Enabled)
                word += "(?=[\\s\\S]*?(?:" + also.Pattern + "))";
            if (unless.Enabled)
                word += "(?![\\s\\S]*?(?:" + unless.Pattern + "))";
            favorite.Word = word;
            m_values.CheckPattern(word, where);
        } else if (combined) {
            favorite.Enabled = false;
            note("its AND or NOT search looks in other fields than its base search, which one favorite cannot "
                 "say; imported disabled with the base search alone");
        }

        std::set<std::string> lost;
        int kavoFields = 0;
        for (const std::string& name : base.Fields) {
            const auto field =
                std::find_if(YtFields.begin(), YtFields.end(), [&](const YtField& f) { return f.Name == name; });
            if (field == YtFields.end() || !field->Member) {
                lost.insert(name);
                continue;
            }
            kavoFields += favorite.*field->Member ? 0 : 1;
            favorite.*field->Member = true;
        }
        if (!lost.empty()) {
            std::string names;
            for (const std::string& name : lost)
                names += (names.empty() ? "" : ", ") + name;
            note("kavo's favorites cannot search " + names + "; left out");
        }
        if (kavoFields == 0) {
            favorite.Enabled = false;
            note("it searches no field kavo's favorites have; imported disabled");
        } else if (kavoFields > 1 && (base.Pattern.find_first_of("^$") != std::string::npos)) {
            note("its fields are searched as one text here, joined by commas, so ^ and $ mark the start and end of "
                 "that text");
        }
        if (base.Pattern.empty())
            note("an empty base search finds every channel in peercast-yt, and none here");
        if (!ignoreCase)
            note("kavo's favorites always ignore letter case");
        if (!listed && !favorite.ListDisable)
            note("it only colours channels in peercast-yt; here the channels it finds count as favorites too");
        return favorite;
    }

private:
    void note(const std::string& text) { m_notes.push_back(m_name + ": " + text); }

    // Blanks around a text cannot stay in the settings file; peercast-yt keeps them.
    std::string trimmed(const Json& value, const std::string& where)
    {
        std::string text = m_values.Text(value, where, false);
        const std::size_t begin = text.find_first_not_of(" \t");
        const std::size_t end = text.find_last_not_of(" \t");
        std::string trimmed = begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
        if (trimmed != text)
            m_notes.push_back(where + ": the blanks at its start or end were taken away");
        return trimmed;
    }

    Search readSearch(const Json& value, const std::string& where, bool base)
    {
        if (!value.is_object())
            Fail(where, "expected an object");
        Search search;
        search.Enabled = base;
        for (const auto& [key, item] : value.items()) {
            const std::string place = Member(where, key);
            if (key == "enabled" && !base) {
                search.Enabled = m_values.Flag(item, place);
            } else if (key == "fields") {
                if (!item.is_array())
                    Fail(place, "expected a list of field names");
                for (std::size_t i = 0; i < item.size(); ++i) {
                    if (!item[i].is_string())
                        Fail(Item(place, i), "expected a field name");
                    search.Fields.insert(item[i].get<std::string>());
                }
            } else if (key == "search") {
                search.Pattern = trimmed(item, place);
                if (!search.Pattern.empty())
                    m_values.CheckPattern(search.Pattern, place);
            }
        }
        return search;
    }

    ColorValue readColor(const Json& value, const std::string& where)
    {
        // [red, green, blue]
        if (!value.is_array() || value.size() != 3)
            Fail(where, "expected [red, green, blue]");
        ColorValue color = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            if (!value[i].is_number_integer() || value[i].get<std::int64_t>() < 0 || value[i].get<std::int64_t>() > 255)
                Fail(Item(where, i), "expected a whole number from 0 to 255");
            color |= static_cast<ColorValue>(value[i].get<std::int64_t>() << (8 * i));
        }
        return color;
    }

    ValueReader& m_values;
    std::vector<std::string>& m_notes;
    std::string m_name;
};

} // namespace

RulesReading ReadPeercastYtFilters(const Json& filters, ValueReader& values)
{
    RulesReading reading;
    reading.Format = RulesFormat::PeercastYt;
    reading.Rules.Favorites.emplace();
    FilterReader reader(values, reading.Notes);
    for (std::size_t i = 0; i < filters.size(); ++i)
        reading.Rules.Favorites->push_back(reader.Read(filters[i], Item("", i)));
    return reading;
}

} // namespace kavo::rules
