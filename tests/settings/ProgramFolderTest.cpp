#include "platform/ProgramFolder.h"

#include "settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
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
    std::function<void(ProgramFolderSources&, const std::string& root)> Set;
    std::string Expected; // relative to the test's root folder
};

TEST(ProgramFolder, ResolvesInOrderOfPrecedence)
{
    const std::vector<FolderCase> cases = {
        {"--home first",
         [](ProgramFolderSources& s, const std::string& r) {
             s.Home = r + "/home/";
             s.KavoHome = r + "/env";
         },
         "/home"},
        {"then KAVO_HOME", [](ProgramFolderSources& s, const std::string& r) { s.KavoHome = r + "/env"; }, "/env"},
        {"then the executable's folder",
         [](ProgramFolderSources& s, const std::string& r) { s.ExecutablePath = r + "/bin/kavo"; }, "/bin"},
        {"then XDG_CONFIG_HOME",
         [](ProgramFolderSources& s, const std::string& r) {
             s.ExecutablePath = r + "/missing/kavo";
             s.XdgConfigHome = r + "/xdg";
         },
         "/xdg/kavo"},
        {"a relative XDG_CONFIG_HOME is ignored",
         [](ProgramFolderSources& s, const std::string&) { s.XdgConfigHome = "relative"; }, "/user/.config/kavo"},
    };
    for (const auto& c : cases) {
        TempFolder root;
        std::filesystem::create_directories(root.File("bin"));
        ProgramFolderSources sources;
        sources.UserHome = root.File("user");
        c.Set(sources, root.Path());
        const std::string folder = ResolveProgramFolder(sources);
        EXPECT_EQ(folder, root.Path() + c.Expected) << c.Name;
        EXPECT_TRUE(std::filesystem::is_directory(folder)) << c.Name;
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
    ProgramFolderSources sources;
    sources.ExecutablePath = root.File("bin/kavo");
    sources.DataFolder = root.File("share");
    EXPECT_EQ(ResolveProgramFolder(sources), root.File("bin"));
    EXPECT_FALSE(std::filesystem::exists(root.File("bin/templates")));
}

} // namespace
} // namespace kavo
