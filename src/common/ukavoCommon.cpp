#include "common/ukavoCommon.h"

#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "platform/RegularFile.h"
#include "platform/Sha256.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <unistd.h>

namespace kavo {

namespace {

constexpr std::array<const char*, TemplateKindCount> TemplateFiles = {
    "notify.txt", "popup.txt", "clipboard.txt", "ie_header.html", "ie_channel.html", "ie_footer.html",
};

TagSet TagSetOf(TemplateKind kind)
{
    return kind == TemplateKind::Header || kind == TemplateKind::Footer ? TagSet::List : TagSet::Channel;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// Reads a whole template file; on failure the CP932 text of the error, naming the file.
bool ReadFile(const std::string& path, std::string& content, std::string& error)
{
    const int code = ReadRegularFile(path, MaxTemplateBytes, content);
    if (code == 0)
        return true;
    error = Sjis("ファイル \"") + Utf8ToCp932(path) + Sjis("\" を読めません: ") +
            Utf8ToCp932(ReadErrorText(code, MaxTemplateBytes));
    return false;
}

// "$" is literal in a value, never a reference of the replacement syntax.
std::string LiteralReplacement(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        out += c;
        if (c == '$')
            out += '$';
    }
    return out;
}

} // namespace

const std::array<const char*, TkavoDiffCount> StateIconFiles = {
    "None.ico", "Up.ico", "Down.ico", "PreNew.ico", "New.ico", "Change.ico", "Idle.ico", "Relaying.ico", "Playing.ico",
};

CommonPaths CommonPaths::Current()
{
    return {kavo::ProgramFolder(), kavo::ProgramName(), TkavoSetting::SettingsFileName()};
}

// ---- NameValueTable

const std::string& NameValueTable::Value(std::string_view name) const
{
    static const std::string empty;
    for (const auto& [key, value] : m_rows)
        if (m_foldCase ? EqualsIgnoringAsciiCase(key, name) : key == name)
            return value;
    return empty;
}

bool NameValueTable::Has(std::string_view name) const
{
    for (const auto& row : m_rows)
        if (m_foldCase ? EqualsIgnoringAsciiCase(row.first, name) : row.first == name)
            return true;
    return false;
}

// ---- TkavoCommon

TkavoCommon::TkavoCommon(const TkavoSetting& setting, CommonPaths paths, std::unique_ptr<WavePlayer> player)
    : m_setting(setting), m_paths(std::move(paths)), m_player(std::move(player)), m_random(std::random_device{}())
{
    while (m_paths.ProgramFolder.size() > 1 && m_paths.ProgramFolder.back() == '/')
        m_paths.ProgramFolder.pop_back();
}

void TkavoCommon::ReadTheme(const IniFile& settingsFile)
{
    Theme = settingsFile.ReadString("Theme", "Templates", "");
    m_themeAsRead = Theme;
}

TkavoCommon::~TkavoCommon()
{
    try {
        SaveTheme();
    } catch (const std::exception&) {
        // Nobody is left to tell at exit; the next start uses the set that was saved before.
    }
}

void TkavoCommon::SaveTheme() const
{
    // Written only when changed, so a run that never touched the set leaves the file alone.
    if (m_paths.SettingsFile.empty() || Theme == m_themeAsRead)
        return;
    IniFile::Update(m_paths.SettingsFile, [&](IniFile& ini) { ini.WriteString("Theme", "Templates", Theme); });
    m_themeAsRead = Theme;
}

void TkavoCommon::InitColumnNames()
{
    ColumnCaptionById.Clear();
    ColumnIdByCaption.Clear();
    ColumnWidthByCaption.Clear();
    for (const ColumnName& column : ColumnNames()) {
        ColumnCaptionById.Add(column.Id, column.Caption);
        ColumnIdByCaption.Add(column.Caption, column.Id);
        int width = 50;
        if (column.Id == "Diff")
            width = 20;
        else if (column.Id == "No")
            width = 40;
        else if (column.Id == "ChannelName" || column.Id == "Description")
            width = 240;
        else if (column.Id == "TimeStamp")
            width = 100;
        ColumnWidthByCaption.Add(column.Caption, std::to_string(width));
    }
    LoadTemplates();
}

bool TkavoCommon::LoadTemplates()
{
    const std::string folder = TemplateFolder();
    for (int i = 0; i < TemplateKindCount; ++i) {
        std::string content;
        std::string error;
        if (!ReadFile(folder + TemplateFiles[static_cast<std::size_t>(i)], content, error)) {
            hashInlineScripts();
            if (OnTemplateError)
                OnTemplateError(Sjis("templatesの初期化に失敗しました") + "\n" + error);
            return false;
        }
        const auto kind = static_cast<TemplateKind>(i);
        LoadedTemplate& loaded = m_templates[static_cast<std::size_t>(i)];
        loaded.Lines = SplitLines(content);
        loaded.Compiled = CompiledTemplate(JoinLines(loaded.Lines), TagSetOf(kind));
        if (kind == TemplateKind::Header || kind == TemplateKind::Channel || kind == TemplateKind::Footer)
            loaded.Compiled.MarkPageScripts(kind == TemplateKind::Header);
    }
    hashInlineScripts();
    return true;
}

void TkavoCommon::hashInlineScripts()
{
    m_inlineScriptHashes.clear();
    for (const TemplateKind kind : {TemplateKind::Header, TemplateKind::Channel, TemplateKind::Footer})
        for (const std::string& script : Compiled(kind).InlineScripts()) {
            const auto digest = Sha256(script);
            std::string hash = "'sha256-" + Base64({reinterpret_cast<const char*>(digest.data()), digest.size()}) + "'";
            if (std::find(m_inlineScriptHashes.begin(), m_inlineScriptHashes.end(), hash) == m_inlineScriptHashes.end())
                m_inlineScriptHashes.push_back(std::move(hash));
        }
}

const std::vector<std::string>& TkavoCommon::TemplateLines(TemplateKind kind) const
{
    return m_templates.at(static_cast<std::size_t>(kind)).Lines;
}

const CompiledTemplate& TkavoCommon::Compiled(TemplateKind kind) const
{
    return m_templates.at(static_cast<std::size_t>(kind)).Compiled;
}

std::string TkavoCommon::GetTemplatePath() const
{
    std::string path = Utf8ToCp932(m_paths.ProgramFolder) + "/templates/";
    if (!Theme.empty())
        path += Theme + "/";
    return path;
}

std::string TkavoCommon::TemplateFolder() const
{
    std::string path = m_paths.ProgramFolder + "/templates/";
    if (!Theme.empty())
        path += Cp932ToUtf8(Theme) + "/";
    return path;
}

std::string TkavoCommon::GetIconPath() const
{
    return m_paths.ProgramFolder + "/icons/";
}

bool TkavoCommon::ThemeExists(const std::string& theme) const
{
    if (theme.empty())
        return true;
    if (theme == "." || theme == ".." || theme.find('/') != std::string::npos)
        return false;
    std::error_code ec;
    return std::filesystem::is_directory(m_paths.ProgramFolder + "/templates/" + Cp932ToUtf8(theme), ec);
}

// ---- tags

std::string TkavoCommon::PathTagValue(Tag tag) const
{
    std::string value;
    auto folderPart = [&](const std::string& path) {
        const std::size_t slash = path.rfind('/');
        if (slash != std::string::npos)
            value = path.substr(0, slash + 1);
    };
    auto namePart = [&](const std::string& path) {
        const std::size_t slash = path.rfind('/');
        value = slash == std::string::npos ? path : path.substr(slash + 1);
    };
    switch (tag) {
    case Tag::TemplatePath:
        return GetTemplatePath();
    case Tag::ExePath:
        return Utf8ToCp932(m_paths.ProgramFolder) + "/";
    case Tag::ExeName:
        return Utf8ToCp932(m_paths.ProgramName);
    case Tag::PeerCastPath:
        folderPart(m_setting.Etc.PeerCast);
        return value;
    case Tag::PeerCastName:
        namePart(m_setting.Etc.PeerCast);
        return value;
    case Tag::BrowserPath:
        folderPart(m_setting.Etc.Browser);
        return value;
    case Tag::BrowserName:
        namePart(m_setting.Etc.Browser);
        return value;
    case Tag::FindValue2:
        return FindValue2;
    default:
        return {};
    }
}

std::string TkavoCommon::FindValue() const
{
    if (!FindValueSource)
        return {};
    try {
        return FindValueSource();
    } catch (const std::exception&) {
        return {};
    }
}

PlayHint TkavoCommon::ChannelPlayHint(const TkavoChItem& channel) const
{
    return PlayHintOf(channel, IpFamiliesOf(m_setting.URL.LocalIPFamily));
}

TagValues TkavoCommon::valuesFor(const TkavoChItem* channel) const
{
    TagValues values;
    values.Environment = this;
    values.Channel = channel;
    values.LocalChInfo = m_setting.URL.LocalChInfo;
    values.LocalIPFamily = m_setting.URL.LocalIPFamily;
    return values;
}

std::string TkavoCommon::ReplaceTag(std::string_view text, std::string_view tagPattern, std::string_view value)
{
    RegExp.Global = true;
    RegExp.IgnoreCase = true;
    RegExp.Multiline = false;
    const std::string tag(tagPattern);
    RegExp.Pattern = "\\$ee\\{" + tag + "\\}";
    if (RegExp.Test(text))
        return RegExp.Replace(text, LiteralReplacement(BackslashesToSlashes(value)));
    RegExp.Pattern = "\\$es\\{" + tag + "\\}";
    if (RegExp.Test(text))
        return RegExp.Replace(text, LiteralReplacement(DoubleBackslashes(value)));
    RegExp.Pattern = tag;
    return RegExp.Replace(text, LiteralReplacement(value));
}

std::string TkavoCommon::ExpandPathTags(std::string_view text) const
{
    return CompiledTemplate(std::string(text), TagSet::Path).Expand(valuesFor(nullptr));
}

std::string TkavoCommon::ExpandListTags(const TkavoChList& list, std::string_view text) const
{
    TagValues values = valuesFor(nullptr);
    values.List = &list;
    return CompiledTemplate(std::string(text), TagSet::List).Expand(values);
}

std::string TkavoCommon::ExpandChannelTags(const TkavoChItem* channel, std::string_view text) const
{
    return CompiledTemplate(std::string(text), TagSet::Channel).Expand(valuesFor(channel));
}

std::string TkavoCommon::ExpandCommandTags(const TkavoChItem* channel, std::string_view command,
                                           const std::function<std::string()>& ask) const
{
    const CompiledTemplate compiled(std::string(command), TagSet::Command);
    std::string answer;
    if (ask && compiled.Uses(Tag::InputBox))
        answer = ask();
    TagValues values = valuesFor(channel);
    values.InputAnswer = answer;
    return compiled.Expand(values);
}

std::string TkavoCommon::expandTemplate(TemplateKind kind, const TkavoChItem& channel) const
{
    return m_templates.at(static_cast<std::size_t>(kind)).Compiled.Expand(valuesFor(&channel));
}

std::string TkavoCommon::RenderNotifyText(const TkavoChItem& channel) const
{
    const auto& notify = m_setting.Notify;
    const int cut = notify.CutLongString ? CutRange(notify.CutLongStringRange) : -1;
    return FinishNotifyText(expandTemplate(TemplateKind::Notify, channel), cut);
}

std::string TkavoCommon::RenderPopupText(const TkavoChItem& channel) const
{
    return FinishPlainText(expandTemplate(TemplateKind::Popup, channel));
}

std::string TkavoCommon::RenderClipboardText(const TkavoChItem& channel) const
{
    return FinishPlainText(expandTemplate(TemplateKind::Clipboard, channel));
}

PageMarks TkavoCommon::NewPageMarks() const
{
    std::random_device device;
    std::string random(16, '\0');
    for (std::size_t i = 0; i < random.size(); i += 4) {
        const unsigned int bits = device();
        for (std::size_t k = 0; k < 4; ++k)
            random[i + k] = static_cast<char>(bits >> (8 * k));
    }
    PageMarks marks;
    marks.Nonce = Base64(random);
    // 'strict-dynamic': a template's script may load further scripts; 'unsafe-eval': scripts written
    // for older browsers pass code to setTimeout as text.
    marks.Policy = "script-src 'nonce-" + marks.Nonce + "' 'strict-dynamic' 'unsafe-eval'";
    if (!m_inlineScriptHashes.empty()) {
        marks.Policy += " 'unsafe-hashes'";
        for (const std::string& hash : m_inlineScriptHashes)
            marks.Policy += " " + hash;
    }
    marks.Policy += "; object-src 'none'";
    return marks;
}

std::string TkavoCommon::RenderHtmlHeader(const TkavoChList& list, const PageMarks& marks) const
{
    TagValues values = valuesFor(nullptr);
    values.List = &list;
    values.Page = &marks;
    return m_templates[static_cast<std::size_t>(TemplateKind::Header)].Compiled.Expand(values);
}

void TkavoCommon::AppendHtmlChannel(std::string& page, const TkavoChItem& channel, const PageMarks& marks) const
{
    TagValues values = valuesFor(&channel);
    values.Page = &marks;
    m_templates[static_cast<std::size_t>(TemplateKind::Channel)].Compiled.ExpandTo(page, values);
}

std::string TkavoCommon::RenderHtmlFooter(const TkavoChList& list, const PageMarks& marks) const
{
    TagValues values = valuesFor(nullptr);
    values.List = &list;
    values.Page = &marks;
    return m_templates[static_cast<std::size_t>(TemplateKind::Footer)].Compiled.Expand(values);
}

// ---- small services

int TkavoCommon::GetRefreshInterval()
{
    const long long minutes = m_setting.Notify.Update2;
    const long long base = minutes <= 0 ? 600000 : minutes * 60000;
    std::uniform_int_distribution<int> seconds(0, 19);
    // A timer takes an int; years of minutes would overflow it.
    return static_cast<int>(std::min<long long>(base + seconds(m_random) * 1000LL, std::numeric_limits<int>::max()));
}

void TkavoCommon::PlayWave(const std::string& fileName)
{
    if (fileName.empty() || !m_player)
        return;
    const std::string path = Cp932ToUtf8(fileName);
    std::error_code ec;
    const bool readable = std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), R_OK) == 0;
    if (!readable || !m_player->PlayFile(path))
        m_player->PlayEvent("message");
}

} // namespace kavo
