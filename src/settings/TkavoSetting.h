#pragma once

#include "core/Color.h"
#include "core/TkavoFavoriteItem.h"
#include "core/TkavoYpItem.h"
#include "platform/Cp932.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

class IniFile;

struct FontSetting
{
    std::string Name;
    int Size = 0;
    bool operator==(const FontSetting&) const = default;
};

// Every user option, the in-memory image of the program's INI file. Options are grouped by their
// INI section and named after their key, so `Notify/Update2` is `setting.Notify.Update2`.
// Texts are CP932. The member initialisers are the defaults of a missing key.
//
// Only what the user configured lives here: a value that can be copied (a deep copy of the lists)
// and compared. What the retrieval fetches for a YP belongs to the retrieval module. The program
// holds one instance, made by main() and passed to whoever reads it; a dialog edits a copy.
class TkavoSetting
{
public:
    TkavoSetting() = default;
    TkavoSetting(const TkavoSetting& other);
    TkavoSetting& operator=(const TkavoSetting& other);
    // Equal when Save would write the same values.
    bool operator==(const TkavoSetting& other) const;

    struct URLOptions
    {
        int Protocol = 0; // 0 HTTP/1.0, 1 HTTP/1.1
        std::string Proxy;
        std::string Timeout = "30"; // seconds, kept as typed
        bool LocalChInfo = false;
        std::string LocalChInfoAddr = "http://localhost:7144/admin?cmd=viewxml";
        // The address families the local server reaches: 0 IPv4 only, 1 both, 2 IPv6 only.
        int LocalIPFamily = 0;
    } URL;

    struct NotifyOptions
    {
        int Rank2 = 4;
        int Update2 = 10; // minutes; set through SetUpdate2
        std::string Title = Sjis("kavo 通知");
        bool LogRankUp = true;
        std::string BallonTimer = "10";
        int LogRangeHour = 1;
        bool CutLongString = true;
        std::string CutLongStringRange = "50";
        bool ClickActive = true;
        bool TTS = false;
        std::string TTSSpeed = "140";
        bool Unique = true;
        bool Position = false;
        bool PositionLeftTop = false;
        bool PositionRightTop = false;
        bool PositionLeftBottom = false;
        bool PositionRightBottom = true;
        bool Sound = true;
        bool SoundCustom = false;
        std::string SoundFile;
        bool RankUpOrDown2None = true;
        bool notifyCheckBoxFavorite = false;
        // The most channel balloons one refresh queues; the rest are counted in one more. 0: no limit.
        int MaxBalloons = 10;
        // Minutes after its end within which a broadcast that comes back is not announced again; 0: none.
        int AnnounceGrace = 15;
    } Notify;

    struct EtcOptions
    {
        std::string Browser;
        bool Minimized = false;
        std::string ApplicationTitle = "kavo";
        std::string PeerCast = DefaultPeerCastPath();
        bool AutoDownLoad = false;
        bool Player = false;
        std::string PlayerType = "wmv";
        std::string PlayerFileName = "tubex";
        bool TaskTray = true;
        bool CloseToTray = false; // the close box hides the window into the tray
        std::string TwoCh;        // Etc/2ch
        std::string TwoChPtn;     // Etc/2chPtn
        // Off on Linux: PeerCast servers here do not take "-url peercast://...".
        bool DirectChOpen = false;
        EtcOptions();
    } Etc;

    struct OperationOptions
    {
        bool MouseDClickChOpen = true;
        bool KeyEnterChOpen = false;
        bool KeyF5Refresh = false;
        // Asks before playing a channel that will probably not play.
        bool AskPlayHint = true;
    } Operation;

    struct ColorFontOptions
    {
        ColorValue TextFontColor = clWindowText;
        ColorValue TextLinkColor = clBlue;
        ColorValue BackColor = clWindow;
        bool GridLine = false;
        ColorValue TextLinkSelColor = clHighlightText;
        ColorValue TextVisitColor = clPurple;
        bool Visit = true;
    } ColorFont;

    struct PriorityOptions
    {
        int KAVOProcess = 0;
        int KAVOThread = 0;
        int PeerCastProcess = 0;
        int CommandProcess = 0;
    } Priority;

    struct EventOptions
    {
        std::string OnCreate;
        std::string OnDestroy;
    } Event;

    // The rules file (favorites and YPs) kept in step with these settings, for machines that share
    // it through a synced folder.
    struct RulesOptions
    {
        bool Follow = false;
        std::string File; // a relative path is taken from the program folder
    } Rules;

    // What the history tells about channels: who usually broadcasts at an hour.
    struct HistoryOptions
    {
        int RegularWeeks = 4;    // weeks looked back
        int RegularMinWeeks = 2; // of them a regular was on air
    } History;

    TkavoYpList YpList;
    TkavoFavoriteList Favorites;
    std::vector<std::string> Columns; // captions of the visible columns, in display order
    std::vector<std::string> Tools;   // "title=command line", in menu order
    FontSetting TextFont = SystemFont();
    FontSetting AllFont = SystemFont();

    // Replaces everything with the content of the settings file. A missing file reads as an empty
    // one; a file that could not be read also does, and problem (when given) gets a CP932 message
    // that says so. Of YP entries with the same Url the first is kept.
    void Load(std::string* problem = nullptr);
    void Load(const std::string& fileName, std::string* problem = nullptr);
    void LoadFrom(const IniFile& ini);
    // Writes everything into the settings file in one atomic step, keeping the sections and keys
    // that other parts of the program keep there. Throws IniWriteError; the file is then unchanged.
    void Save() const;
    void Save(const std::string& fileName) const;
    void SaveTo(IniFile& ini) const;

    // Stores 10 for a value of 0 or less.
    void SetUpdate2(int minutes) { Notify.Update2 = minutes > 0 ? minutes : 10; }

    // The command of the first tool with this title; "" when there is none.
    std::string ToolCommand(std::string_view title) const;
    // A tool line is "title=command"; the title ends at the first "=".
    static std::string_view ToolTitle(std::string_view tool);
    static std::string_view ToolCommandOf(std::string_view tool);

    // Every scalar option as "Section/Key" and the text Save writes for it, in file order.
    void VisitOptions(const std::function<void(std::string_view name, std::string_view value)>& visit) const;

    // Priority index (0 leave unchanged, 1 above normal, 2 normal, 3 below normal) to the Windows
    // priority class and thread priority values; callers map those to nice values.
    static std::uint32_t ProcessPriorityClass(int index);
    static int ThreadPriority(int index);

    // The program folder, "/", the program's name with ".ini" ("kavo" gives "kavo.ini").
    static std::string SettingsFileName();

    // The desktop's general font; the GUI tells it at start, before the first Load.
    static FontSetting SystemFont();
    static void SetSystemFont(const FontSetting& font);
    // The first `peercast` on PATH, else /usr/bin/peercast.
    static std::string DefaultPeerCastPath();
    // Host names of the 2ch/5ch boards and of the rental boards channels use.
    static const char* DefaultBbsPattern();
};

// List-view columns: the identifier stored in [ColumnVisible] and the caption shown (CP932).
struct ColumnName
{
    std::string Id;
    std::string Caption;
};
// The 18 columns in their table order.
const std::vector<ColumnName>& ColumnNames();
// "" for an unknown identifier (matched without regard to ASCII case) or caption.
const std::string& ColumnCaptionById(std::string_view id);
const std::string& ColumnIdByCaption(std::string_view caption);
// The ten captions a file without [ColumnVisible] keys shows.
const std::vector<std::string>& DefaultColumnCaptions();

} // namespace kavo
