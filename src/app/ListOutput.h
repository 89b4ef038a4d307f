#pragma once

// What kavo-list prints, as functions of the engine's data: channel lists in their three formats,
// the YP status and history reports and the settings. Nothing here reads or writes a file or a
// stream, so another front end can serve the same texts.

#include "core/PlayHint.h"
#include "core/TkavoChItem.h"
#include "platform/DateTime.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace kavo {

class TkavoCommon;
class TkavoSetting;
struct BroadcastRow;
struct NotificationLogRow;
struct RegularsReport;
struct ImportSummary;
struct YpHealth;

enum class OutputFormat {
    Table, // for people: columns of UTF-8 text
    Tsv,   // for scripts: a header line, then one line a row
    Json,  // one object a line
};

// Invalid UTF-8 (a text that was no CP932) is replaced, never thrown about.
std::string DumpJson(const nlohmann::ordered_json& json, int indent = -1);

// ---- Channels

// Every field of the channel record under its own name, in declaration order; texts in UTF-8,
// still HTML-escaped as the YP sent them; TimeStamp in ISO 8601 local time with its offset and
// TimeStampSerial as kept (days since 1899-12-30). Then PlayHint: why the channel will probably
// not play through a local server that reaches these families ("" when nothing speaks against it).
nlohmann::ordered_json ChannelJson(const TkavoChItem& channel, IpFamilies local = IpFamilies::V4Only);
// The channels as a JSON array, one line.
std::string ChannelsJson(const TkavoChList& list, IpFamilies local = IpFamilies::V4Only);

// One refresh as printed: the lists shown, the errors it told (UTF-8) and the status line of the
// whole list on air (CP932). The lists and errors must outlive it.
struct CycleLists
{
    int Cycle = 1;
    const TkavoChList& OnAir;
    const TkavoChList& Ended;
    const std::vector<std::string>& Errors;
    std::string StatusText;
    IpFamilies LocalFamilies = IpFamilies::V4Only; // for PlayHint
    // With --merge: the titles of the YPs that list each broadcast of OnAir, the shown one first
    // (UTF-8); null without it.
    const std::vector<std::vector<std::string>>* Yps = nullptr;
};

// How the refreshes are printed.
struct CycleLayout
{
    OutputFormat Format = OutputFormat::Table;
    bool Log = false;        // the ended channels too (JSON always carries them)
    bool EveryCycle = false; // every refresh is printed, not only the last
    bool More = false;       // another refresh follows this one
};

// {"cycle":n,"channels":[...],"log":[...],"errors":[...],"StatusText":"..."}, one line.
std::string CycleJson(const CycleLists& cycle);
// The TSV header line that precedes the refreshes, with its line end; merged: with the field Yps.
std::string ChannelTsvHeader(bool merged = false);
// One refresh in the chosen format, with its line ends.
std::string CycleOutput(const CycleLists& cycle, const CycleLayout& layout, const TkavoSetting& setting);

// The header expanded with the list tags, the channel template for every channel of the list and
// the footer, as the HTML view builds its page (CP932).
struct TemplateTexts
{
    std::string Header;
    std::string Channel;
    std::string Footer;
};
std::string ExpandTemplates(const TkavoCommon& common, const TemplateTexts& texts, const TkavoChList& list);

// CR LF as LF, for a terminal.
std::string TerminalLines(std::string_view text);

// ---- Reports of history.sqlite

nlohmann::ordered_json YpStatusJson(const YpHealth& yp);
nlohmann::ordered_json BroadcastJson(const BroadcastRow& broadcast);
// The YP status or the broadcasts in the chosen format, with their line ends.
std::string YpStatusOutput(const std::vector<YpHealth>& rows, OutputFormat format, DateTime now);
std::string HistoryOutput(const std::vector<BroadcastRow>& rows, OutputFormat format);
nlohmann::ordered_json NotificationJson(const NotificationLogRow& row);
std::string NotificationsOutput(const std::vector<NotificationLogRow>& rows, OutputFormat format);
// Who usually broadcasts at the moment of the report: a title line and a row a channel (table), a
// header line and a line a channel (tsv), or an object a channel (json).
std::string RegularsOutput(const RegularsReport& report, OutputFormat format);

// ---- Settings

// Each option as the settings file holds its text, then the YPs, favorites, columns and tools.
nlohmann::ordered_json SettingsJson(const TkavoSetting& setting);

// ---- Rules files

// What an import did, a line a section, then a line a note.
std::string ImportSummaryText(const ImportSummary& summary);

} // namespace kavo
