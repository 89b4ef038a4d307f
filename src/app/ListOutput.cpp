#include "ListOutput.h"

#include "common/ukavoCommon.h"
#include "history/HistoryStore.h"
#include "notify/AnnouncementDecision.h"
#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "rules/RulesImport.h"
#include "settings/TkavoSetting.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>

namespace kavo {
namespace {

using Json = nlohmann::ordered_json;

std::string Utf8(std::string_view cp932)
{
    return Cp932ToUtf8(cp932);
}

// The fields of a time kept as DateTime, which counts local wall-clock time, so it is broken
// down without a time zone. None for no time (0 and less).
std::optional<std::tm> WallClock(DateTime value)
{
    if (value <= 0)
        return std::nullopt;
    const auto seconds = static_cast<std::time_t>(std::llround((value - 25569.0) * SecondsPerDay));
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    return tm;
}

// ISO 8601 local time to the second with the zone's offset at that moment:
// "2026-12-10T17:20:05+09:00". Empty for no time.
std::string Iso8601Local(DateTime value)
{
    const std::optional<std::tm> fields = WallClock(value);
    if (!fields)
        return {};
    const std::tm& wall = *fields;
    std::tm local = wall;
    local.tm_isdst = -1;
    const std::time_t moment = mktime(&local);
    long offset = 0;
    if (moment != static_cast<std::time_t>(-1)) {
        std::tm zone{};
        localtime_r(&moment, &zone);
        offset = zone.tm_gmtoff;
    }
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", wall.tm_year + 1900, wall.tm_mon + 1,
                  wall.tm_mday, wall.tm_hour, wall.tm_min, wall.tm_sec, offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return text;
}

// "YYYY-MM-DD hh:mm:ss"; empty for no time.
std::string DateTimeText(DateTime value)
{
    const std::optional<std::tm> tm = WallClock(value);
    if (!tm)
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &*tm);
    return text;
}

// A field's value may depend on what the local server reaches.
struct Field
{
    const char* Name;
    std::function<Json(const TkavoChItem&, IpFamilies)> Value;
};

Field Text(const char* name, std::string TkavoChItem::*member)
{
    return {name, [member](const TkavoChItem& c, IpFamilies) { return Json(Utf8(c.*member)); }};
}

template <class T>
Field Value(const char* name, T TkavoChItem::*member)
{
    return {name, [member](const TkavoChItem& c, IpFamilies) { return Json(c.*member); }};
}

// Every field of the channel record, in declaration order, then the derived PlayHint.
const std::vector<Field>& ChannelFields()
{
    static const std::vector<Field> fields = {
        Value("No", &TkavoChItem::No),
        {"Diff", [](const TkavoChItem& c, IpFamilies) { return Json(static_cast<int>(c.Diff)); }},
        Text("ChannelName", &TkavoChItem::ChannelName),
        Value("Relays", &TkavoChItem::Relays),
        Value("Listeners", &TkavoChItem::Listeners),
        Text("Bitrate", &TkavoChItem::Bitrate),
        Text("Type", &TkavoChItem::Type),
        Text("ChatURL", &TkavoChItem::ChatURL),
        Text("ContactURL", &TkavoChItem::ContactURL),
        Text("StreamURL", &TkavoChItem::StreamURL),
        Text("DirectStreamURL", &TkavoChItem::DirectStreamURL),
        {"TimeStamp", [](const TkavoChItem& c, IpFamilies) { return Json(Iso8601Local(c.TimeStamp)); }},
        Value("TimeStampSerial", &TkavoChItem::TimeStamp),
        Text("Hash", &TkavoChItem::Hash),
        Value("Find", &TkavoChItem::Find),
        Text("Playing", &TkavoChItem::Playing),
        Value("Color", &TkavoChItem::Color),
        Value("ColorEnabled", &TkavoChItem::ColorEnabled),
        Value("BitrateValue", &TkavoChItem::BitrateValue),
        Value("ListDisable", &TkavoChItem::ListDisable),
        Text("StatisticsURL", &TkavoChItem::StatisticsURL),
        Text("YpAddr", &TkavoChItem::YpAddr),
        Text("FileName", &TkavoChItem::FileName),
        Text("Status", &TkavoChItem::Status),
        Text("Comment", &TkavoChItem::Comment),
        Value("ContactIsBbs", &TkavoChItem::ContactIsBbs),
        Text("Description", &TkavoChItem::Description),
        Text("Genre", &TkavoChItem::Genre),
        Text("LocalStatus", &TkavoChItem::LocalStatus),
        Text("BroadcastTime", &TkavoChItem::BroadcastTime),
        Value("YpLike", &TkavoChItem::YpLike),
        Value("NotNotify", &TkavoChItem::NotNotify),
        Text("PrevPlaying", &TkavoChItem::PrevPlaying),
        Text("PrevComment", &TkavoChItem::PrevComment),
        Text("PrevGenre", &TkavoChItem::PrevGenre),
        Text("PrevDescription", &TkavoChItem::PrevDescription),
        Value("ColorTextEnabled", &TkavoChItem::ColorTextEnabled),
        Value("ColorText", &TkavoChItem::ColorText),
        Value("Visited", &TkavoChItem::Visited),
        Value("Favorite", &TkavoChItem::Favorite),
        {"PlayHint",
         [](const TkavoChItem& c, IpFamilies local) { return Json(std::string(PlayHintName(PlayHintOf(c, local)))); }},
    };
    return fields;
}

// The channels as a JSON array, one channel at a time: a document of the whole list would take
// many times the memory of the list itself.
void AppendChannelsJson(std::string& out, const TkavoChList& list, IpFamilies local,
                        const std::vector<std::vector<std::string>>* yps = nullptr)
{
    out += '[';
    bool first = true;
    Json object = Json::object();
    std::size_t row = 0;
    for (const TkavoChItem& channel : list) {
        for (const Field& field : ChannelFields())
            object[field.Name] = field.Value(channel, local);
        if (yps && row < yps->size())
            object["Yps"] = (*yps)[row++];
        if (!first)
            out += ',';
        first = false;
        out += DumpJson(object);
    }
    out += ']';
}

// Control characters a YP sent must not reach a terminal: each becomes \xHH. In CP932 as in
// UTF-8 no byte below 0x20, nor 0x7F, is part of another character.
std::string EscapeControls(std::string_view text, bool escapeBackslash)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            static constexpr char digits[] = "0123456789abcdef";
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
        } else if (c == '\\' && escapeBackslash) {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

// Tab, CR and LF become blanks as before; other control characters \xHH, and so a backslash \\.
std::string TsvCell(const Json& value)
{
    std::string text = value.is_string() ? value.get<std::string>() : DumpJson(value);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return EscapeControls(text, true);
}

// A broadcast's YP titles in one cell.
std::string JoinedYps(const std::vector<std::string>& titles)
{
    std::string joined;
    for (const std::string& title : titles)
        joined += (joined.empty() ? "" : ", ") + title;
    return joined;
}

void AppendChannelTsv(std::string& out, int cycle, const char* listName, const TkavoChList& list, IpFamilies local,
                      const std::vector<std::vector<std::string>>* yps = nullptr)
{
    std::size_t row = 0;
    for (const TkavoChItem& channel : list) {
        out.append(std::to_string(cycle)).append("\t").append(listName);
        for (const Field& field : ChannelFields())
            out.append("\t").append(TsvCell(field.Value(channel, local)));
        if (yps)
            out.append("\t").append(TsvCell(Json(row < yps->size() ? JoinedYps((*yps)[row++]) : "")));
        out += '\n';
    }
}

// At most maxBytes bytes of CP932 text; a text that had to be cut ends with "…".
std::string CutWithEllipsis(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    static const std::string ellipsis = Sjis("…");
    return std::string(Cp932Cut(text, maxBytes - ellipsis.size())) + ellipsis;
}

// The title of the YP a channel came from, its address when no configured YP has it.
std::string YpTitleOf(const TkavoSetting& setting, const TkavoChItem& channel)
{
    const int index = setting.YpList.IndexOfUrl(channel.YpAddr);
    if (index >= 0 && !setting.YpList[index].Title.empty())
        return setting.YpList[index].Title;
    return channel.YpAddr;
}

// Rows of CP932 cells in columns, as UTF-8 lines; the first row is the header. Columns are
// measured in CP932 bytes, which is also their width on a terminal: a double-byte character takes
// two columns. Columns named in `right` are aligned to the right; trailing blanks are dropped.
std::string Columns(std::vector<std::vector<std::string>> rows, const std::vector<bool>& right)
{
    for (auto& row : rows)
        for (std::string& cell : row)
            cell = EscapeControls(cell, false);
    std::vector<std::size_t> widths(rows.empty() ? 0 : rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string padding(widths[i] - row[i].size(), ' ');
            if (i + 1 == row.size()) {
                line += right[i] ? padding + row[i] : row[i];
                break;
            }
            line += (right[i] ? padding + row[i] : row[i] + padding) + "  ";
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += Utf8(line);
        out += '\n';
    }
    return out;
}

std::string ChannelTable(const TkavoChList& list, const TkavoSetting& setting,
                         const std::vector<std::vector<std::string>>* yps = nullptr)
{
    std::size_t row = 0;
    std::vector<std::vector<std::string>> rows = {
        {"No", "!", "Channel", "Listeners/Relays", "Bitrate", "Type", "Time", "YP", "Genre - Description"}};
    for (const TkavoChItem& c : list) {
        std::string description = HtmlDecode(c.GenreDescription());
        if (!c.Playing.empty())
            description += (description.empty() ? "" : " ") + HtmlDecode(c.Playing);
        rows.push_back({std::to_string(c.No), DiffText(c.Diff), CutWithEllipsis(HtmlDecode(c.ChannelName), 40),
                        std::to_string(c.Listeners) + "/" + std::to_string(c.Relays), c.Bitrate, c.Type,
                        c.BroadcastTime,
                        yps && row < yps->size() ? CutWithEllipsis(Utf8ToCp932(JoinedYps((*yps)[row++])), 40)
                                                 : CutWithEllipsis(YpTitleOf(setting, c), 20),
                        CutWithEllipsis(description, 100)});
    }
    return Columns(std::move(rows), {true, false, false, true, false, false, false, false, false});
}

const char* OutcomeName(YpOutcome outcome)
{
    static constexpr std::array<const char*, YpOutcomeCount> names = {"fetched",   "skipped",    "failed",
                                                                      "not-index", "incomplete", "empty"};
    return names[static_cast<std::size_t>(outcome) % names.size()];
}

Json AttemptJson(const YpAttemptRow& a)
{
    return Json{{"Time", DateTimeText(a.Time)},
                {"Result", OutcomeName(a.Outcome)},
                {"HttpStatus", a.HttpStatus},
                {"Bytes", a.Bytes},
                {"Channels", a.Channels},
                {"DurationMs", a.DurationMs},
                {"Error", Utf8(a.Error)},
                {"Listed", a.Filtered.Listed},
                {"HiddenByType", a.Filtered.HiddenByType},
                {"HiddenByBitrate", a.Filtered.HiddenByBitrate}};
}

} // namespace

std::string DumpJson(const Json& json, int indent)
{
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

Json ChannelJson(const TkavoChItem& channel, IpFamilies local)
{
    Json object = Json::object();
    for (const Field& field : ChannelFields())
        object[field.Name] = field.Value(channel, local);
    return object;
}

std::string ChannelsJson(const TkavoChList& list, IpFamilies local)
{
    std::string out;
    AppendChannelsJson(out, list, local);
    return out;
}

std::string CycleJson(const CycleLists& cycle)
{
    std::string out = "{\"cycle\":" + std::to_string(cycle.Cycle) + ",\"channels\":";
    AppendChannelsJson(out, cycle.OnAir, cycle.LocalFamilies, cycle.Yps);
    out += ",\"log\":";
    AppendChannelsJson(out, cycle.Ended, cycle.LocalFamilies);
    out += ",\"errors\":" + DumpJson(Json(cycle.Errors)) + ",\"StatusText\":" + DumpJson(Json(Utf8(cycle.StatusText))) +
           "}";
    return out;
}

std::string ChannelTsvHeader(bool merged)
{
    std::string line = "cycle\tlist";
    for (const Field& field : ChannelFields())
        line.append("\t").append(field.Name);
    if (merged)
        line.append("\tYps");
    return line + '\n';
}

std::string CycleOutput(const CycleLists& cycle, const CycleLayout& layout, const TkavoSetting& setting)
{
    std::string out;
    switch (layout.Format) {
    case OutputFormat::Json:
        out = CycleJson(cycle) + '\n';
        break;
    case OutputFormat::Tsv:
        AppendChannelTsv(out, cycle.Cycle, "on-air", cycle.OnAir, cycle.LocalFamilies, cycle.Yps);
        if (layout.Log) {
            // The ended ones are not merged; their Yps cell stays empty so that the columns line up.
            const std::vector<std::vector<std::string>> none;
            AppendChannelTsv(out, cycle.Cycle, "ended", cycle.Ended, cycle.LocalFamilies, cycle.Yps ? &none : nullptr);
        }
        break;
    case OutputFormat::Table:
        if (layout.EveryCycle)
            out += "# cycle " + std::to_string(cycle.Cycle) + '\n';
        out += ChannelTable(cycle.OnAir, setting, cycle.Yps);
        if (layout.Log)
            out += '\n' + Utf8(Sjis("放送終了")) + '\n' + ChannelTable(cycle.Ended, setting);
        out += Utf8(cycle.StatusText) + '\n';
        if (layout.EveryCycle && layout.More)
            out += '\n';
        break;
    }
    return out;
}

std::string ExpandTemplates(const TkavoCommon& common, const TemplateTexts& texts, const TkavoChList& list)
{
    std::string page = common.ExpandListTags(list, texts.Header);
    for (const TkavoChItem& channel : list)
        page += common.ExpandChannelTags(&channel, texts.Channel);
    page += common.ExpandListTags(list, texts.Footer);
    return page;
}

std::string TerminalLines(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

Json YpStatusJson(const YpHealth& yp)
{
    Json line = {{"Url", Utf8(yp.Url)},
                 {"Title", Utf8(yp.Title)},
                 {"Enabled", yp.Enabled},
                 {"Result", yp.Recent.empty() ? "" : OutcomeName(yp.Recent.front().Outcome)},
                 {"Channels", yp.Channels},
                 {"LastSuccess", DateTimeText(yp.LastSuccess)},
                 {"FailuresInRow", yp.FailuresInRow},
                 {"Failing", yp.Failing()},
                 {"Recent", Json::array()}};
    for (const YpAttemptRow& a : yp.Recent)
        line["Recent"].push_back(AttemptJson(a));
    return line;
}

Json BroadcastJson(const BroadcastRow& b)
{
    return Json{{"FirstSeen", DateTimeText(b.FirstSeen)},
                {"LastSeen", DateTimeText(b.LastSeen)},
                {"OnAir", b.OnAir},
                {"MaxListeners", b.MaxListeners},
                {"ChannelName", Utf8(b.ChannelName)},
                {"Hash", b.Hash},
                {"YpTitle", Utf8(b.YpTitle)},
                {"YpUrl", Utf8(b.YpUrl)},
                {"Genre", Utf8(b.Genre)},
                {"Description", Utf8(b.Description)}};
}

std::string YpStatusOutput(const std::vector<YpHealth>& rows, OutputFormat format, DateTime now)
{
    std::string out;
    switch (format) {
    case OutputFormat::Json:
        for (const YpHealth& yp : rows)
            out += DumpJson(YpStatusJson(yp)) + '\n';
        break;
    case OutputFormat::Tsv:
        // Without a header line (Title, Url, Enabled, Result, HttpStatus, Channels, LastSuccess,
        // FailuresInRow, Error): scripts already read the first line as a YP.
        for (const YpHealth& yp : rows) {
            const YpAttemptRow* last = yp.Recent.empty() ? nullptr : &yp.Recent.front();
            const std::vector<std::string> cells = {yp.Title,
                                                    yp.Url,
                                                    yp.Enabled ? "1" : "0",
                                                    last ? OutcomeName(last->Outcome) : "",
                                                    last ? std::to_string(last->HttpStatus) : "",
                                                    std::to_string(yp.Channels),
                                                    DateTimeText(yp.LastSuccess),
                                                    std::to_string(yp.FailuresInRow),
                                                    last ? last->Error : ""};
            std::string line;
            for (const std::string& cell : cells)
                line += (line.empty() ? "" : "\t") + TsvCell(Json(Utf8(cell)));
            out += line + '\n';
        }
        break;
    case OutputFormat::Table: {
        std::vector<std::vector<std::string>> table = {
            {"YP", Sjis("状態"), Sjis("チャンネル"), Sjis("最終成功"), Sjis("連続失敗"), "URL"}};
        for (const YpHealth& yp : rows)
            table.push_back({yp.Title.empty() ? yp.Url : yp.Title, YpResultText(yp), std::to_string(yp.Channels),
                             SinceText(yp.LastSuccess, now), std::to_string(yp.FailuresInRow), yp.Url});
        out = Columns(std::move(table), {false, false, true, false, true, false});
        break;
    }
    }
    return out;
}

std::string HistoryOutput(const std::vector<BroadcastRow>& rows, OutputFormat format)
{
    std::string out;
    switch (format) {
    case OutputFormat::Json:
        for (const BroadcastRow& b : rows)
            out += DumpJson(BroadcastJson(b)) + '\n';
        break;
    case OutputFormat::Tsv:
        out = "FirstSeen\tLastSeen\tOnAir\tMaxListeners\tChannelName\tHash\tYpTitle\tYpUrl\tGenre\tDescription\n";
        for (const BroadcastRow& b : rows) {
            std::string line = DateTimeText(b.FirstSeen) + "\t" + DateTimeText(b.LastSeen) + "\t" +
                               (b.OnAir ? "1" : "0") + "\t" + std::to_string(b.MaxListeners);
            for (const std::string* text : {&b.ChannelName, &b.Hash, &b.YpTitle, &b.YpUrl, &b.Genre, &b.Description})
                line += "\t" + TsvCell(Json(Utf8(*text)));
            out += line + '\n';
        }
        break;
    case OutputFormat::Table: {
        std::vector<std::vector<std::string>> table = {
            {Sjis("開始"), Sjis("最終"), Sjis("最大"), "Channel", "YP", "Genre - Description"}};
        for (const BroadcastRow& b : rows)
            table.push_back({FormatMonthDayTime(b.FirstSeen), FormatMonthDayTime(b.LastSeen) + (b.OnAir ? " *" : ""),
                             std::to_string(b.MaxListeners), CutWithEllipsis(HtmlDecode(b.ChannelName), 40), b.YpTitle,
                             CutWithEllipsis(HtmlDecode(GenreDescriptionOf(b.Genre, b.Description)), 100)});
        out = Columns(std::move(table), {false, false, true, false, false, false}) +
              Utf8(Sjis("* 最後の取得で放送中")) + '\n';
        break;
    }
    }
    return out;
}

Json NotificationJson(const NotificationLogRow& row)
{
    return Json{{"Time", DateTimeText(row.Time)},
                {"Trigger", Utf8(TriggerText(static_cast<AnnounceTrigger>(row.Trigger)))},
                {"Outcome", Utf8(OutcomeText(static_cast<AnnounceOutcome>(row.Outcome)))},
                {"ChannelName", Utf8(row.ChannelName)},
                {"ContactURL", Utf8(row.ContactURL)},
                {"Hash", Utf8(row.Hash)},
                {"Yp", Utf8(row.Yp)},
                {"Reason", Utf8(row.Reason)}};
}

std::string NotificationsOutput(const std::vector<NotificationLogRow>& rows, OutputFormat format)
{
    std::string out;
    switch (format) {
    case OutputFormat::Json:
        for (const NotificationLogRow& row : rows)
            out += DumpJson(NotificationJson(row)) + '\n';
        break;
    case OutputFormat::Tsv:
        out = "Time\tTrigger\tOutcome\tChannelName\tContactURL\tHash\tYp\tReason\n";
        for (const NotificationLogRow& row : rows) {
            const Json json = NotificationJson(row);
            std::string line = DateTimeText(row.Time);
            for (const char* key : {"Trigger", "Outcome", "ChannelName", "ContactURL", "Hash", "Yp", "Reason"})
                line += "\t" + TsvCell(json[key]);
            out += line + '\n';
        }
        break;
    case OutputFormat::Table: {
        std::vector<std::vector<std::string>> table = {
            {Sjis("時刻"), Sjis("契機"), Sjis("結果"), "Channel", "YP", Sjis("理由")}};
        for (const NotificationLogRow& row : rows)
            table.push_back({FormatMonthDayTime(row.Time), TriggerText(static_cast<AnnounceTrigger>(row.Trigger)),
                             OutcomeText(static_cast<AnnounceOutcome>(row.Outcome)),
                             CutWithEllipsis(HtmlDecode(row.ChannelName), 40), row.Yp, row.Reason});
        out = Columns(std::move(table), {false, false, false, false, false, false});
        break;
    }
    }
    return out;
}

std::string RegularsOutput(const RegularsReport& report, OutputFormat format)
{
    std::string out;
    switch (format) {
    case OutputFormat::Json:
        for (const Regular& r : report.Rows)
            out += DumpJson(Json{{"ChannelName", Utf8(r.ChannelName)},
                                 {"Weeks", r.Weeks},
                                 {"OfWeeks", report.Weeks},
                                 {"UsualStart", DateTimeText(r.UsualStart)},
                                 {"UsualLengthMinutes", std::lround(r.UsualLength * MinutesPerDay)},
                                 {"OnAir", r.OnAir},
                                 {"Late", r.Late},
                                 {"Genre", Utf8(r.Genre)}}) +
                   '\n';
        break;
    case OutputFormat::Tsv:
        out = "ChannelName\tWeeks\tOfWeeks\tUsualStart\tUsualLength\tOnAir\tLate\tGenre\n";
        for (const Regular& r : report.Rows)
            out += TsvCell(Json(Utf8(r.ChannelName))) + "\t" + std::to_string(r.Weeks) + "\t" +
                   std::to_string(report.Weeks) + "\t" + DateTimeText(r.UsualStart) + "\t" + LengthText(r.UsualLength) +
                   "\t" + (r.OnAir ? "1" : "0") + "\t" + (r.Late ? "1" : "0") + "\t" + TsvCell(Json(Utf8(r.Genre))) +
                   '\n';
        break;
    case OutputFormat::Table: {
        out = Utf8(RegularsTitle(report)) + '\n';
        std::vector<std::vector<std::string>> table = {
            {Sjis("週"), Sjis("開始"), Sjis("長さ"), Sjis("状態"), "Channel", "Genre"}};
        for (const Regular& r : report.Rows)
            table.push_back({std::to_string(r.Weeks) + "/" + std::to_string(report.Weeks), ClockText(r.UsualStart),
                             LengthText(r.UsualLength), RegularStateText(r),
                             CutWithEllipsis(HtmlDecode(r.ChannelName), 40), CutWithEllipsis(HtmlDecode(r.Genre), 60)});
        out += Columns(std::move(table), {true, false, true, false, false, false});
        break;
    }
    }
    return out;
}

Json SettingsJson(const TkavoSetting& setting)
{
    Json json = Json::object();
    setting.VisitOptions([&](std::string_view name, std::string_view value) { json[std::string(name)] = Utf8(value); });
    Json yps = Json::array();
    for (const TkavoYpItem& yp : setting.YpList)
        yps.push_back(Json{{"Enabled", yp.Enabled},
                           {"Title", Utf8(yp.Title)},
                           {"Url", Utf8(yp.Url)},
                           {"Host", Utf8(yp.Host)},
                           {"Bitrate", Utf8(yp.Bitrate)},
                           {"ChType", Utf8(yp.ChType)},
                           {"Script", Utf8(yp.Script)},
                           {"UTF2SJIS", yp.UTF2SJIS},
                           {"ChatURLFix", yp.ChatURLFix},
                           {"PCRawChName2", Utf8(yp.PCRawChName2)},
                           {"PCRawChIP", Utf8(yp.PCRawChIP)},
                           {"NoNotify2", yp.NoNotify2}});
    json["YpList"] = std::move(yps);
    Json favorites = Json::array();
    for (const TkavoFavoriteItem& f : setting.Favorites)
        favorites.push_back(Json{{"Enabled", f.Enabled},
                                 {"Title", Utf8(f.Title)},
                                 {"Word", Utf8(f.Word)},
                                 {"Channel", f.Channel},
                                 {"Description", f.Description},
                                 {"StreamURL", f.StreamURL},
                                 {"YpAddr", f.YpAddr},
                                 {"Comment", f.Comment},
                                 {"ContactURL", f.ContactURL},
                                 {"ChType", f.ChType},
                                 {"Listeners", f.Listeners},
                                 {"Bitrate", f.Bitrate},
                                 {"RegExp", f.RegExp},
                                 {"FileName", Utf8(f.FileName)},
                                 {"ColorEnabled", f.ColorEnabled},
                                 {"Color", f.Color},
                                 {"ColorTextEnabled", f.ColorTextEnabled},
                                 {"ColorText", f.ColorText},
                                 {"ListDisable", f.ListDisable},
                                 {"YpLike", f.YpLike},
                                 {"NotNotify", f.NotNotify}});
    json["Favorites"] = std::move(favorites);
    Json columns = Json::array();
    for (const std::string& caption : setting.Columns)
        columns.push_back(Utf8(caption));
    json["Columns"] = std::move(columns);
    Json tools = Json::array();
    for (const std::string& tool : setting.Tools)
        tools.push_back(Utf8(tool));
    json["Tools"] = std::move(tools);
    return json;
}

// ---- Rules files

std::string ImportSummaryText(const ImportSummary& summary)
{
    std::string text;
    const auto section = [&](const char* name, const ImportSummary::Counts& counts) {
        if (!counts.Present)
            return;
        text.append(name).append(": ");
        if (summary.Mode == ImportMode::Replace)
            text += std::to_string(counts.Added) + " in place of " + std::to_string(counts.Replaced);
        else
            text += std::to_string(counts.Added) + " added, " + std::to_string(counts.Skipped) + " already there";
        text += '\n';
    };
    section("favorites", summary.Favorites);
    section("yps", summary.Yps);
    if (text.empty())
        text = "the file holds no favorites and no YPs\n";
    for (const std::string& note : summary.Notes)
        text.append("note: ").append(note).append("\n");
    return text;
}

} // namespace kavo
