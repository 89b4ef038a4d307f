// Both helper headers in one program, as test_common has them: they must share one TempFolder (two
// classes of that name broke the one-definition rule and the sanitizer build).
#include "settings/SettingsTestSupport.h"
#include "support/ProcessRecords.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace kavo {
namespace {

TEST(TempFolderTest, RemovesEverythingEvenWhatATestLockedAway)
{
    std::string path;
    {
        test::TempFolder folder;
        path = folder.Path();
        ASSERT_TRUE(std::filesystem::is_directory(path));
        EXPECT_EQ(folder / "a", folder.File("a"));
        std::filesystem::create_directories(folder / "locked/inner");
        test::WriteFile(folder / "locked/inner/file", "x");
        ASSERT_EQ(::chmod((folder / "locked").c_str(), 0), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
} // namespace kavo
