#include "CommonTestSupport.h"

#include "platform/HtmlEntities.h"
#include "platform/RegularExpression.h"
#include "settings/IniFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <set>

namespace kavo {
namespace {

using test::AddSampleChannel;
using test::CommonFixture;
using test::ReadFile;
using test::WriteFile;

class CommonTest : public ::testing::Test, protected CommonFixture
{};

TEST_F(CommonTest, FoldersFollowTheTheme)
{
    auto common = Create();
    const std::string folder = Folder.Path();
    EXPECT_EQ(common->GetTemplatePath(), folder + "/templates/");
    EXPECT_EQ(common->TemplateFolder(), folder + "/templates/");
    EXPECT_EQ(common->GetIconPath(), folder + "/icons/");

    common->Theme = Sjis("黒");
    EXPECT_EQ(common->GetTemplatePath(), folder + "/templates/" + Sjis("黒") + "/");
    EXPECT_EQ(common->TemplateFolder(), folder + "/templates/黒/"); // the file system's own spelling
    EXPECT_EQ(common->GetIconPath(), folder + "/icons/");
    EXPECT_EQ(common->ExpandPathTags("$es{<skinpath/>}"), folder + "/templates/" + Sjis("黒") + "/");
}

TEST_F(CommonTest, ThemeIsReadAtCreationAndWrittenBackWhenChanged)
{
    WriteFile(Folder.File("kavo.ini"), "[Other]\r\nKey=1\r\n[THEME]\r\ntemplates = " + Sjis("青") + "\r\n");
    {
        auto common = Create();
        EXPECT_EQ(common->Theme, Sjis("青"));
    }
    // Unchanged: the file stays as it was.
    EXPECT_EQ(ReadFile(Folder.File("kavo.ini")), "[Other]\r\nKey=1\r\n[THEME]\r\ntemplates = " + Sjis("青") + "\r\n");
    {
        auto common = Create();
        common->Theme = Sjis("白");
    }
    const IniFile ini = IniFile::Read(Folder.File("kavo.ini"));
    EXPECT_EQ(ini.ReadString("Theme", "Templates", "?"), Sjis("白"));
    EXPECT_EQ(ini.ReadString("Other", "Key", "?"), "1");

    std::filesystem::remove(Folder.File("kavo.ini"));
    EXPECT_EQ(Create()->Theme, "");
}

TEST_F(CommonTest, ThemeExists)
{
    WriteAllTemplates("x", "黒"); // the folder, in the file system's spelling
    auto common = Create();
    EXPECT_TRUE(common->ThemeExists(""));
    EXPECT_TRUE(common->ThemeExists(Sjis("黒")));
    EXPECT_FALSE(common->ThemeExists(Sjis("白")));
    EXPECT_FALSE(common->ThemeExists(".."));
    EXPECT_FALSE(common->ThemeExists(Sjis("黒") + "/../.."));
}

TEST_F(CommonTest, LoadTemplatesReadsTheSixFilesAsLines)
{
    WriteTemplate("notify.txt", "n1\r\nn2\r\n");
    WriteTemplate("popup.txt", "p1\rp2");
    WriteTemplate("clipboard.txt", "");
    WriteTemplate("ie_header.html", "h\n");
    WriteTemplate("ie_channel.html", "c\n\n");
    WriteTemplate("ie_footer.html", "f");
    auto common = Create();
    int reports = 0;
    common->OnTemplateError = [&](const std::string&) { ++reports; };
    EXPECT_TRUE(common->LoadTemplates());
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(common->NotifyTemplate(), (std::vector<std::string>{"n1", "n2"}));
    EXPECT_EQ(common->PopupTemplate(), (std::vector<std::string>{"p1", "p2"}));
    EXPECT_TRUE(common->ClipboardTemplate().empty());
    EXPECT_EQ(common->HeaderTemplate(), (std::vector<std::string>{"h"}));
    EXPECT_EQ(common->ChannelTemplate(), (std::vector<std::string>{"c", ""}));
    EXPECT_EQ(common->FooterTemplate(), (std::vector<std::string>{"f"}));

    // Joined with CR LF after every line, header and footer with the list tags.
    TkavoChList list;
    AddSampleChannel(list);
    const PageMarks marks{"n0nce", "script-src 'nonce-n0nce'"};
    std::string page = common->RenderHtmlHeader(list, marks);
    common->AppendHtmlChannel(page, list[0], marks);
    page += common->RenderHtmlFooter(list, marks);
    // A header without a head of its own gets the page's policy at its start.
    EXPECT_EQ(page,
              "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'nonce-n0nce'\">h\r\nc\r\n\r\nf\r\n");
}

TEST_F(CommonTest, FirstFailureEndsTheLoadAndIsReported)
{
    WriteAllTemplates("old\r\n");
    auto common = Create();
    std::vector<std::string> reports;
    common->OnTemplateError = [&](const std::string& message) { reports.push_back(message); };

    // At start-up: notify.txt is read, popup.txt is missing, the rest stay empty.
    std::filesystem::remove(Folder.File("templates/popup.txt"));
    WriteTemplate("notify.txt", "new\r\n");
    EXPECT_FALSE(common->LoadTemplates());
    ASSERT_EQ(reports.size(), 1u);
    const std::string expectedStart = Sjis("templatesの初期化に失敗しました") + "\n";
    EXPECT_TRUE(reports[0].starts_with(expectedStart)) << reports[0];
    EXPECT_NE(reports[0].find(Folder.File("templates/popup.txt")), std::string::npos) << reports[0];
    EXPECT_EQ(common->NotifyTemplate(), (std::vector<std::string>{"new"}));
    for (const TemplateKind kind : {TemplateKind::Popup, TemplateKind::Clipboard, TemplateKind::Header,
                                    TemplateKind::Channel, TemplateKind::Footer})
        EXPECT_TRUE(common->TemplateLines(kind).empty()) << static_cast<int>(kind);

    // Later: a file that cannot be read (a folder of that name) keeps its text and those after it.
    WriteTemplate("popup.txt", "old\r\n");
    ASSERT_TRUE(common->LoadTemplates());
    WriteTemplate("notify.txt", "newer\r\n");
    WriteTemplate("popup.txt", "newer\r\n");
    std::filesystem::remove(Folder.File("templates/clipboard.txt"));
    std::filesystem::create_directory(Folder.File("templates/clipboard.txt"));
    WriteTemplate("ie_footer.html", "newer\r\n");
    EXPECT_FALSE(common->LoadTemplates());
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[1].find("clipboard.txt"), std::string::npos) << reports[1];
    EXPECT_EQ(common->PopupTemplate(), (std::vector<std::string>{"newer"}));
    EXPECT_EQ(common->ClipboardTemplate(), (std::vector<std::string>{"old"}));
    EXPECT_EQ(common->FooterTemplate(), (std::vector<std::string>{"old"}));

    // A FIFO is refused rather than waited for, and so is a file far larger than any template.
    std::filesystem::remove(Folder.File("templates/clipboard.txt"));
    ASSERT_EQ(::mkfifo(Folder.File("templates/clipboard.txt").c_str(), 0600), 0);
    EXPECT_FALSE(common->LoadTemplates());
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_NE(reports[2].find("clipboard.txt"), std::string::npos) << reports[2];
    std::filesystem::remove(Folder.File("templates/clipboard.txt"));
    WriteTemplate("clipboard.txt", "x");
    std::filesystem::resize_file(Folder.File("templates/clipboard.txt"), MaxTemplateBytes + 1);
    EXPECT_FALSE(common->LoadTemplates());
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_NE(reports[3].find("clipboard.txt"), std::string::npos) << reports[3];

    // Without a handler the failure is still returned.
    common->OnTemplateError = nullptr;
    EXPECT_FALSE(common->LoadTemplates());
}

TEST_F(CommonTest, ReloadAfterThemeChangeReadsTheNewFolder)
{
    WriteAllTemplates("plain\r\n");
    WriteAllTemplates("dark\r\n", "dark");
    auto common = Create();
    ASSERT_TRUE(common->LoadTemplates());
    EXPECT_EQ(common->FooterTemplate(), (std::vector<std::string>{"plain"}));
    common->Theme = "dark";
    EXPECT_EQ(common->FooterTemplate(), (std::vector<std::string>{"plain"})); // only a load changes them
    ASSERT_TRUE(common->LoadTemplates());
    EXPECT_EQ(common->FooterTemplate(), (std::vector<std::string>{"dark"}));
}

TEST_F(CommonTest, ColumnTablesAgreeWithTheSettings)
{
    WriteAllTemplates("x\r\n");
    auto common = Create();
    common->InitColumnNames();
    EXPECT_EQ(common->FooterTemplate(), (std::vector<std::string>{"x"})); // the templates come with it

    ASSERT_EQ(common->ColumnCaptionById.Count(), 18);
    ASSERT_EQ(common->ColumnIdByCaption.Count(), 18);
    ASSERT_EQ(common->ColumnWidthByCaption.Count(), 18);
    for (const ColumnName& column : ColumnNames()) {
        EXPECT_EQ(common->ColumnCaptionById.Value(column.Id), ColumnCaptionById(column.Id)) << column.Id;
        EXPECT_EQ(common->ColumnIdByCaption.Value(column.Caption), column.Id) << column.Id;
        EXPECT_EQ(common->ColumnWidthByCaption.Value(column.Caption), column.Id == "Diff"          ? "20"
                                                                      : column.Id == "No"          ? "40"
                                                                      : column.Id == "ChannelName" ? "240"
                                                                      : column.Id == "Description" ? "240"
                                                                      : column.Id == "TimeStamp"   ? "100"
                                                                                                   : "50")
            << column.Id;
    }
    // Identifiers match without case, as the settings do; captions exactly.
    EXPECT_EQ(common->ColumnCaptionById.Value("listener"), Sjis("リスナー/リレー"));
    EXPECT_EQ(common->ColumnCaptionById.Value("Unknown"), "");
    EXPECT_EQ(common->ColumnIdByCaption.Value("no"), "");
    EXPECT_FALSE(common->ColumnWidthByCaption.Has("Unknown"));

    common->InitColumnNames(); // again: no duplicate rows
    EXPECT_EQ(common->ColumnCaptionById.Count(), 18);
}

TEST_F(CommonTest, TextRecipes)
{
    WriteAllTemplates("");
    WriteTemplate("notify.txt", "<channelname/>\r\n<comment/>\r\n" + std::string(80, 'x') + "\r\n");
    WriteTemplate("popup.txt", "<channelname/>  \r\n\r\n<description/>");
    WriteTemplate("clipboard.txt", "<channelname/>\r\n<contact/>\r\n");
    auto common = Create();
    ASSERT_TRUE(common->LoadTemplates());
    TkavoChList list;
    TkavoChItem& channel = AddSampleChannel(list);
    channel.Comment.clear();
    const std::string name = Sjis("テスト&局");

    Setting().Notify.CutLongString = true;
    Setting().Notify.CutLongStringRange = "50";
    EXPECT_EQ(common->RenderNotifyText(channel), name + "\r\n" + std::string(50, 'x') + "...");
    Setting().Notify.CutLongStringRange = "five";
    EXPECT_EQ(common->RenderNotifyText(channel), name + "\r\n" + std::string(60, 'x') + "...");
    Setting().Notify.CutLongString = false;
    EXPECT_EQ(common->RenderNotifyText(channel), name + "\r\n" + std::string(80, 'x'));
    // A cut through a double-byte character: "テスト&局" is 10 bytes, 8 ends inside "局".
    Setting().Notify.CutLongString = true;
    Setting().Notify.CutLongStringRange = "8";
    EXPECT_EQ(common->RenderNotifyText(channel).substr(0, 10), Sjis("テスト&") + "...");

    EXPECT_EQ(common->RenderPopupText(channel), name + "\r\n" + Sjis("[Game - 雑談]"));
    EXPECT_EQ(common->RenderClipboardText(channel), name + "\r\nhttp://bbs.example.net/1/");
}

TEST_F(CommonTest, RefreshInterval)
{
    auto common = Create();
    struct Case
    {
        int Minutes;
        int Base;
    };
    constexpr std::array<Case, 4> cases = {{{10, 600000}, {0, 600000}, {-3, 600000}, {1, 60000}}};
    for (const Case& c : cases) {
        Setting().Notify.Update2 = c.Minutes;
        std::set<int> seconds;
        for (int i = 0; i < 400; ++i) {
            const int interval = common->GetRefreshInterval();
            ASSERT_GE(interval, c.Base) << c.Minutes;
            ASSERT_LE(interval, c.Base + 19000) << c.Minutes;
            ASSERT_EQ(interval % 1000, 0) << c.Minutes;
            seconds.insert((interval - c.Base) / 1000);
        }
        EXPECT_EQ(seconds.size(), 20u) << c.Minutes; // every second from 0 to 19 turns up
    }
    Setting().Notify.Update2 = 1 << 30;
    EXPECT_GT(common->GetRefreshInterval(), 0);
}

TEST_F(CommonTest, PlayWave)
{
    WriteFile(Folder.File("ding.wav"), "RIFF");
    WriteFile(Folder.File("broken.bad"), "RIFF");
    std::filesystem::create_directory(Folder.File("folder.wav"));
    WriteFile(Folder.File("音.wav"), "RIFF");
    auto common = Create();
    struct Case
    {
        std::string Name;
        std::vector<std::string> Played;
    };
    const std::array<Case, 6> cases = {{
        {"", {}},
        {Folder.File("ding.wav"), {"file:" + Folder.File("ding.wav")}},
        {Folder.File("missing.wav"), {"event:message"}},
        {Folder.File("folder.wav"), {"event:message"}},
        {Folder.File("broken.bad"), {"file:" + Folder.File("broken.bad"), "event:message"}},
        // The settings hold CP932; the file system spells the name in UTF-8.
        {Folder.Path() + "/" + Sjis("音.wav"), {"file:" + Folder.File("音.wav")}},
    }};
    for (const Case& c : cases) {
        Player->Played.clear();
        common->PlayWave(c.Name);
        EXPECT_EQ(Player->Played, c.Played) << c.Name;
    }
}

// The list views pick an icon by the Diff value.
TEST(StateIcons, FollowTheDiffValues)
{
    EXPECT_STREQ(StateIconFiles[static_cast<int>(TkavoDiff::None)], "None.ico");
    EXPECT_STREQ(StateIconFiles[static_cast<int>(TkavoDiff::New)], "New.ico");
    EXPECT_STREQ(StateIconFiles[static_cast<int>(TkavoDiff::Playing)], "Playing.ico");
}

// ---- the default template set shipped in data/templates

std::string DataFolder()
{
    return (std::filesystem::path(KAVO_TEST_DATA).parent_path().parent_path() / "data").string();
}

constexpr std::array<const char*, 6> TemplateFiles = {
    "notify.txt", "popup.txt", "clipboard.txt", "ie_header.html", "ie_channel.html", "ie_footer.html",
};

TEST(DefaultTemplates, ShippedBytesAreTheCp932OfTheirSources)
{
    for (const char* name : TemplateFiles) {
        const std::string shipped = ReadFile(DataFolder() + "/templates/" + name);
        const std::string source = ReadFile(DataFolder() + "/templates-src/" + name);
        ASSERT_FALSE(source.empty()) << name;
        EXPECT_EQ(Cp932ToUtf8(shipped), source) << name;
        EXPECT_EQ(shipped, Utf8ToCp932(source))
            << name << ": regenerate with iconv -f UTF-8 -t CP932 data/templates-src/" << name << " > data/templates/"
            << name;
    }
}

class DefaultTemplatesTest : public ::testing::Test, protected CommonFixture
{
protected:
    void SetUp() override
    {
        for (const char* name : TemplateFiles)
            WriteTemplate(name, ReadFile(DataFolder() + "/templates/" + name));
        common = Create();
        ASSERT_TRUE(common->LoadTemplates());
        channel = &AddSampleChannel(list);
        auto& plain = list.Add(std::make_unique<TkavoChItem>());
        plain.ChannelName = "plain";
        plain.Hash = "FEDCBA9876543210FEDCBA9876543210";
    }

    std::unique_ptr<TkavoCommon> common;
    TkavoChList list;
    TkavoChItem* channel = nullptr;
};

TEST_F(DefaultTemplatesTest, PageLinksOpenInANewWindowAndEveryTagIsExpanded)
{
    const PageMarks marks = common->NewPageMarks();
    std::string page = common->RenderHtmlHeader(list, marks);
    for (const TkavoChItem& item : list)
        common->AppendHtmlChannel(page, item, marks);
    page += common->RenderHtmlFooter(list, marks);

    RegularExpression regExp;
    regExp.IgnoreCase = true;
    regExp.Global = true;
    regExp.Pattern = "<a\\s[^>]*>";
    const std::vector<RegExpMatch> links = regExp.Execute(page);
    ASSERT_GE(links.size(), 10u);
    for (const RegExpMatch& link : links) {
        EXPECT_NE(link.Value.find("target=\"_blank\""), std::string::npos) << link.Value;
        EXPECT_NE(link.Value.find("href=\""), std::string::npos) << link.Value;
    }
    regExp.Pattern = "<[a-z0-9]+/>|\\$e[es]\\{";
    EXPECT_FALSE(regExp.Test(page)) << page;

    const auto contains = [&](const std::string& text) { return page.find(text) != std::string::npos; };
    EXPECT_TRUE(contains("href=\"http://bbs.example.net/1/\" target=\"_blank\">" + channel->ChannelName + "</a>"));
    EXPECT_TRUE(contains("href=\"" + channel->StreamURL + "\""));
    EXPECT_TRUE(contains("href=\"kavo://menu/?" + channel->Hash + "\""));
    EXPECT_TRUE(contains("href=\"kavo://menu/?FEDCBA9876543210FEDCBA9876543210\""));
    EXPECT_TRUE(contains("href=\"kavo://actn/?ActionMainRefresh\""));
    for (const char* column : {"ChannelName", "Listener", "Bitrate", "Type", "BroadcastTime"})
        EXPECT_TRUE(contains(std::string("href=\"kavo://sort/?") + column + "\"")) << column;
    EXPECT_TRUE(contains("background-color: #123456; color: #ABCDEF"));
    EXPECT_TRUE(contains("background-color: #FFECC4; color: #000000"));
    EXPECT_TRUE(contains("class=\"find-True\""));
    EXPECT_TRUE(contains("class=\"find-False\""));
    for (const std::string& value :
         {Sjis("[Game - 雑談]"), std::string("Playing: x"), Sjis("コメント"), std::string("12 / 3"),
          std::string("500 kbps"), std::string("1:23"), list.StatusText()})
        EXPECT_TRUE(contains(value)) << Cp932ToUtf8(value);
    EXPECT_TRUE(page.starts_with("<!DOCTYPE html>"));
    EXPECT_TRUE(page.ends_with("</html>\r\n"));
}

TEST_F(DefaultTemplatesTest, TextRecipesGiveCompactTexts)
{
    Setting().Notify.CutLongString = true;
    Setting().Notify.CutLongStringRange = "50";
    const std::string name = HtmlDecode(channel->ChannelName);
    for (const std::string& text : {common->RenderNotifyText(*channel), common->RenderPopupText(*channel),
                                    common->RenderClipboardText(*channel)}) {
        EXPECT_NE(text.find(name), std::string::npos) << Cp932ToUtf8(text);
        EXPECT_EQ(text.find('<'), std::string::npos) << Cp932ToUtf8(text);
        EXPECT_FALSE(text.ends_with("\r\n")) << Cp932ToUtf8(text);
        EXPECT_EQ(text.find("\r\n\r\n"), std::string::npos) << Cp932ToUtf8(text);
    }
    // A channel with nothing but a name leaves no empty lines behind.
    const std::string bare = common->RenderNotifyText(list[1]);
    EXPECT_NE(bare.find("plain"), std::string::npos);
    EXPECT_EQ(bare.find("\r\n\r\n"), std::string::npos);
}

} // namespace
} // namespace kavo
