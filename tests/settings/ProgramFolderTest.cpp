#include "platform/ProgramFolder.h"

#include "settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kavo {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

struct FolderCase
{
    const char* Name;
    const char* Marker;   // a file created beside the program; nullptr: none
    bool BinWritable;     // whether the user may write the program's folder
    const char* Home;     // --home, relative to the root; nullptr: not given
    const char* KavoHome; // $KAVO_HOME, likewise
    std::string Expected; // relative to the root
};

// The program sits in <root>/bin; $XDG_CONFIG_HOME is <root>/xdg.
TEST(ProgramFolder, ResolvesInOrderOfPrecedence)
{
    const std::vector<FolderCase> cases = {
        {"writable program folder, no marker", nullptr, true, nullptr, nullptr, "/xdg/kavo"},
        {"read-only program folder, no marker", nullptr, false, nullptr, nullptr, "/xdg/kavo"},
        {"kavo.portable beside the program", "kavo.portable", true, nullptr, nullptr, "/bin"},
        {"kavo.ini of a copied folder beside the program", "kavo.ini", true, nullptr, nullptr, "/bin"},
        {"a marker in a folder the user may not write", "kavo.portable", false, nullptr, nullptr, "/xdg/kavo"},
        {"another file beside the program is no marker", "history.sqlite", true, nullptr, nullptr, "/xdg/kavo"},
        {"KAVO_HOME", nullptr, true, nullptr, "env", "/env"},
        {"KAVO_HOME before the marker", "kavo.portable", true, nullptr, "env", "/env"},
        {"--home before KAVO_HOME and the marker", "kavo.ini", true, "home/", "env", "/home"},
        {"--home without anything else", nullptr, false, "home", nullptr, "/home"},
    };
    for (const auto& c : cases) {
        TempFolder root;
        std::filesystem::create_directories(root.File("bin"));
        if (c.Marker)
            WriteFile(root.File("bin/") + c.Marker, "");
        ProgramFolderSources sources;
        sources.UserHome = root.File("user");
        sources.XdgConfigHome = root.File("xdg");
        sources.ExecutablePath = root.File("bin/kavo");
        sources.ExecutableFolderWritable = c.BinWritable;
        if (c.Home)
            sources.Home = root.File(c.Home);
        if (c.KavoHome)
            sources.KavoHome = root.File(c.KavoHome);
        const std::string folder = ResolveProgramFolder(sources);
        EXPECT_EQ(folder, root.Path() + c.Expected) << c.Name;
        EXPECT_TRUE(std::filesystem::is_directory(folder)) << c.Name;
    }
}

TEST(ProgramFolder, WithoutXdgConfigHomeTheUsersConfigFolder)
{
    for (const char* xdg : {"", "relative"}) { // the XDG rules ignore a relative path
        TempFolder root;
        ProgramFolderSources sources;
        sources.UserHome = root.File("user");
        sources.XdgConfigHome = xdg;
        EXPECT_EQ(ResolveProgramFolder(sources), root.Path() + "/user/.config/kavo") << xdg;
    }
}

TEST(ProgramFolder, SeedingCopiesOnlyMissingFiles)
{
    TempFolder root;
    const std::string data = root.File("share");
    std::filesystem::create_directories(data + "/templates/dark");
    std::filesystem::create_directories(data + "/icons");
    WriteFile(data + "/templates/notify.txt", "installed");
    WriteFile(data + "/templates/dark/notify.txt", "installed dark");
    WriteFile(data + "/icons/0.png", "icon");
    const std::string home = root.File("xdg/kavo");
    std::filesystem::create_directories(home + "/templates");
    WriteFile(home + "/templates/notify.txt", "edited by the user");

    ProgramFolderSources sources;
    sources.XdgConfigHome = root.File("xdg");
    sources.DataFolder = data;
    ASSERT_EQ(ResolveProgramFolder(sources), home);

    EXPECT_EQ(ReadFile(home + "/templates/notify.txt"), "edited by the user");
    EXPECT_EQ(ReadFile(home + "/templates/dark/notify.txt"), "installed dark");
    EXPECT_EQ(ReadFile(home + "/icons/0.png"), "icon");
}

TEST(ProgramFolder, ThePortableFolderIsNotSeeded)
{
    TempFolder root;
    std::filesystem::create_directories(root.File("share/templates"));
    WriteFile(root.File("share/templates/notify.txt"), "x");
    std::filesystem::create_directories(root.File("bin"));
    WriteFile(root.File("bin/kavo.portable"), "");
    ProgramFolderSources sources;
    sources.ExecutablePath = root.File("bin/kavo");
    sources.ExecutableFolderWritable = true;
    sources.DataFolder = root.File("share");
    EXPECT_EQ(ResolveProgramFolder(sources), root.File("bin"));
    EXPECT_FALSE(std::filesystem::exists(root.File("bin/templates")));
}

} // namespace
} // namespace kavo
