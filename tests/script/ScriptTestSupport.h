#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace kavo::test {

// A private folder for script files, removed afterwards.
class ScriptDir : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string name = (std::filesystem::temp_directory_path() / "kavo-script-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        m_dir = name;
    }
    void TearDown() override
    {
        std::error_code error;
        std::filesystem::remove_all(m_dir, error);
    }

    // Writes bytes to a file of the folder and returns its path.
    std::string Write(const std::string& name, std::string_view bytes) const
    {
        const auto path = m_dir / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::filesystem::path m_dir;
};

} // namespace kavo::test
