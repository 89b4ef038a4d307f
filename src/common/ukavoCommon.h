#pragma once

#include "common/Templates.h"
#include "common/WavePlayer.h"
#include "core/PlayHint.h"
#include "core/TkavoChItem.h"
#include "platform/RegularExpression.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavo {

class IniFile;
class TkavoSetting;

// A template file larger than this is refused: real ones are a few KiB, and each is held and
// expanded whole.
inline constexpr std::size_t MaxTemplateBytes = std::size_t{4} << 20;

// Where the program keeps its state. Paths are file system paths.
struct CommonPaths
{
    std::string ProgramFolder; // without a trailing "/"
    std::string ProgramName;   // "kavo"
    std::string SettingsFile;  // the INI file holding [Theme] Templates; empty: none

    // The running program's folder, name and INI file.
    static CommonPaths Current();
};

// An ordered name=value table; an unknown name gives "".
class NameValueTable
{
public:
    // foldAsciiCase: names match without regard to ASCII case (for ASCII identifiers).
    explicit NameValueTable(bool foldAsciiCase = false) : m_foldCase(foldAsciiCase) {}
    void Clear() { m_rows.clear(); }
    void Add(std::string name, std::string value) { m_rows.emplace_back(std::move(name), std::move(value)); }
    const std::string& Value(std::string_view name) const;
    bool Has(std::string_view name) const;
    int Count() const { return static_cast<int>(m_rows.size()); }
    const std::vector<std::pair<std::string, std::string>>& Rows() const { return m_rows; }

private:
    bool m_foldCase;
    std::vector<std::pair<std::string, std::string>> m_rows;
};

// The six templates, in the order they are loaded.
enum class TemplateKind {
    Notify,
    Popup,
    Clipboard,
    Header,
    Channel,
    Footer,
};
constexpr int TemplateKindCount = 6;

// Icon files of the channel states; the index is the TkavoDiff value.
extern const std::array<const char*, TkavoDiffCount> StateIconFiles;

// The shared services of the program: flags, column tables, templates and tag expansion, sound,
// refresh interval. The GUI holds one instance for the whole run; everything but Closing is used
// on the main thread only.
class TkavoCommon : private TagEnvironment
{
public:
    // The settings are read on the main thread and must outlive the object.
    explicit TkavoCommon(const TkavoSetting& setting, CommonPaths paths = CommonPaths::Current(),
                         std::unique_ptr<WavePlayer> player = CreateCanberraPlayer());
    // Writes Theme back to the INI file when it changed; a failure to write is ignored.
    ~TkavoCommon() override;
    TkavoCommon(const TkavoCommon&) = delete;
    TkavoCommon& operator=(const TkavoCommon&) = delete;

    std::atomic<bool> Busy = false;        // a retrieval cycle runs
    std::atomic<bool> Closing = false;     // the program shuts down; the sound worker reads it
    std::atomic<bool> Initialized = false; // start-up has finished

    std::string Theme;      // the template set; CP932; "" for the templates folder itself
    std::string FindValue2; // the last confirmed search value, as the find dialog produced it
    // The find dialog's current search value for <findvalue/>; unset: "".
    std::function<std::string()> FindValueSource;
    // Shows the CP932 message of a failed template load; the GUI puts it in a message box.
    std::function<void(const std::string& message)> OnTemplateError;

    // The shared regular-expression object: every user sets the flags it needs first.
    RegularExpression RegExp;

    NameValueTable ColumnCaptionById{true};
    NameValueTable ColumnIdByCaption;
    NameValueTable ColumnWidthByCaption;

    // Fills the three column tables, then loads the templates.
    void InitColumnNames();

    // Reads the six template files; the first that cannot be read ends the attempt, is reported
    // through OnTemplateError and keeps, like the ones after it, its previous text. False then.
    bool LoadTemplates();
    const std::vector<std::string>& TemplateLines(TemplateKind kind) const;
    // The template as it is expanded: its lines joined, split into literal pieces and tag slots.
    const CompiledTemplate& Compiled(TemplateKind kind) const;
    const std::vector<std::string>& NotifyTemplate() const { return TemplateLines(TemplateKind::Notify); }
    const std::vector<std::string>& PopupTemplate() const { return TemplateLines(TemplateKind::Popup); }
    const std::vector<std::string>& ClipboardTemplate() const { return TemplateLines(TemplateKind::Clipboard); }
    const std::vector<std::string>& HeaderTemplate() const { return TemplateLines(TemplateKind::Header); }
    const std::vector<std::string>& ChannelTemplate() const { return TemplateLines(TemplateKind::Channel); }
    const std::vector<std::string>& FooterTemplate() const { return TemplateLines(TemplateKind::Footer); }

    // The template folder as a CP932 text ending with "/", the value of <templatepath/>.
    std::string GetTemplatePath() const;
    // The same folder as a file system path, ending with "/", for reading and writing its files.
    std::string TemplateFolder() const;
    // The folder of the icons, a file system path ending with "/"; the theme does not change it.
    std::string GetIconPath() const;
    // Whether a set name may become Theme: "" or the name of a folder below the templates folder.
    bool ThemeExists(const std::string& theme) const;

    // Replaces one tag given as a pattern ("<(no|num)/>"): its ee forms when the text holds one,
    // else its es forms, else the plain tag. The value is inserted as it is. Throws
    // RegularExpressionError for a bad pattern.
    std::string ReplaceTag(std::string_view text, std::string_view tagPattern, std::string_view value);
    std::string ExpandPathTags(std::string_view text) const;
    std::string ExpandListTags(const TkavoChList& list, std::string_view text) const;
    // Without a channel the channel tags take the values of a new, empty record.
    std::string ExpandChannelTags(const TkavoChItem* channel, std::string_view text) const;
    // A tool's command line: <inputbox/> (any number, asked once, only when present) takes the
    // answer of ask, then the channel tags; all in one pass, so an answer stays as typed.
    std::string ExpandCommandTags(const TkavoChItem* channel, std::string_view command,
                                  const std::function<std::string()>& ask) const;

    // The text recipes for one channel.
    std::string RenderNotifyText(const TkavoChItem& channel) const;
    std::string RenderPopupText(const TkavoChItem& channel) const;
    std::string RenderClipboardText(const TkavoChItem& channel) const;
    // Why the channel will probably not play through the local server as it is set up.
    PlayHint ChannelPlayHint(const TkavoChItem& channel) const;

    // The marks of one build of the HTML view: a new nonce for the templates' own <script> elements,
    // and the policy that lets those, and the inline handlers the templates hold, run and nothing
    // else.
    PageMarks NewPageMarks() const;
    // The HTML view's pieces: header and footer for the channel list, one block per channel. Values
    // from outside are made safe for HTML.
    std::string RenderHtmlHeader(const TkavoChList& list, const PageMarks& marks) const;
    void AppendHtmlChannel(std::string& page, const TkavoChItem& channel, const PageMarks& marks) const;
    std::string RenderHtmlFooter(const TkavoChList& list, const PageMarks& marks) const;

    // Milliseconds until the next automatic refresh: Notify/Update2 minutes (10 when not positive)
    // plus 0 to 19 whole seconds, drawn anew every call.
    int GetRefreshInterval();

    // Plays a sound file (CP932 path, as the settings hold it) and returns at once. "" plays
    // nothing; a file that is missing or cannot be played gives the theme's "message" sound.
    void PlayWave(const std::string& fileName);

    // Takes Theme from the settings file as read at start.
    void ReadTheme(const IniFile& settingsFile);
    // Writes Theme to the INI file now when it changed since read or last saved. Throws
    // IniWriteError.
    void SaveTheme() const;

private:
    struct LoadedTemplate
    {
        std::vector<std::string> Lines;
        CompiledTemplate Compiled;
    };

    std::string PathTagValue(Tag tag) const override;
    std::string FindValue() const override;
    TagValues valuesFor(const TkavoChItem* channel) const;
    std::string expandTemplate(TemplateKind kind, const TkavoChItem& channel) const;
    void hashInlineScripts();

    const TkavoSetting& m_setting;
    CommonPaths m_paths;
    mutable std::string m_themeAsRead; // what the INI file holds, to write only a change
    std::unique_ptr<WavePlayer> m_player;
    std::array<LoadedTemplate, TemplateKindCount> m_templates;
    // "'sha256-...'" of every inline handler and javascript: URL of the page's templates.
    std::vector<std::string> m_inlineScriptHashes;
    std::mt19937 m_random;
};

} // namespace kavo
