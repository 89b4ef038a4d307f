#include "settings/TkavoSetting.h"

#include "platform/Cp932.h"
#include "platform/ProgramFolder.h"
#include "platform/RegularExpression.h"
#include "settings/IniFile.h"
#include "settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kavo {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

const std::string WindowsFixture = std::string(KAVO_TEST_DATA) + "/settings/windows.ini";

std::string B(bool value)
{
    return value ? "1" : "0";
}

// Everything Load and Save carry, one line per value, so two objects compare with a readable diff.
std::string Describe(const TkavoSetting& s)
{
    std::ostringstream out;
    s.VisitOptions([&](std::string_view name, std::string_view value) { out << name << '=' << value << '\n'; });
    for (int i = 0; i < s.YpList.Count(); ++i) {
        const TkavoYpItem& y = s.YpList[i];
        out << "YP" << i << ' ' << B(y.Enabled) << '|' << y.Title << '|' << y.Url << '|' << y.Host << '|' << y.Bitrate
            << '|' << y.ChType << '|' << y.Script << '|' << B(y.UTF2SJIS) << '|' << B(y.ChatURLFix) << '|'
            << y.PCRawChName2 << '|' << y.PCRawChIP << '|' << B(y.NoNotify2) << '\n';
    }
    for (int i = 0; i < s.Favorites.Count(); ++i) {
        const TkavoFavoriteItem& f = s.Favorites[i];
        out << "Favorite" << i << ' ' << B(f.Enabled) << '|' << f.Title << '|' << f.Word << '|' << B(f.Channel)
            << B(f.Description) << B(f.StreamURL) << B(f.YpAddr) << B(f.Comment) << B(f.ContactURL) << B(f.ChType)
            << B(f.Listeners) << B(f.Bitrate) << B(f.RegExp) << '|' << f.FileName << '|' << B(f.ColorEnabled) << '|'
            << f.Color << '|' << B(f.ColorTextEnabled) << '|' << f.ColorText << '|' << B(f.ListDisable) << B(f.YpLike)
            << B(f.NotNotify) << '\n';
    }
    for (const auto& column : s.Columns)
        out << "Column " << column << '\n';
    for (const auto& tool : s.Tools)
        out << "Tool " << tool << '\n';
    return out.str();
}

class SettingsFileTest : public ::testing::Test
{
protected:
    std::string Path() const { return m_folder.File("kavo.ini"); }
    const TempFolder& Folder() const { return m_folder; }

    void LoadText(TkavoSetting& s, const std::string& text)
    {
        WriteFile(Path(), text);
        s.Load(Path());
    }

private:
    TempFolder m_folder;
};

// ---- reading

struct LoadCase
{
    const char* Name;
    std::string Text;
    std::function<std::string(const TkavoSetting&)> Observe;
    std::string Expected;
};

std::string Counts(const TkavoSetting& s)
{
    return "yp=" + std::to_string(s.YpList.Count()) + " favorite=" + std::to_string(s.Favorites.Count()) +
           " tool=" + std::to_string(s.Tools.size()) + " column=" + std::to_string(s.Columns.size());
}

TEST_F(SettingsFileTest, LoadTakesDefaultsAndStopsListsAtTheFirstGap)
{
    const std::vector<LoadCase> cases = {
        {"no section at all", "Title0=a\r\nTimeout=5\r\nUpdate2=3\r\n",
         [](const TkavoSetting& s) {
             return Counts(s) + " " + s.Notify.Title + " " + s.Notify.BallonTimer + " " + s.Notify.CutLongStringRange +
                    " " + s.Notify.TTSSpeed + " " + s.URL.Timeout + " " + std::to_string(s.Notify.Update2) + " " +
                    B(s.Etc.DirectChOpen) + " " + s.Etc.PlayerFileName + " " + s.TextFont.Name +
                    std::to_string(s.AllFont.Size) + " " + B(s.Columns == DefaultColumnCaptions());
         },
         "yp=0 favorite=0 tool=0 column=10 " + Sjis("kavo 通知") + " 10 50 140 30 10 0 tubex Noto Sans CJK JP9 1"},
        {"gaps end every list",
         "[YP]\r\nTitle0=a\r\nUrl0=a\r\nTitle1=b\r\nUrl1=b\r\nTitle3=d\r\nUrl3=d\r\n"
         "[Favorite]\r\nTitle0=\r\nTitle1=\r\nTitle3=\r\n"
         "[Tool]\r\nkey0=a\r\nkey1=b\r\nkey3=d\r\n"
         "[ColumnVisible]\r\nColumn0=No\r\nColumn1=Hash\r\nColumn3=Type\r\n",
         Counts, "yp=2 favorite=2 tool=2 column=2"},
        {"the first entry of a Url wins",
         "[YP]\r\nTitle0=a\r\nUrl0=http://a/\r\nTitle1=b\r\nUrl1=http://b/\r\nTitle2=c\r\nUrl2=http://a/\r\n"
         "Title3=d\r\nUrl3=HTTP://a/\r\n",
         [](const TkavoSetting& s) {
             std::string titles;
             for (const auto& yp : s.YpList)
                 titles += yp.Title;
             return titles;
         },
         "abd"},
        {"an empty title still counts, other keys take their defaults", "[YP]\r\nTitle0=\r\n[Favorite]\r\nTitle0=\r\n",
         [](const TkavoSetting& s) {
             const TkavoYpItem& y = s.YpList[0];
             const TkavoFavoriteItem& f = s.Favorites[0];
             return Counts(s) + " [" + y.Title + "] " + y.Host + " " + y.Bitrate + " " + y.ChType + " " +
                    B(y.UTF2SJIS) + B(y.Enabled) + " " + y.PCRawChName2 + " " + std::to_string(f.Color) + " " +
                    std::to_string(f.ColorText);
         },
         "yp=1 favorite=1 tool=0 column=10 [] localhost:7144 * wmv 10 ^index(_[a-z]+)?\\.txt$ -16777211 -16777208"},
        {"list keys without case, the first wins, no leading zeros",
         "[yp]\r\ntitle0=a\r\nTITLE0=b\r\nURL0=x\r\nTitle01=c\r\nUrl01=y\r\nPCRawChName20=p\r\n",
         [](const TkavoSetting& s) {
             return std::to_string(s.YpList.Count()) + s.YpList[0].Title + s.YpList[0].Url + s.YpList[0].PCRawChName2;
         },
         "1axp"},
        {"timeout is held as the integer's text", "[URL]\r\nTimeout=abc\r\n",
         [](const TkavoSetting& s) { return s.URL.Timeout; }, "30"},
        {"hexadecimal timeout", "[URL]\r\n Timeout = 0x3C \r\n", [](const TkavoSetting& s) { return s.URL.Timeout; },
         "60"},
        {"Update2 of 0", "[Notify]\r\nUpdate2=0\r\n",
         [](const TkavoSetting& s) { return std::to_string(s.Notify.Update2); }, "10"},
        {"Update2 below 0", "[Notify]\r\nUpdate2=-5\r\n",
         [](const TkavoSetting& s) { return std::to_string(s.Notify.Update2); }, "10"},
        {"names without case", "[notify]\r\nUPDATE2=7\r\n",
         [](const TkavoSetting& s) { return std::to_string(s.Notify.Update2); }, "7"},
        {"booleans are integers",
         "[YP]\r\nTitle0=a\r\nUrl0=a\r\nEnabled0=yes\r\nUTF2SJIS0=no\r\nTitle1=b\r\nUrl1=b\r\nEnabled1=2\r\n"
         "[Favorite]\r\nTitle0=\r\nEnabled0=yes\r\nTitle1=\r\nEnabled1=-1\r\n",
         [](const TkavoSetting& s) {
             return B(s.YpList[0].Enabled) + B(s.YpList[0].UTF2SJIS) + B(s.YpList[1].Enabled) +
                    B(s.Favorites[0].Enabled) + B(s.Favorites[1].Enabled);
         },
         "01101"},
        {"colours", "[ColorFont]\r\nBackColor=-16777211\r\nTextLinkColor=0x00800080\r\nTextFontColor=red\r\n",
         [](const TkavoSetting& s) {
             return std::to_string(s.ColorFont.BackColor) + " " + std::to_string(s.ColorFont.TextLinkColor) + " " +
                    std::to_string(s.ColorFont.TextFontColor);
         },
         "-16777211 8388736 -16777208"},
        {"column keys without Column0", "[ColumnVisible]\r\nColumn1=No\r\n", Counts, "yp=0 favorite=0 tool=0 column=0"},
        {"column section without keys", "[ColumnVisible]\r\n; none\r\n", Counts, "yp=0 favorite=0 tool=0 column=10"},
        {"column identifiers", "[ColumnVisible]\r\nColumn0=channelname\r\nColumn1=Bogus\r\nColumn2=Playing\r\n",
         [](const TkavoSetting& s) { return s.Columns[0] + "|" + s.Columns[1] + "|" + s.Columns[2]; },
         Sjis("チャンネル名") + "||Playing"},
        {"tools", "[Tool]\r\nkey0=a\r\ncmd0=x y=z\r\nkey1=b\r\n",
         [](const TkavoSetting& s) { return s.Tools[0] + "|" + s.Tools[1] + "|" + s.ToolCommand("a"); },
         "a=x y=z|b=|x y=z"},
    };
    for (const auto& c : cases) {
        TkavoSetting s;
        LoadText(s, c.Text);
        EXPECT_EQ(c.Observe(s), c.Expected) << c.Name;
    }
}

TEST_F(SettingsFileTest, SettingsAreValuesThatCopyAndCompare)
{
    TkavoSetting s;
    LoadText(s, "[YP]\r\nTitle0=a\r\nUrl0=http://a/\r\n[Favorite]\r\nTitle0=f\r\nWord0=w\r\n"
                "[Tool]\r\nkey0=t\r\ncmd0=c\r\n[Notify]\r\nTitle=x\r\n");
    TkavoSetting copy = s;
    EXPECT_TRUE(copy == s);
    ASSERT_EQ(copy.YpList.Count(), 1);
    EXPECT_NE(&copy.YpList[0], &s.YpList[0]) << "a deep copy";
    EXPECT_EQ(copy.YpList[0].List, &copy.YpList);

    // Every kind of value counts.
    const std::vector<std::pair<const char*, std::function<void(TkavoSetting&)>>> changes = {
        {"a scalar", [](TkavoSetting& c) { c.Notify.Title = "y"; }},
        {"a font", [](TkavoSetting& c) { c.TextFont.Size += 1; }},
        {"a YP field", [](TkavoSetting& c) { c.YpList[0].NoNotify2 = true; }},
        {"a YP more", [](TkavoSetting& c) { c.YpList.Add(std::make_unique<TkavoYpItem>()); }},
        {"a favorite field", [](TkavoSetting& c) { c.Favorites[0].ColorText = 1; }},
        {"a column", [](TkavoSetting& c) { c.Columns.pop_back(); }},
        {"a tool", [](TkavoSetting& c) { c.Tools[0] = "t=d"; }},
    };
    for (const auto& [name, change] : changes) {
        TkavoSetting changed = s;
        change(changed);
        EXPECT_FALSE(changed == s) << name;
        changed = s;
        EXPECT_TRUE(changed == s) << name;
    }
    // Compared as saved: a time-out that is no number is written as 60 either way.
    TkavoSetting a = s, b = s;
    a.URL.Timeout = "abc";
    b.URL.Timeout = "60";
    EXPECT_TRUE(a == b);
}

// ---- the Windows program's file

// The fixture without what other parts of the program keep in the file.
std::string OwnLinesOf(const std::string& text)
{
    std::string out;
    std::string section;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[')
            section = line;
        const bool foreign = section == "[Window]" || section == "[Theme]" || section == "[CoolBar]" ||
                             section == "[ColumnSize]" || line.empty() || line.front() == ';' ||
                             (section == "[Notify]" && (line.starts_with("Channel=") || line.starts_with("Refresh=") ||
                                                        line.starts_with("Error=")));
        if (!foreign)
            out += line + "\r\n";
    }
    return out;
}

TEST_F(SettingsFileTest, ReadsAndKeepsAFileOfTheWindowsProgram)
{
    const std::string original = ReadFile(WindowsFixture);
    ASSERT_FALSE(original.empty());
    WriteFile(Path(), original);
    TkavoSetting s;
    s.Load(Path());

    ASSERT_EQ(s.YpList.Count(), 2);
    EXPECT_EQ(s.YpList[0].Title, Sjis("表示ＹＰ"));
    EXPECT_EQ(s.YpList[1].Script, "C:\\kavo\\script\\soft.dms");
    EXPECT_EQ(s.Notify.Title, Sjis("ぺかすて通知"));
    EXPECT_EQ(s.Notify.Update2, 15);
    EXPECT_EQ(s.URL.Timeout, "45");
    EXPECT_TRUE(s.Etc.DirectChOpen);
    EXPECT_EQ(s.Etc.TwoChPtn, "^http://[^/]*2ch\\.net/");
    ASSERT_EQ(s.Favorites.Count(), 2);
    EXPECT_EQ(s.Favorites[0].Word, Sjis("ソフト|能力"));
    EXPECT_EQ(s.Favorites[0].Color, clBlue);
    EXPECT_EQ(s.Favorites[1].Color, clWindow);
    EXPECT_EQ(s.Columns, (std::vector<std::string>{"!", Sjis("チャンネル名"), Sjis("詳細(Playingなし)"),
                                                   Sjis("リスナー/リレー"), Sjis("配信時間")}));
    EXPECT_EQ(s.ToolCommand(Sjis("コンタクトを開く")), "\"C:\\Program Files\\Browser\\b.exe\" \"$(ContactURL)\"");
    EXPECT_EQ(s.TextFont, (FontSetting{Sjis("ＭＳ Ｐゴシック"), 9}));
    EXPECT_EQ(s.Priority.KAVOProcess, 3);

    // Saved unchanged, the file is the same to the byte: other sections, comments and order stay.
    s.Save(Path());
    EXPECT_EQ(ReadFile(Path()), original);

    // Into an empty file, Save writes exactly the fixture's own keys in the same order.
    const std::string fresh = Folder().File("fresh.ini");
    s.Save(fresh);
    EXPECT_EQ(ReadFile(fresh), OwnLinesOf(original));
}

// Close-to-tray is this program's own: a file without it gets it only once it is on, and a file
// that has it keeps it when it is turned off again.
TEST_F(SettingsFileTest, CloseToTrayIsWrittenOnceItIsOn)
{
    const std::string original = ReadFile(WindowsFixture);
    WriteFile(Path(), original);
    TkavoSetting s;
    s.Load(Path());
    EXPECT_FALSE(s.Etc.CloseToTray);
    s.Save(Path());
    EXPECT_EQ(ReadFile(Path()).find("CloseToTray"), std::string::npos);

    for (const bool on : {true, false}) {
        s.Etc.CloseToTray = on;
        s.Save(Path());
        EXPECT_NE(ReadFile(Path()).find(on ? "CloseToTray=1\r\n" : "CloseToTray=0\r\n"), std::string::npos);
        TkavoSetting reread;
        reread.Load(Path());
        EXPECT_EQ(reread.Etc.CloseToTray, on);
    }
}

TEST_F(SettingsFileTest, OtherSectionsSurviveAChangedSave)
{
    const std::string original = ReadFile(WindowsFixture);
    WriteFile(Path(), original);
    TkavoSetting s;
    s.Load(Path());
    s.Notify.Title = "changed";
    s.YpList.Delete(0);
    s.Favorites.Add(std::make_unique<TkavoFavoriteItem>());
    s.Columns.clear();
    s.Tools.clear();
    s.Save(Path());

    const std::string saved = ReadFile(Path());
    const std::array<const char*, 6> kept = {
        "; written by the Windows program\r\n[Window]\r\nLeft=120\r\nTop=80\r\nWidth=800\r\nHeight=600\r\n"
        "[Theme]\r\nTemplates=default\r\n[YP]\r\n",
        "NoNotify20=1\r\n\r\n[URL]\r\n",
        "[Notify]\r\nChannel=1\r\nRefresh=0\r\nError=1\r\nRank2=3\r\n",
        "Title=changed\r\n",
        "DirectChOpen=1\r\n[Operation]\r\n",
        "OnDestroy=\r\n[CoolBar]\r\nBand0=Menu\r\n[ColumnSize]\r\nDiff=20\r\n",
    };
    for (const char* block : kept)
        EXPECT_NE(saved.find(block), std::string::npos) << block;
    EXPECT_EQ(saved.find("[ColumnVisible]"), std::string::npos);
    EXPECT_EQ(saved.find("[Tool]"), std::string::npos);
    EXPECT_NE(saved.find("NotNotify2=0\r\n[ColorFont]"), std::string::npos);

    TkavoSetting reread;
    reread.Load(Path());
    EXPECT_EQ(reread.Columns, DefaultColumnCaptions()); // an empty list comes back as the defaults
    reread.Columns.clear();
    EXPECT_EQ(Describe(reread), Describe(s));
}

// ---- writing

// Every option and record field away from its default, so a key that Save or Load drops shows.
void FillNonDefault(TkavoSetting& s)
{
    std::string text;
    std::string section;
    TkavoSetting defaults;
    defaults.VisitOptions([&](std::string_view name, std::string_view value) {
        const std::string_view sec = name.substr(0, name.find('/'));
        if (sec != section) {
            section = sec;
            text += "[" + section + "]\r\n";
        }
        std::string changed;
        if (value == "0" || value == "1")
            changed = value == "0" ? "1" : "0";
        else if (const auto number = ParseIniInteger(value))
            changed = std::to_string(*number + 3);
        else
            changed = std::string(value) + Sjis("変");
        text += std::string(name.substr(name.find('/') + 1)) + "=" + changed + "\r\n";
    });
    s.LoadFrom(IniFile::FromText(text));

    for (int i = 0; i < 3; ++i) {
        auto yp = std::make_unique<TkavoYpItem>();
        const std::string n = std::to_string(i);
        yp->Enabled = i != 1;
        yp->Title = Sjis("表示") + n;
        yp->Url = "http://yp" + n + ".example/";
        yp->Host = "192.168.0." + n + ":7145";
        yp->Bitrate = "30" + n;
        yp->ChType = "ogg";
        yp->Script = "/opt/s" + n + ".dms";
        yp->UTF2SJIS = false;
        yp->ChatURLFix = true;
        yp->PCRawChName2 = "^x" + n + "$";
        yp->PCRawChIP = "10.0.0." + n;
        yp->NoNotify2 = true;
        s.YpList.Add(std::move(yp));
    }
    for (int i = 0; i < 2; ++i) {
        auto f = std::make_unique<TkavoFavoriteItem>();
        f->Enabled = true;
        f->Title = Sjis("お気に入り") + std::to_string(i);
        f->Word = Sjis("ソフト|能力");
        f->Channel = f->Description = f->StreamURL = f->YpAddr = f->Comment = f->ContactURL = true;
        f->ChType = f->Listeners = f->Bitrate = f->RegExp = f->ColorEnabled = f->ColorTextEnabled = true;
        f->ListDisable = f->YpLike = f->NotNotify = true;
        f->FileName = "/usr/share/sounds/x.oga";
        f->Color = 0x00112233 + i;
        f->ColorText = clHighlightText;
        s.Favorites.Add(std::move(f));
    }
    s.Columns = {Sjis("配信時間"), "", "No"};
    s.Tools = {Sjis("開く") + "=xdg-open $(ContactURL)", "b=c=d", "a=x", "a=y"};
}

TEST_F(SettingsFileTest, SaveThenLoadGivesTheSameObjectAndTheSameBytes)
{
    TkavoSetting original;
    FillNonDefault(original);
    original.Save(Path());
    const std::string first = ReadFile(Path());

    TkavoSetting reread;
    reread.Load(Path());
    EXPECT_EQ(Describe(reread), Describe(original));
    TkavoSetting defaults;
    EXPECT_EQ(Describe(defaults).find("Notify/Title=" + original.Notify.Title), std::string::npos);

    reread.Save(Path());
    EXPECT_EQ(ReadFile(Path()), first);

    // The same round trip inside one IniFile object, whose look-ups must follow its own writes.
    IniFile ini;
    original.SaveTo(ini);
    TkavoSetting inMemory;
    inMemory.LoadFrom(ini);
    EXPECT_EQ(Describe(inMemory), Describe(original));
    EXPECT_EQ(ini.Text(), first);
}

struct WrittenCase
{
    const char* Name;
    std::function<void(TkavoSetting&)> Change;
    std::string Line; // expected in the file
};

TEST_F(SettingsFileTest, SaveWritesTheProfileForms)
{
    const std::vector<WrittenCase> cases = {
        {"timeout that is no integer", [](TkavoSetting& s) { s.URL.Timeout = "abc"; }, "\r\nTimeout=60\r\n"},
        {"hexadecimal timeout", [](TkavoSetting& s) { s.URL.Timeout = "0x1E"; }, "\r\nTimeout=30\r\n"},
        {"system colour", [](TkavoSetting& s) { s.ColorFont.TextVisitColor = clWindow; },
         "\r\nTextVisitColor=-16777211\r\n"},
        {"RGB colour", [](TkavoSetting& s) { s.ColorFont.BackColor = clPurple; }, "\r\nBackColor=8388736\r\n"},
        {"refresh interval through its setter", [](TkavoSetting& s) { s.SetUpdate2(-5); }, "\r\nUpdate2=10\r\n"},
        {"booleans", [](TkavoSetting& s) { s.Etc.TaskTray = false; }, "\r\nTaskTray=0\r\n"},
        {"tools keep their own command",
         [](TkavoSetting& s) {
             s.Tools = {"a=x", "a=y"};
         },
         "[Tool]\r\nkey0=a\r\ncmd0=x\r\nkey1=a\r\ncmd1=y\r\n"},
        {"columns by identifier",
         [](TkavoSetting& s) {
             s.Columns = {Sjis("チャンネル名"), "nonsense"};
         },
         "[ColumnVisible]\r\nColumn0=ChannelName\r\nColumn1=\r\n"},
        {"lists numbered densely",
         [](TkavoSetting& s) {
             for (const char* url : {"u", "v"}) {
                 auto yp = std::make_unique<TkavoYpItem>();
                 yp->Url = url;
                 s.YpList.Add(std::move(yp));
             }
             s.YpList.Delete(0);
         },
         "[YP]\r\nEnabled0=0\r\nTitle0=\r\nUrl0=v\r\n"},
    };
    for (const auto& c : cases) {
        TkavoSetting s;
        c.Change(s);
        const std::string path = Folder().File(std::string(c.Name) + ".ini");
        s.Save(path);
        EXPECT_NE(ReadFile(path).find(c.Line), std::string::npos) << c.Name << "\n" << ReadFile(path);
    }
}

// ---- failures

struct RefusedCase
{
    const char* Name;
    mode_t FolderMode;
    mode_t FileMode;
};

TEST_F(SettingsFileTest, AFileThatCannotBeWrittenStaysAsItWas)
{
    // The same bits for owner and others, so the case holds for root's unprivileged child too.
    const std::array<RefusedCase, 3> cases = {{
        {"folder not writable", 0555, 0644},
        {"file read-only", 0777, 0444},
        {"file not readable, so it cannot be merged", 0777, 0222},
    }};
    ASSERT_EQ(::chmod(Folder().Path().c_str(), 0755), 0);
    for (const auto& c : cases) {
        const std::string folder = Folder().File(c.Name);
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        const std::string path = folder + "/kavo.ini";
        const std::string before = "[Window]\r\nLeft=1\r\n[Notify]\r\nTitle=old\r\n";
        WriteFile(path, before);
        ASSERT_EQ(::chmod(path.c_str(), c.FileMode), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.FolderMode), 0);

        const std::string message = test::RunUnprivileged([&]() -> std::string {
            TkavoSetting s;
            s.Notify.Title = "new";
            try {
                s.Save(path);
            } catch (const IniWriteError& e) {
                return e.what();
            }
            return "saved";
        });
        if (message == test::NoPrivilegeDrop)
            GTEST_SKIP() << "cannot run without root's privileges here";
        EXPECT_EQ(message, Utf8ToCp932(path) + Sjis(" に書き込めません")) << c.Name;

        ::chmod(folder.c_str(), 0755);
        ::chmod(path.c_str(), 0644);
        EXPECT_EQ(ReadFile(path), before) << c.Name;
        int entries = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
            ++entries;
        EXPECT_EQ(entries, 1) << c.Name << ": a temporary file was left";
    }
}

TEST_F(SettingsFileTest, AKilledSaveNeverLeavesAPartialFile)
{
    TkavoSetting large;
    for (int i = 0; i < 100; ++i) {
        auto yp = std::make_unique<TkavoYpItem>();
        yp->Title = "YP" + std::to_string(i);
        yp->Url = "http://yp" + std::to_string(i) + ".example/";
        large.YpList.Add(std::move(yp));
    }
    for (int i = 0; i < 300; ++i) {
        auto favorite = std::make_unique<TkavoFavoriteItem>();
        favorite->Word = Sjis("配信") + std::to_string(i);
        large.Favorites.Add(std::move(favorite));
    }
    TkavoSetting small;
    small.YpList.Add(std::make_unique<TkavoYpItem>());
    small.Favorites.Add(std::make_unique<TkavoFavoriteItem>());

    // Both hold every list, so the sections keep their places whichever was saved last.
    small.Save(Path());
    large.Save(Path());
    small.Save(Path());
    const std::string smallText = ReadFile(Path());
    large.Save(Path());
    const std::string largeText = ReadFile(Path());

    std::mt19937 random(20240521);
    for (int round = 0; round < 25; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Ends by itself should it never be killed.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
                try {
                    (i % 2 ? large : small).Save(Path());
                } catch (...) {
                }
            }
            ::_exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + random() % 30000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        const std::string text = ReadFile(Path());
        ASSERT_TRUE(text == smallText || text == largeText) << "round " << round << ": " << text.size() << " bytes";
        TkavoSetting reread;
        reread.Load(Path());
        EXPECT_TRUE(reread.YpList.Count() == 1 || reread.YpList.Count() == 100) << "round " << round;
    }
}

// ---- tables and defaults

TEST(SettingsTables, ColumnIdentifiersAndCaptionsMapBothWays)
{
    ASSERT_EQ(ColumnNames().size(), 18u);
    for (const auto& column : ColumnNames()) {
        EXPECT_EQ(ColumnCaptionById(column.Id), column.Caption) << column.Id;
        EXPECT_EQ(ColumnIdByCaption(column.Caption), column.Id) << column.Id;
    }
    EXPECT_EQ(ColumnCaptionById("Description2"), Sjis("詳細(Playingなし)"));
    EXPECT_EQ(ColumnCaptionById("nonsense"), "");
    EXPECT_EQ(ColumnIdByCaption("nonsense"), "");
    EXPECT_EQ(
        DefaultColumnCaptions(),
        (std::vector<std::string>{"!", "No", Sjis("チャンネル名"), Sjis("詳細"), Sjis("リスナー/リレー"),
                                  Sjis("ビットレート"), Sjis("種別"), Sjis("取得時刻"), Sjis("ハッシュ"), "YpAddr"}));
}

TEST(SettingsTables, BulletinBoardPatternMatchesTheBoardHostsOnly)
{
    const std::array<std::pair<const char*, bool>, 14> cases = {{
        {"http://jbbs.shitaraba.net/bbs/read.cgi/game/12345/", true},
        {"https://jbbs.shitaraba.net/internet/1/", true},
        {"http://jbbs.livedoor.jp/game/12345/", true},
        {"https://egg.5ch.net/test/read.cgi/livejupiter/1/", true},
        {"http://pc11.2ch.net/test/read.cgi/software/1/", true},
        {"HTTP://Hayabusa.Open2ch.NET/test/", true},
        {"http://peercast.2ch.sc/", true},
        {"http://www.machi.to:80/bbs/", true},
        {"http://kilauea.bbspink.com", true},
        {"http://example.com/2ch.net/", false},
        {"http://not5ch.net/", false},
        {"http://5ch.net.example.com/", false},
        {"http://blog.livedoor.jp/x/", false},
        {"", false},
    }};
    RegularExpression re;
    re.IgnoreCase = true;
    re.Global = true;
    re.Pattern = TkavoSetting::DefaultBbsPattern();
    for (const auto& [url, matches] : cases)
        EXPECT_EQ(re.Test(url), matches) << url;
}

TEST(SettingsTables, PeerCastIsLookedUpOnPath)
{
    TempFolder folder;
    const std::string peercast = folder.File("peercast");
    WriteFile(peercast, "#!/bin/sh\n");
    const char* saved = std::getenv("PATH");
    const std::string savedPath = saved ? saved : "";

    ::setenv("PATH", ("relative:" + folder.Path() + "/missing:" + folder.Path()).c_str(), 1);
    const std::string notExecutable = TkavoSetting::DefaultPeerCastPath();
    ::chmod(peercast.c_str(), 0755);
    const std::string found = TkavoSetting::DefaultPeerCastPath();
    ::setenv("PATH", savedPath.c_str(), 1);

    EXPECT_EQ(notExecutable, "/usr/bin/peercast");
    EXPECT_EQ(found, peercast);
}

TEST(SettingsTables, SettingsFileIsNamedAfterTheProgram)
{
    TempFolder folder;
    const std::string savedName = ProgramName();
    SetProgramFolder(folder.Path());
    SetProgramName("kavo");
    const std::string plain = TkavoSetting::SettingsFileName();
    SetProgramName("kavo.exe");
    const std::string withExtension = TkavoSetting::SettingsFileName();
    SetProgramName(savedName);
    SetProgramFolder("");

    EXPECT_EQ(plain, folder.Path() + "/kavo.ini");
    EXPECT_EQ(withExtension, folder.Path() + "/kavo.ini");
}

} // namespace
} // namespace kavo
