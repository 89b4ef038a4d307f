#include "settings/IniFile.h"
#include "settings/IniEncoding.h"

#include "platform/Cp932.h"
#include "settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

namespace kavo {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

struct ValueCase
{
    const char* Name;
    std::string Text;
    std::string Section;
    std::string Key;
    std::optional<std::string> Expected;
};

TEST(IniFileRead, FindsValuesByTheProfileRules)
{
    const std::array<ValueCase, 17> cases = {{
        {"CR LF", "[S]\r\na=1\r\n", "S", "a", "1"},
        {"LF", "[S]\na=1\n", "S", "a", "1"},
        {"CR alone", "[S]\ra=1\rb=2", "S", "b", "2"},
        {"mixed ends, no final end", "[S]\r\na=1\nb=2\rc=3", "S", "c", "3"},
        {"names without case", "[Notify]\nTitle=x", "nOTIFY", "TITLE", "x"},
        {"blanks and tabs trimmed", "  [ S ]  \n \tkey \t= \ta b\t \n", "S", "key", "a b"},
        {"value after the first =", "[S]\nk=a=b", "S", "k", "a=b"},
        {"first key wins", "[S]\nk=1\nK=2", "S", "k", "1"},
        {"first section wins", "[S]\nk=1\n[T]\n[s]\nk=2\nj=3", "S", "j", std::nullopt},
        {"empty value is present", "[S]\nk=", "S", "k", ""},
        {"comment ignored", "[S]\n;k=1\n", "S", ";k", std::nullopt},
        {"line without =", "[S]\nk\n", "S", "k", std::nullopt},
        {"key before any section", "k=1\n[S]\n", "S", "k", std::nullopt},
        {"quotes kept", "[S]\nk=\"a b\" \"c\"", "S", "k", "\"a b\" \"c\""},
        {"bytes kept", "[S]\nk=" + Sjis("表示ソフト"), "S", "k", Sjis("表示ソフト")},
        // The trail byte of "ア" is "A" and that of "ヂ" is "a": folding them would merge the names.
        {"double-byte names not folded", "[" + Sjis("ア") + "]\nk=1", Sjis("ヂ"), "k", std::nullopt},
        {"double-byte names found", "[" + Sjis("ア") + "]\n" + Sjis("ア") + "=1", Sjis("ア"), Sjis("ア"), "1"},
    }};
    for (const auto& c : cases) {
        const IniFile ini = IniFile::FromText(c.Text);
        const auto value = ini.Value(c.Section, c.Key);
        EXPECT_EQ(value.has_value(), c.Expected.has_value()) << c.Name;
        if (value && c.Expected) {
            EXPECT_EQ(*value, *c.Expected) << c.Name;
        }
        EXPECT_EQ(ini.HasKey(c.Section, c.Key), c.Expected.has_value()) << c.Name;
    }
}

TEST(IniFileRead, LinesOfEveryLengthAndEnding)
{
    // Lines scanned in blocks: keys, "=" and line ends fall before, on and after block edges.
    const std::array<const char*, 3> ends = {"\r\n", "\n", "\r"};
    std::string text = "[S]\r\n";
    std::vector<std::pair<std::string, std::string>> expected;
    for (int i = 0; i < 300; ++i) {
        const std::string key = "k" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 41), 'K');
        const std::string value = std::string(static_cast<std::size_t>(i % 67), 'v') + (i % 3 ? "=x" : "");
        text += key + (i % 5 ? "=" : " \t= ") + value + ends[static_cast<std::size_t>(i) % ends.size()];
        if (i % 7 == 0)
            text += std::string(static_cast<std::size_t>(i % 50), ';') + ends[0]; // a comment, no key
        if (i % 11 == 0)
            text += "plain " + std::string(static_cast<std::size_t>(i % 37), 'p') + ends[1]; // no "=", no key
        expected.emplace_back(key, value);
    }
    const IniFile ini = IniFile::FromText(text);
    EXPECT_EQ(ini.KeyCount("S"), expected.size());
    for (const auto& [key, value] : expected)
        EXPECT_EQ(ini.Value("S", key), value) << key;
}

TEST(IniFileRead, SectionIsPresentOnlyWithAKey)
{
    const std::array<std::pair<const char*, bool>, 4> cases = {{
        {"[S]\n", false},
        {"[S]\n; note\nplain line\n", false},
        {"[S]\nk=\n", true},
        {"k=1\n", false},
    }};
    for (const auto& [text, present] : cases)
        EXPECT_EQ(IniFile::FromText(text).HasSection("s"), present) << text;
}

TEST(IniFileRead, BooleansAreIntegers)
{
    const IniFile ini = IniFile::FromText("[S]\none=1\nzero=0\ntwo=2\nminus=-1\nyes=yes\nempty=\n");
    const std::array<std::tuple<const char*, bool, bool>, 7> cases = {{
        // key, result with default false, result with default true
        {"one", true, true},
        {"zero", false, false},
        {"two", true, true},
        {"minus", true, true},
        {"yes", false, true},
        {"empty", false, true},
        {"missing", false, true},
    }};
    for (const auto& [key, withFalse, withTrue] : cases) {
        EXPECT_EQ(ini.ReadBool("S", key, false), withFalse) << key;
        EXPECT_EQ(ini.ReadBool("S", key, true), withTrue) << key;
    }
}

struct EditStep
{
    char Kind; // 'w' write, 'e' erase
    const char* Section;
    const char* Key;
    const char* Value;
};

struct EditCase
{
    const char* Name;
    const char* Before;
    std::vector<EditStep> Steps;
    const char* After;
};

TEST(IniFileWrite, ChangesOnlyWhatIsWritten)
{
    const std::vector<EditCase> cases = {
        {"replace in place",
         "; head\r\n[A]\r\nx=1\r\n  K = old  \r\ny=2\r\n[B]\r\nz=3\r\n",
         {{'w', "a", "k", "new"}},
         "; head\r\n[A]\r\nx=1\r\nK=new\r\ny=2\r\n[B]\r\nz=3\r\n"},
        {"same value leaves the line as it was", "[A]\r\n k = v \r\n", {{'w', "A", "k", "v"}}, "[A]\r\n k = v \r\n"},
        {"only the first of two equal keys", "[A]\r\nk=1\r\nk=2\r\n", {{'w', "A", "k", "3"}}, "[A]\r\nk=3\r\nk=2\r\n"},
        {"append after the last key",
         "[A]\r\nx=1\r\n; about B\r\n\r\n[B]\r\n",
         {{'w', "A", "y", "2"}},
         "[A]\r\nx=1\r\ny=2\r\n; about B\r\n\r\n[B]\r\n"},
        {"append into a header-only section", "[A]\r\n[B]\r\n", {{'w', "B", "k", "v"}}, "[A]\r\n[B]\r\nk=v\r\n"},
        {"new section at the end", "[A]\r\nx=1", {{'w', "B", "k", "v"}}, "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
        {"empty file", "", {{'w', "B", "k", ""}}, "[B]\r\nk=\r\n"},
        {"LF and CR become CR LF", "[A]\nx=1\ry=2\n", {{'w', "A", "x", "1"}}, "[A]\r\nx=1\r\ny=2\r\n"},
        {"line breaks in a value", "", {{'w', "A", "k", "a\r\n[B]\nb"}}, "[A]\r\nk=a  [B] b\r\n"},
        {"erase every section of the name",
         "[A]\r\nx=1\r\n[B]\r\ny=2\r\n[a]\r\nz=3\r\n",
         {{'e', "A", nullptr, nullptr}},
         "[B]\r\ny=2\r\n"},
        {"rewrite after erase keeps the place and the blank line",
         "[A]\r\nx=1\r\n;c\r\n\r\n[B]\r\ny=2\r\n",
         {{'e', "A", nullptr, nullptr}, {'w', "A", "n0", "5"}, {'w', "A", "n1", "6"}},
         "[A]\r\nn0=5\r\nn1=6\r\n\r\n[B]\r\ny=2\r\n"},
        {"erase of a missing section", "[B]\r\ny=2\r\n", {{'e', "A", nullptr, nullptr}}, "[B]\r\ny=2\r\n"},
    };
    for (const auto& c : cases) {
        IniFile ini = IniFile::FromText(c.Before);
        for (const auto& step : c.Steps) {
            if (step.Kind == 'w')
                ini.WriteString(step.Section, step.Key, step.Value);
            else
                ini.EraseSection(step.Section);
        }
        EXPECT_EQ(ini.Text(), c.After) << c.Name;
    }
}

TEST(IniFileWrite, ManyKeysStayFindable)
{
    // Grows the index many times and inserts before a closing blank line each time.
    IniFile ini = IniFile::FromText("[L]\r\nk0=first\r\n\r\n[Z]\r\nz=1\r\n");
    ini.EraseSection("L");
    constexpr int count = 5000;
    for (int i = 0; i < count; ++i)
        ini.WriteString("L", "k" + std::to_string(i), std::to_string(i));
    ini.WriteString("l", "K17", "changed");
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(ini.Value("L", "k" + std::to_string(i)), i == 17 ? "changed" : std::to_string(i)) << i;
    const IniFile reread = IniFile::FromText(ini.Text());
    EXPECT_EQ(reread.Value("L", "k4999"), "4999");
    EXPECT_EQ(reread.Value("Z", "z"), "1");
    EXPECT_NE(ini.Text().find("k4999=4999\r\n\r\n[Z]"), std::string::npos);
}

TEST(IniFileUpdate, RereadsTheFileBeforeEveryWrite)
{
    TempFolder folder;
    const std::string path = folder.File("kavo.ini");
    IniFile::Update(path, [](IniFile& ini) { ini.WriteInteger("A", "k", 1); });
    // Another part of the program writes its own section in between.
    WriteFile(path, ReadFile(path) + "[Window]\r\nLeft=5\r\n");
    IniFile::Update(path, [](IniFile& ini) { ini.WriteInteger("A", "k", 2); });
    EXPECT_EQ(ReadFile(path), "[A]\r\nk=2\r\n[Window]\r\nLeft=5\r\n");
}

TEST(IniFileUpdate, WritesThroughALink)
{
    TempFolder folder;
    const std::string target = folder.File("real.ini");
    const std::string link = folder.File("kavo.ini");
    WriteFile(target, "[A]\r\nk=1\r\n");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    IniFile::Update(link, [](IniFile& ini) { ini.WriteInteger("A", "k", 2); });
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[A]\r\nk=2\r\n");
}

TEST(IniFileRead, SaysWhyAFileCouldNotBeRead)
{
    TempFolder folder;
    const std::string path = folder.File("kavo.ini");
    struct Case
    {
        const char* name;
        std::function<void()> make;
        const char* problem; // contained in the message; "" for none
        bool hasSection;
    };
    const std::array<Case, 7> cases{{
        {"missing", [] {}, "", false},
        {"empty", [&] { WriteFile(path, ""); }, "", false},
        {"byte-order mark", [&] { WriteFile(path, "\xEF\xBB\xBF[YP]\r\nUrl0=x\r\n"); }, "", true},
        {"two byte-order marks", [&] { WriteFile(path, "\xEF\xBB\xBF\xEF\xBB\xBF[YP]\r\nUrl0=x\r\n"); }, "", true},
        {"folder", [&] { std::filesystem::create_directory(path); }, "not a regular file", false},
        {"fifo", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, "not a regular file", false},
        {"no section at all", [&] { WriteFile(path, std::string("\x8f\x00\xffgarbage=1\x01", 12)); }, "kavo.ini",
         false},
    }};
    for (const Case& c : cases) {
        std::filesystem::remove_all(path);
        c.make();
        std::string problem;
        const IniFile ini = IniFile::Read(path, &problem);
        EXPECT_EQ(ini.HasSection("YP"), c.hasSection) << c.name;
        if (*c.problem) {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
            EXPECT_NE(problem.find(path), std::string::npos) << c.name << ": " << problem;
        } else {
            EXPECT_EQ(problem, "") << c.name;
        }
    }
    // The mark is not written back.
    WriteFile(path, "\xEF\xBB\xBF[YP]\r\nUrl0=x\r\n");
    IniFile::Update(path, [](IniFile& ini) { ini.WriteString("YP", "Url0", "y"); });
    EXPECT_EQ(ReadFile(path), "[YP]\r\nUrl0=y\r\n");

    std::filesystem::remove_all(path);
    WriteFile(path, "[A]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const std::string unreadable = test::RunUnprivileged([&] {
        std::string problem;
        IniFile::Read(path, &problem);
        return problem;
    });
    if (unreadable != test::NoPrivilegeDrop) {
        EXPECT_NE(unreadable.find(path), std::string::npos) << unreadable;
    }
}

// A file an editor saved in UTF-8 is read as UTF-8 and said so; a file of the Windows program, and
// one that is valid in both encodings, is read byte for byte.
TEST(IniFileRead, Utf8FilesAreConvertedAndCp932FilesLeftAlone)
{
    TempFolder folder;
    const std::string path = folder / "kavo.ini";
    std::vector<std::string> told;
    SetIniUtf8Handler([&](const std::string& file) { told.push_back(file); });
    struct Case
    {
        const char* name;
        std::string bytes;
        std::string title; // the value read, CP932
        bool converted;
    };
    const std::array<Case, 7> cases{{
        {"CP932", Sjis("[YP]\r\nTitle0=ゲーム実況\r\n"), Sjis("ゲーム実況"), false},
        {"ASCII", "[YP]\r\nTitle0=yp\r\n", "yp", false},
        {"UTF-8", "[YP]\r\nTitle0=ゲーム実況\r\n", Sjis("ゲーム実況"), true},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF[YP]\nTitle0=あ\n", Sjis("あ"), true},
        {"UTF-8 without a CP932 form", "[YP]\r\nTitle0=🎮あ\r\n", Sjis("?あ"), true},
        // E9 80 9A E7 9F A5 are three CP932 characters as well: the Windows reading wins.
        {"valid in both", "[YP]\r\nTitle0=通知\r\n", "\xE9\x80\x9A\xE7\x9F\xA5", false},
        {"valid in neither", "[YP]\r\nTitle0=\xFF\xFE\r\n", "\xFF\xFE", false},
    }};
    for (const Case& c : cases) {
        told.clear();
        WriteFile(path, c.bytes);
        const IniFile ini = IniFile::Read(path);
        EXPECT_EQ(ini.ReadString("YP", "Title0", "-"), c.title) << c.name;
        EXPECT_EQ(told, c.converted ? std::vector<std::string>{path} : std::vector<std::string>{}) << c.name;
    }

    // The next save writes the whole file in CP932, the lines it did not touch as well.
    WriteFile(path, "[YP]\r\nTitle0=ゲーム\r\n[Other]\r\nName=配信\r\n");
    IniFile::Update(path, [](IniFile& ini) { ini.WriteString("YP", "Url0", "x"); });
    EXPECT_EQ(ReadFile(path), Sjis("[YP]\r\nTitle0=ゲーム\r\nUrl0=x\r\n[Other]\r\nName=配信\r\n"));
    // A file of the Windows program is written back byte for byte.
    const std::string windows = Sjis("[YP]\r\nTitle0=ゲーム\r\n") + "[Raw]\r\nk=\x82\xA0\xED\x40\r\n";
    WriteFile(path, windows);
    told.clear();
    IniFile::Update(path, [](IniFile& ini) { ini.WriteString("YP", "Title0", Sjis("ゲーム")); });
    EXPECT_EQ(ReadFile(path), windows);
    EXPECT_TRUE(told.empty());
    SetIniUtf8Handler(nullptr);
}

// A save killed halfway leaves its temporary file; the next save (or load) of the program removes
// it, but never one that a save in progress still holds.
TEST(IniFileUpdate, RemovesTheTemporariesOfSavesThatNeverEnded)
{
    TempFolder folder;
    const std::string path = folder.File("kavo.ini");
    const auto make = [&](const std::string& name, bool old) {
        WriteFile(folder.File(name), "[half");
        if (old) {
            const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
            ::utimensat(AT_FDCWD, folder.File(name).c_str(), times, 0);
        }
    };
    make(".kavo.ini.a1B2c3", true);
    make(".kavo.ini.Zz9Yy8", true);
    make(".kavo.ini.young1", false);
    make(".kavo.ini.held99", true);
    make(".other.ini.a1B2c3", true);
    make(".kavo.ini.toolong7", true);
    const int held = ::open(folder.File(".kavo.ini.held99").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    IniFile::Update(path, [](IniFile& ini) { ini.WriteInteger("A", "k", 1); });
    ::close(held);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".kavo.ini.held99", ".kavo.ini.toolong7", ".kavo.ini.young1",
                                              ".other.ini.a1B2c3", "kavo.ini"}));
}

TEST(IniFileUpdate, MissingFileReadsEmpty)
{
    TempFolder folder;
    const IniFile ini = IniFile::Read(folder.File("none.ini"));
    EXPECT_EQ(ini.Text(), "");
    EXPECT_FALSE(ini.HasSection("A"));
}

} // namespace
} // namespace kavo
