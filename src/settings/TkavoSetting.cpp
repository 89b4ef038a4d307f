#include "settings/TkavoSetting.h"

#include "platform/ProgramFolder.h"
#include "settings/IniFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace kavo {

namespace {

// ---- the scalar options, in the order they are read and written

enum class OptionKind : std::uint8_t {
    String,
    Integer,
    Boolean,
    Color,
    Minutes,     // Notify/Update2: through SetUpdate2
    IntegerText, // URL/Timeout: an integer held as the text the user typed
};

struct ScalarOption
{
    const char* Section;
    const char* Key;
    OptionKind Kind;
    void* (*Field)(TkavoSetting&);
    // A key the Windows program does not know: a file gets it once it is set, so that a file of
    // that program saved unchanged stays the same.
    bool OnlyWhenSet = false;
};

constexpr ScalarOption OwnKey(ScalarOption option)
{
    option.OnlyWhenSet = true;
    return option;
}

// The reference binding checks that the member has the type the kind stands for.
#define KAVO_OPTION(section, key, kind, type, member)                                                                  \
    ScalarOption                                                                                                       \
    {                                                                                                                  \
        section, key, OptionKind::kind,                                                                                \
            [](TkavoSetting& s) -> void* {                                                                             \
                std::type_identity_t<type>& field = s.member;                                                          \
                return &field;                                                                                         \
            },                                                                                                         \
            false                                                                                                      \
    }
#define KAVO_STRING(section, key, member) KAVO_OPTION(section, key, String, std::string, member)
#define KAVO_INTEGER(section, key, member) KAVO_OPTION(section, key, Integer, int, member)
#define KAVO_BOOL(section, key, member) KAVO_OPTION(section, key, Boolean, bool, member)
#define KAVO_COLOR(section, key, member) KAVO_OPTION(section, key, Color, ColorValue, member)

const std::array<ScalarOption, 68> ScalarOptions = {{
    KAVO_INTEGER("URL", "Protocol", URL.Protocol),
    KAVO_STRING("URL", "Proxy", URL.Proxy),
    KAVO_OPTION("URL", "Timeout", IntegerText, std::string, URL.Timeout),
    KAVO_BOOL("URL", "LocalChInfo", URL.LocalChInfo),
    KAVO_STRING("URL", "LocalChInfoAddr", URL.LocalChInfoAddr),
    OwnKey(KAVO_INTEGER("URL", "LocalIPFamily", URL.LocalIPFamily)),

    KAVO_INTEGER("Notify", "Rank2", Notify.Rank2),
    KAVO_OPTION("Notify", "Update2", Minutes, int, Notify.Update2),
    KAVO_STRING("Notify", "Title", Notify.Title),
    KAVO_BOOL("Notify", "LogRankUp", Notify.LogRankUp),
    KAVO_STRING("Notify", "BallonTimer", Notify.BallonTimer),
    KAVO_INTEGER("Notify", "LogRangeHour", Notify.LogRangeHour),
    KAVO_BOOL("Notify", "CutLongString", Notify.CutLongString),
    KAVO_STRING("Notify", "CutLongStringRange", Notify.CutLongStringRange),
    KAVO_BOOL("Notify", "ClickActive", Notify.ClickActive),
    KAVO_BOOL("Notify", "TTS", Notify.TTS),
    KAVO_STRING("Notify", "TTSSpeed", Notify.TTSSpeed),
    KAVO_BOOL("Notify", "Unique", Notify.Unique),
    KAVO_BOOL("Notify", "Position", Notify.Position),
    KAVO_BOOL("Notify", "PositionLeftTop", Notify.PositionLeftTop),
    KAVO_BOOL("Notify", "PositionRightTop", Notify.PositionRightTop),
    KAVO_BOOL("Notify", "PositionLeftBottom", Notify.PositionLeftBottom),
    KAVO_BOOL("Notify", "PositionRightBottom", Notify.PositionRightBottom),
    KAVO_BOOL("Notify", "Sound", Notify.Sound),
    KAVO_BOOL("Notify", "SoundCustom", Notify.SoundCustom),
    KAVO_STRING("Notify", "SoundFile", Notify.SoundFile),
    KAVO_BOOL("Notify", "RankUpOrDown2None", Notify.RankUpOrDown2None),
    KAVO_BOOL("Notify", "notifyCheckBoxFavorite", Notify.notifyCheckBoxFavorite),
    OwnKey(KAVO_INTEGER("Notify", "MaxBalloons", Notify.MaxBalloons)),
    OwnKey(KAVO_INTEGER("Notify", "AnnounceGrace", Notify.AnnounceGrace)),

    KAVO_STRING("Etc", "Browser", Etc.Browser),
    KAVO_BOOL("Etc", "Minimized", Etc.Minimized),
    KAVO_STRING("Etc", "ApplicationTitle", Etc.ApplicationTitle),
    KAVO_STRING("Etc", "PeerCast", Etc.PeerCast),
    KAVO_BOOL("Etc", "AutoDownLoad", Etc.AutoDownLoad),
    KAVO_BOOL("Etc", "Player", Etc.Player),
    KAVO_STRING("Etc", "PlayerType", Etc.PlayerType),
    KAVO_STRING("Etc", "PlayerFileName", Etc.PlayerFileName),
    KAVO_BOOL("Etc", "TaskTray", Etc.TaskTray),
    OwnKey(KAVO_BOOL("Etc", "CloseToTray", Etc.CloseToTray)),
    KAVO_STRING("Etc", "2ch", Etc.TwoCh),
    KAVO_STRING("Etc", "2chPtn", Etc.TwoChPtn),
    KAVO_BOOL("Etc", "DirectChOpen", Etc.DirectChOpen),

    KAVO_BOOL("Operation", "MouseDClickChOpen", Operation.MouseDClickChOpen),
    KAVO_BOOL("Operation", "KeyEnterChOpen", Operation.KeyEnterChOpen),
    KAVO_BOOL("Operation", "KeyF5Refresh", Operation.KeyF5Refresh),
    OwnKey(KAVO_BOOL("Operation", "AskPlayHint", Operation.AskPlayHint)),

    KAVO_STRING("ColorFont", "TextFontName", TextFont.Name),
    KAVO_INTEGER("ColorFont", "TextFontSize", TextFont.Size),
    KAVO_STRING("ColorFont", "AllFontName", AllFont.Name),
    KAVO_INTEGER("ColorFont", "AllFontSize", AllFont.Size),
    KAVO_COLOR("ColorFont", "TextFontColor", ColorFont.TextFontColor),
    KAVO_COLOR("ColorFont", "TextLinkColor", ColorFont.TextLinkColor),
    KAVO_COLOR("ColorFont", "BackColor", ColorFont.BackColor),
    KAVO_BOOL("ColorFont", "GridLine", ColorFont.GridLine),
    KAVO_COLOR("ColorFont", "TextLinkSelColor", ColorFont.TextLinkSelColor),
    KAVO_COLOR("ColorFont", "TextVisitColor", ColorFont.TextVisitColor),
    KAVO_BOOL("ColorFont", "Visit", ColorFont.Visit),

    KAVO_INTEGER("Priority", "KAVOProcess", Priority.KAVOProcess),
    KAVO_INTEGER("Priority", "KAVOThread", Priority.KAVOThread),
    KAVO_INTEGER("Priority", "PeerCastProcess", Priority.PeerCastProcess),
    KAVO_INTEGER("Priority", "CommandProcess", Priority.CommandProcess),

    KAVO_STRING("Event", "OnCreate", Event.OnCreate),
    KAVO_STRING("Event", "OnDestroy", Event.OnDestroy),

    OwnKey(KAVO_BOOL("Rules", "Follow", Rules.Follow)),
    OwnKey(KAVO_STRING("Rules", "File", Rules.File)),

    OwnKey(KAVO_INTEGER("History", "RegularWeeks", History.RegularWeeks)),
    OwnKey(KAVO_INTEGER("History", "RegularMinWeeks", History.RegularMinWeeks)),
}};

#undef KAVO_STRING
#undef KAVO_INTEGER
#undef KAVO_BOOL
#undef KAVO_COLOR
#undef KAVO_OPTION

// The scalars come in three runs between the lists: [URL] to [Etc], [Operation], [ColorFont] on.
struct OptionRun
{
    std::size_t Begin;
    std::size_t End;
};

std::size_t FirstOf(const char* section)
{
    for (std::size_t i = 0; i < ScalarOptions.size(); ++i)
        if (std::strcmp(ScalarOptions[i].Section, section) == 0)
            return i;
    return ScalarOptions.size();
}

const std::array<OptionRun, 3>& OptionRuns()
{
    static const std::array<OptionRun, 3> runs = [] {
        const std::size_t operation = FirstOf("Operation");
        const std::size_t colorFont = FirstOf("ColorFont");
        return std::array<OptionRun, 3>{{{0, operation}, {operation, colorFont}, {colorFont, ScalarOptions.size()}}};
    }();
    return runs;
}

constexpr int DefaultTimeout = 30;
constexpr int UnreadableTimeout = 60;

std::string DecimalText(std::int32_t value)
{
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

int TimeoutToWrite(const std::string& held)
{
    return ParseIniInteger(held).value_or(UnreadableTimeout);
}

void ReadOption(const IniFile& ini, const ScalarOption& option, TkavoSetting& setting)
{
    void* field = option.Field(setting);
    switch (option.Kind) {
    case OptionKind::String: {
        auto& text = *static_cast<std::string*>(field);
        if (const auto value = ini.Value(option.Section, option.Key))
            text.assign(*value);
        break;
    }
    case OptionKind::Integer:
    case OptionKind::Color: {
        auto& number = *static_cast<int*>(field);
        number = ini.ReadInteger(option.Section, option.Key, number);
        break;
    }
    case OptionKind::Boolean: {
        auto& flag = *static_cast<bool*>(field);
        flag = ini.ReadBool(option.Section, option.Key, flag);
        break;
    }
    case OptionKind::Minutes:
        setting.SetUpdate2(ini.ReadInteger(option.Section, option.Key, *static_cast<int*>(field)));
        break;
    case OptionKind::IntegerText:
        *static_cast<std::string*>(field) = DecimalText(ini.ReadInteger(option.Section, option.Key, DefaultTimeout));
        break;
    }
}

// The text Save writes for the option.
std::string OptionText(const ScalarOption& option, const TkavoSetting& setting)
{
    // Only read through the accessor; the table serves Load as well.
    const void* field = option.Field(const_cast<TkavoSetting&>(setting));
    switch (option.Kind) {
    case OptionKind::String:
        return *static_cast<const std::string*>(field);
    case OptionKind::Integer:
    case OptionKind::Color:
    case OptionKind::Minutes:
        return DecimalText(*static_cast<const int*>(field));
    case OptionKind::Boolean:
        return *static_cast<const bool*>(field) ? "1" : "0";
    case OptionKind::IntegerText:
        return DecimalText(TimeoutToWrite(*static_cast<const std::string*>(field)));
    }
    return {};
}

void WriteOption(IniFile& ini, const ScalarOption& option, const TkavoSetting& setting)
{
    std::string text = OptionText(option, setting);
    if (option.OnlyWhenSet && !ini.HasKey(option.Section, option.Key)) {
        static const TkavoSetting defaults;
        if (text == OptionText(option, defaults))
            return;
    }
    ini.WriteString(option.Section, option.Key, text);
}

// "Title" and 12 give "Title12" without touching the heap.
class IndexedKey
{
public:
    IndexedKey(std::string_view name, int index)
    {
        std::memcpy(m_buffer, name.data(), name.size());
        const auto result = std::to_chars(m_buffer + name.size(), m_buffer + sizeof m_buffer, index);
        m_size = static_cast<std::size_t>(result.ptr - m_buffer);
    }
    operator std::string_view() const { return {m_buffer, m_size}; }

private:
    char m_buffer[40];
    std::size_t m_size;
};

std::string AsciiLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The fields of a numbered list, grouped by the length of their names for a quick first test.
class FieldNames
{
public:
    explicit FieldNames(std::vector<std::string_view> fieldNames) : m_names(std::move(fieldNames))
    {
        const auto& names = m_names;
        for (std::size_t i = 0; i < names.size() && i < 32; ++i) {
            m_lower.push_back(AsciiLower(names[i]));
            if (names[i].size() < m_byLength.size())
                m_byLength[names[i].size()] |= 1u << i;
        }
        // With no name equal to another plus digits, a key has at most one reading.
        for (const std::string& a : m_lower)
            for (const std::string& b : m_lower)
                if (a.size() > b.size() && a.starts_with(b) &&
                    a.find_first_not_of("0123456789", b.size()) == std::string::npos)
                    m_ambiguous = true;
    }

    // Calls found(field, n) for every reading of key as a field's name followed by a decimal index
    // below limit ("PCRawChName20" is PCRawChName2 of entry 0). Only the spelling IndexedKey
    // writes counts, so "Title01" is no key of entry 1, just as a lookup of "Title1" misses it.
    // last carries the field found before from one call to the next.
    template <class Found>
    void Split(std::string_view key, std::uint32_t limit, std::size_t& last, Found&& found) const
    {
        // Save writes the fields in their order, so the field after the last one found is tried
        // first; the general search below gives the same answer, only slower.
        if (!m_ambiguous) {
            const std::size_t next = last + 1 < m_lower.size() ? last + 1 : 0;
            if (tryField(key, next, limit, last, found))
                return;
        }
        std::size_t digits = key.size();
        while (digits > 0 && key[digits - 1] >= '0' && key[digits - 1] <= '9')
            --digits;
        for (std::size_t split = digits; split < key.size(); ++split) {
            if (split >= m_byLength.size())
                break;
            for (std::uint32_t mask = m_byLength[split]; mask != 0; mask &= mask - 1)
                if (tryField(key, static_cast<std::size_t>(std::countr_zero(mask)), limit, last, found) && !m_ambiguous)
                    return;
        }
    }

private:
    // Inline, as names are short and a library call costs more than the comparison.
    static bool sameBytes(const char* a, const char* b, std::size_t n)
    {
        for (; n >= 8; a += 8, b += 8, n -= 8) {
            std::uint64_t x;
            std::uint64_t y;
            std::memcpy(&x, a, 8);
            std::memcpy(&y, b, 8);
            if (x != y)
                return false;
        }
        for (; n > 0; ++a, ++b, --n)
            if (*a != *b)
                return false;
        return true;
    }

    template <class Found>
    bool tryField(std::string_view key, std::size_t field, std::uint32_t limit, std::size_t& last, Found& found) const
    {
        const std::string& lower = m_lower[field];
        const std::size_t digits = key.size() - lower.size();
        if (key.size() <= lower.size() || digits > 9 || (digits > 1 && key[lower.size()] == '0'))
            return false;
        std::uint32_t n = 0;
        for (std::size_t i = lower.size(); i < key.size(); ++i) {
            if (key[i] < '0' || key[i] > '9')
                return false;
            n = n * 10 + static_cast<std::uint32_t>(key[i] - '0');
        }
        // Save's own spelling first; then without case. Names are ASCII, so a byte of a
        // double-byte character never matches.
        if (!sameBytes(key.data(), m_names[field].data(), lower.size())) {
            for (std::size_t i = 0; i < lower.size(); ++i) {
                char c = key[i];
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
                if (c != lower[i])
                    return false;
            }
        }
        last = field;
        if (n < limit)
            found(field, n);
        return true;
    }

    std::vector<std::string_view> m_names;
    std::vector<std::string> m_lower;
    std::array<std::uint32_t, 40> m_byLength{};
    bool m_ambiguous = false;
};

constexpr const char* YpSection = "YP";
constexpr const char* FavoriteSection = "Favorite";
constexpr const char* ColumnSection = "ColumnVisible";
constexpr const char* ToolSection = "Tool";

// ---- numbered lists: [YP] and [Favorite]

// One key of a list entry and the record's member it holds.
template <class Item>
struct ListField
{
    enum Kind : std::uint8_t {
        Text,
        Flag,
        Colour,
    };
    std::string_view Name;
    Kind Type;
    std::string Item::*TextMember = nullptr;
    bool Item::*FlagMember = nullptr;
    ColorValue Item::*ColourMember = nullptr;

    void Read(Item& item, std::string_view value) const
    {
        switch (Type) {
        case Text:
            (item.*TextMember).assign(value);
            break;
        case Flag:
            if (value.size() == 1 && (value[0] == '0' || value[0] == '1'))
                item.*FlagMember = value[0] == '1'; // as Save writes it
            else if (const auto number = ParseIniInteger(value))
                item.*FlagMember = *number != 0;
            break;
        case Colour:
            item.*ColourMember = ParseIniInteger(value).value_or(item.*ColourMember);
            break;
        }
    }

    void Write(const Item& item, IniFile& ini, std::string_view section, std::string_view key) const
    {
        switch (Type) {
        case Text:
            ini.WriteString(section, key, item.*TextMember);
            break;
        case Flag:
            ini.WriteBool(section, key, item.*FlagMember);
            break;
        case Colour:
            ini.WriteColor(section, key, item.*ColourMember);
            break;
        }
    }
};

template <class Item>
constexpr ListField<Item> TextField(std::string_view name, std::string Item::*member)
{
    return {name, ListField<Item>::Text, member, nullptr, nullptr};
}

template <class Item>
constexpr ListField<Item> FlagField(std::string_view name, bool Item::*member)
{
    return {name, ListField<Item>::Flag, nullptr, member, nullptr};
}

template <class Item>
constexpr ListField<Item> ColorField(std::string_view name, ColorValue Item::*member)
{
    return {name, ListField<Item>::Colour, nullptr, nullptr, member};
}

// The keys of a YP entry in the order they are read and written; Title tells an entry exists.
const std::array<ListField<TkavoYpItem>, 12> YpKeys = {{
    FlagField<TkavoYpItem>("Enabled", &TkavoYpItem::Enabled),
    TextField<TkavoYpItem>("Title", &TkavoYpItem::Title),
    TextField<TkavoYpItem>("Url", &TkavoYpItem::Url),
    TextField<TkavoYpItem>("Host", &TkavoYpItem::Host),
    TextField<TkavoYpItem>("Bitrate", &TkavoYpItem::Bitrate),
    TextField<TkavoYpItem>("ChType", &TkavoYpItem::ChType),
    TextField<TkavoYpItem>("Script", &TkavoYpItem::Script),
    FlagField<TkavoYpItem>("UTF2SJIS", &TkavoYpItem::UTF2SJIS),
    FlagField<TkavoYpItem>("ChatURLFix", &TkavoYpItem::ChatURLFix),
    TextField<TkavoYpItem>("PCRawChName2", &TkavoYpItem::PCRawChName2),
    TextField<TkavoYpItem>("PCRawChIP", &TkavoYpItem::PCRawChIP),
    FlagField<TkavoYpItem>("NoNotify2", &TkavoYpItem::NoNotify2),
}};

const std::array<ListField<TkavoFavoriteItem>, 21> FavoriteKeys = {{
    FlagField<TkavoFavoriteItem>("Enabled", &TkavoFavoriteItem::Enabled),
    TextField<TkavoFavoriteItem>("Title", &TkavoFavoriteItem::Title),
    TextField<TkavoFavoriteItem>("Word", &TkavoFavoriteItem::Word),
    FlagField<TkavoFavoriteItem>("Channel", &TkavoFavoriteItem::Channel),
    FlagField<TkavoFavoriteItem>("Description", &TkavoFavoriteItem::Description),
    FlagField<TkavoFavoriteItem>("StreamURL", &TkavoFavoriteItem::StreamURL),
    FlagField<TkavoFavoriteItem>("YpAddr", &TkavoFavoriteItem::YpAddr),
    FlagField<TkavoFavoriteItem>("Comment", &TkavoFavoriteItem::Comment),
    FlagField<TkavoFavoriteItem>("ContactURL", &TkavoFavoriteItem::ContactURL),
    FlagField<TkavoFavoriteItem>("ChType", &TkavoFavoriteItem::ChType),
    FlagField<TkavoFavoriteItem>("Listeners", &TkavoFavoriteItem::Listeners),
    FlagField<TkavoFavoriteItem>("Bitrate", &TkavoFavoriteItem::Bitrate),
    FlagField<TkavoFavoriteItem>("RegExp", &TkavoFavoriteItem::RegExp),
    TextField<TkavoFavoriteItem>("FileName", &TkavoFavoriteItem::FileName),
    FlagField<TkavoFavoriteItem>("ColorEnabled", &TkavoFavoriteItem::ColorEnabled),
    ColorField<TkavoFavoriteItem>("Color", &TkavoFavoriteItem::Color),
    FlagField<TkavoFavoriteItem>("ColorTextEnabled", &TkavoFavoriteItem::ColorTextEnabled),
    ColorField<TkavoFavoriteItem>("ColorText", &TkavoFavoriteItem::ColorText),
    FlagField<TkavoFavoriteItem>("ListDisable", &TkavoFavoriteItem::ListDisable),
    FlagField<TkavoFavoriteItem>("YpLike", &TkavoFavoriteItem::YpLike),
    FlagField<TkavoFavoriteItem>("NotNotify", &TkavoFavoriteItem::NotNotify),
}};

constexpr std::size_t ListTestField = 1; // Title<n>, in both lists

// The key names of a list table, built once.
template <class Item, std::size_t N>
const FieldNames& KeysOf(const std::array<ListField<Item>, N>& fields)
{
    static_assert(N <= 32);
    static const FieldNames keys = [&] {
        std::vector<std::string_view> names;
        names.reserve(N);
        for (const auto& field : fields)
            names.push_back(field.Name);
        return FieldNames(std::move(names));
    }();
    return keys; // each item type has exactly one table
}

// Reads a numbered list section in one pass over its lines instead of one lookup per key, with
// the outcome of the lookups: the list runs from entry 0 up to the first entry without Title<n>,
// the first line of a key wins, and missing keys keep the record's defaults (set by prepare).
template <class Item, std::size_t N>
std::vector<std::unique_ptr<Item>> ReadList(const IniFile& ini, std::string_view section,
                                            const std::array<ListField<Item>, N>& fields, void (*prepare)(Item&))
{
    const FieldNames& keys = KeysOf(fields);
    std::size_t last = 0;
    // An entry past the number of key lines can never be reached without a gap.
    const std::uint32_t limit = ini.KeyCount(section);
    std::vector<std::unique_ptr<Item>> items;
    std::vector<std::uint32_t> read; // per entry, a bit per field already taken
    ini.ForEachKey(section, [&](std::string_view key, std::string_view value) {
        keys.Split(key, limit, last, [&](std::size_t field, std::uint32_t n) {
            if (n >= items.size()) {
                items.resize(n + 1);
                read.resize(n + 1, 0);
            }
            const std::uint32_t bit = 1u << field;
            if (read[n] & bit)
                return;
            read[n] |= bit;
            if (!items[n]) {
                items[n] = std::make_unique<Item>();
                if (prepare)
                    prepare(*items[n]);
            }
            fields[field].Read(*items[n], value);
        });
    });
    std::size_t count = 0;
    while (count < items.size() && (read[count] & (1u << ListTestField)))
        ++count;
    items.resize(count);
    return items;
}

template <class Item, std::size_t N>
void WriteList(IniFile& ini, std::string_view section, const std::array<ListField<Item>, N>& fields,
               const TypedList<Item>& list)
{
    ini.EraseSection(section);
    // Numbered densely from 0, so the list reads back in the same order.
    for (int n = 0; n < list.Count(); ++n)
        for (const auto& field : fields)
            field.Write(list[n], ini, section, IndexedKey(field.Name, n));
}

bool IsExecutableFile(const std::string& path)
{
    struct stat st
    {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

struct SystemFontHolder
{
    std::mutex Lock;
    FontSetting Font{"Noto Sans CJK JP", 9};
};

SystemFontHolder& SystemFontState()
{
    static SystemFontHolder holder;
    return holder;
}

struct ColumnTables
{
    std::vector<ColumnName> Names;
    std::vector<std::string> Defaults;
    std::unordered_map<std::string, std::size_t> ByLowerId;
    std::unordered_map<std::string, std::size_t> ByCaption;
};

const ColumnTables& Tables()
{
    static const ColumnTables tables = [] {
        ColumnTables t;
        t.Names = {
            {"Diff", "!"},
            {"No", "No"},
            {"ChannelName", Sjis("チャンネル名")},
            {"Description", Sjis("詳細")},
            {"Listener", Sjis("リスナー/リレー")},
            {"Bitrate", Sjis("ビットレート")},
            {"Type", Sjis("種別")},
            {"TimeStamp", Sjis("取得時刻")},
            {"ContactURL", Sjis("コンタクトURL")},
            {"StreamURL", Sjis("ストリームURL")},
            {"DirectStreamURL", Sjis("ダイレクトストリームURL")},
            {"ChatURL", Sjis("チャットURL")},
            {"StatisticsURL", Sjis("統計URL")},
            {"Hash", Sjis("ハッシュ")},
            {"Description2", Sjis("詳細(Playingなし)")},
            {"Playing", "Playing"},
            {"YpAddr", "YpAddr"},
            {"BroadcastTime", Sjis("配信時間")},
        };
        for (std::size_t i = 0; i < t.Names.size(); ++i) {
            // Identifiers are ASCII, so plain folding is safe for them.
            t.ByLowerId.emplace(AsciiLower(t.Names[i].Id), i);
            t.ByCaption.emplace(t.Names[i].Caption, i);
        }
        for (const char* id :
             {"Diff", "No", "ChannelName", "Description", "Listener", "Bitrate", "Type", "TimeStamp", "Hash", "YpAddr"})
            t.Defaults.push_back(t.Names[t.ByLowerId.at(AsciiLower(id))].Caption);
        return t;
    }();
    return tables;
}

const std::string& EmptyText()
{
    static const std::string empty;
    return empty;
}

} // namespace

// ---- column tables

const std::vector<ColumnName>& ColumnNames()
{
    return Tables().Names;
}

const std::string& ColumnCaptionById(std::string_view id)
{
    const ColumnTables& t = Tables();
    // Identifiers are ASCII; a text with other bytes cannot match any of them.
    const auto it = t.ByLowerId.find(AsciiLower(id));
    return it == t.ByLowerId.end() ? EmptyText() : t.Names[it->second].Caption;
}

const std::string& ColumnIdByCaption(std::string_view caption)
{
    const ColumnTables& t = Tables();
    const auto it = t.ByCaption.find(std::string(caption));
    return it == t.ByCaption.end() ? EmptyText() : t.Names[it->second].Id;
}

const std::vector<std::string>& DefaultColumnCaptions()
{
    return Tables().Defaults;
}

// ---- value semantics

TkavoSetting::TkavoSetting(const TkavoSetting& other)
{
    *this = other;
}

TkavoSetting& TkavoSetting::operator=(const TkavoSetting& other)
{
    if (&other == this)
        return *this;
    URL = other.URL;
    Notify = other.Notify;
    Etc = other.Etc;
    Operation = other.Operation;
    ColorFont = other.ColorFont;
    Priority = other.Priority;
    Event = other.Event;
    Rules = other.Rules;
    History = other.History;
    YpList.Assign(other.YpList);
    Favorites.Assign(other.Favorites);
    Columns = other.Columns;
    Tools = other.Tools;
    TextFont = other.TextFont;
    AllFont = other.AllFont;
    return *this;
}

namespace {

template <class Fields, class List>
bool SameEntries(const List& a, const List& b)
{
    if (a.Count() != b.Count())
        return false;
    for (int i = 0; i < a.Count(); ++i)
        if (!(static_cast<const Fields&>(a[i]) == static_cast<const Fields&>(b[i])))
            return false;
    return true;
}

} // namespace

bool TkavoSetting::operator==(const TkavoSetting& other) const
{
    for (const ScalarOption& option : ScalarOptions)
        if (OptionText(option, *this) != OptionText(option, other))
            return false;
    return SameEntries<YpFields>(YpList, other.YpList) && SameEntries<FavoriteFields>(Favorites, other.Favorites) &&
           Columns == other.Columns && Tools == other.Tools;
}

// ---- defaults

TkavoSetting::EtcOptions::EtcOptions() : TwoChPtn(DefaultBbsPattern()) {}

FontSetting TkavoSetting::SystemFont()
{
    SystemFontHolder& state = SystemFontState();
    std::lock_guard lock(state.Lock);
    return state.Font;
}

void TkavoSetting::SetSystemFont(const FontSetting& font)
{
    SystemFontHolder& state = SystemFontState();
    std::lock_guard lock(state.Lock);
    state.Font = font;
}

std::string TkavoSetting::DefaultPeerCastPath()
{
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        // An empty or relative entry names the working folder, which says nothing about the server.
        if (folder.empty() || folder.front() != '/')
            continue;
        std::string candidate(folder);
        candidate += "/peercast";
        if (IsExecutableFile(candidate))
            return candidate;
    }
    return "/usr/bin/peercast";
}

const char* TkavoSetting::DefaultBbsPattern()
{
    // Matched without regard to case against a channel's contact URL.
    return R"(^https?://(([-a-z0-9]+\.)*(2ch\.net|5ch\.net|bbspink\.com|open2ch\.net|2ch\.sc|machi\.to|)"
           R"(shitaraba\.net|shitaraba\.com)|jbbs\.livedoor\.jp)(:[0-9]+)?([/?#]|$))";
}

std::uint32_t TkavoSetting::ProcessPriorityClass(int index)
{
    switch (index) {
    case 1:
        return 0x8000; // ABOVE_NORMAL_PRIORITY_CLASS
    case 2:
        return 0x20; // NORMAL_PRIORITY_CLASS
    case 3:
        return 0x4000; // BELOW_NORMAL_PRIORITY_CLASS
    default:
        return 0;
    }
}

int TkavoSetting::ThreadPriority(int index)
{
    switch (index) {
    case 1:
        return 1; // THREAD_PRIORITY_ABOVE_NORMAL
    case 3:
        return -1; // THREAD_PRIORITY_BELOW_NORMAL
    default:
        return 0; // THREAD_PRIORITY_NORMAL, or leave unchanged
    }
}

std::string TkavoSetting::SettingsFileName()
{
    std::string name = ProgramName();
    // "X.exe" uses "X.ini"; a leading dot is part of the name, not an extension.
    if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.resize(dot);
    return ProgramFolder() + "/" + name + ".ini";
}

// ---- tools

std::string_view TkavoSetting::ToolTitle(std::string_view tool)
{
    return tool.substr(0, tool.find('='));
}

std::string_view TkavoSetting::ToolCommandOf(std::string_view tool)
{
    const std::size_t eq = tool.find('=');
    return eq == std::string_view::npos ? std::string_view() : tool.substr(eq + 1);
}

std::string TkavoSetting::ToolCommand(std::string_view title) const
{
    for (const std::string& tool : Tools)
        if (ToolTitle(tool) == title)
            return std::string(ToolCommandOf(tool));
    return {};
}

// ---- options

void TkavoSetting::VisitOptions(const std::function<void(std::string_view name, std::string_view value)>& visit) const
{
    std::string name;
    for (const ScalarOption& option : ScalarOptions) {
        name.assign(option.Section).append(1, '/').append(option.Key);
        visit(name, OptionText(option, *this));
    }
}

// ---- Load

void TkavoSetting::Load(std::string* problem)
{
    Load(SettingsFileName(), problem);
}

void TkavoSetting::Load(const std::string& fileName, std::string* problem)
{
    // The temporaries an interrupted save left go with the next save, not with every load.
    LoadFrom(IniFile::Read(fileName, problem));
}

void TkavoSetting::LoadFrom(const IniFile& ini)
{
    // 1. YPs; the first entry of each Url wins.
    auto read = ReadList<TkavoYpItem>(ini, YpSection, YpKeys, [](TkavoYpItem& yp) { yp.ChType = "wmv"; });
    YpList.Clear();
    YpList.Reserve(static_cast<int>(read.size()));
    std::unordered_set<std::string_view> urls;
    for (auto& yp : read)
        if (urls.insert(yp->Url).second)
            YpList.Add(std::move(yp));

    // Every scalar starts from its default, which a missing or unreadable value keeps.
    // The Etc defaults are taken once, since finding PeerCast means a look along PATH.
    static const EtcOptions etcDefaults;
    URL = URLOptions{};
    Notify = NotifyOptions{};
    Etc = etcDefaults;
    Operation = OperationOptions{};
    ColorFont = ColorFontOptions{};
    Priority = PriorityOptions{};
    Event = EventOptions{};
    Rules = RulesOptions{};
    TextFont = SystemFont();
    AllFont = SystemFont();

    const auto& runs = OptionRuns();
    const auto readRun = [&](const OptionRun& run) {
        for (std::size_t i = run.Begin; i < run.End; ++i)
            ReadOption(ini, ScalarOptions[i], *this);
    };

    // 2. [URL], [Notify], [Etc].
    readRun(runs[0]);

    // 3. Columns.
    Columns.clear();
    if (ini.HasSection(ColumnSection)) {
        for (int n = 0;; ++n) {
            const auto id = ini.Value(ColumnSection, IndexedKey("Column", n));
            if (!id)
                break;
            Columns.push_back(ColumnCaptionById(*id));
        }
    } else {
        Columns = DefaultColumnCaptions();
    }

    // 4. [Operation].
    readRun(runs[1]);

    // 5. Tools.
    Tools.clear();
    for (int n = 0;; ++n) {
        const auto title = ini.Value(ToolSection, IndexedKey("key", n));
        if (!title)
            break;
        std::string tool(*title);
        tool += '=';
        tool += ini.ReadString(ToolSection, IndexedKey("cmd", n), "");
        Tools.push_back(std::move(tool));
    }

    // 6. Favorites, duplicates and all.
    Favorites.Clear();
    auto favorites = ReadList<TkavoFavoriteItem>(ini, FavoriteSection, FavoriteKeys, nullptr);
    Favorites.Reserve(static_cast<int>(favorites.size()));
    for (auto& favorite : favorites)
        Favorites.Add(std::move(favorite));

    // 7, 8. [ColorFont] with the fonts first, [Priority], [Event], [Rules].
    readRun(runs[2]);
}

// ---- Save

void TkavoSetting::Save() const
{
    Save(SettingsFileName());
}

void TkavoSetting::Save(const std::string& fileName) const
{
    IniFile::Update(fileName, [this](IniFile& ini) { SaveTo(ini); });
}

void TkavoSetting::SaveTo(IniFile& ini) const
{
    const auto& runs = OptionRuns();
    const auto writeRun = [&](const OptionRun& run) {
        for (std::size_t i = run.Begin; i < run.End; ++i)
            WriteOption(ini, ScalarOptions[i], *this);
    };

    WriteList(ini, YpSection, YpKeys, YpList);

    writeRun(runs[0]);

    ini.EraseSection(ColumnSection);
    for (std::size_t n = 0; n < Columns.size(); ++n)
        ini.WriteString(ColumnSection, IndexedKey("Column", static_cast<int>(n)), ColumnIdByCaption(Columns[n]));

    writeRun(runs[1]);

    // Each entry keeps its own command, so a title that appears twice loses nothing.
    ini.EraseSection(ToolSection);
    for (std::size_t n = 0; n < Tools.size(); ++n) {
        const auto index = static_cast<int>(n);
        ini.WriteString(ToolSection, IndexedKey("key", index), ToolTitle(Tools[n]));
        ini.WriteString(ToolSection, IndexedKey("cmd", index), ToolCommandOf(Tools[n]));
    }

    WriteList(ini, FavoriteSection, FavoriteKeys, Favorites);

    writeRun(runs[2]);
}

} // namespace kavo
