#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kavo {
namespace {

const std::string IconFolder = KAVO_TEST_DATA "/../../data/icons/";

std::uint32_t Le(const std::string& data, std::size_t at, int bytes)
{
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
    return value;
}

std::uint32_t Be32(const std::string& data, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
    return value;
}

// The PNG images of an .ico file by pixel size; empty with a failure when the file is malformed.
std::map<int, std::string> ReadIcon(const std::string& name)
{
    std::ifstream in(IconFolder + name, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<int, std::string> images;
    if (data.size() < 6 || Le(data, 0, 2) != 0 || Le(data, 2, 2) != 1) {
        ADD_FAILURE() << name << ": not an icon file";
        return images;
    }
    const std::uint32_t count = Le(data, 4, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 16 * i;
        if (entry + 16 > data.size()) {
            ADD_FAILURE() << name << ": truncated directory";
            return {};
        }
        const int size = data[entry] == 0 ? 256 : static_cast<unsigned char>(data[entry]);
        const std::uint32_t length = Le(data, entry + 8, 4);
        const std::uint32_t offset = Le(data, entry + 12, 4);
        if (offset + static_cast<std::uint64_t>(length) > data.size() || length < 24) {
            ADD_FAILURE() << name << ": image " << i << " outside the file";
            return {};
        }
        const std::string image = data.substr(offset, length);
        EXPECT_EQ(image.substr(0, 8), "\x89PNG\r\n\x1a\n") << name << " " << size;
        EXPECT_EQ(Be32(image, 16), static_cast<std::uint32_t>(size)) << name << ": width of the " << size;
        EXPECT_EQ(Be32(image, 20), static_cast<std::uint32_t>(size)) << name << ": height of the " << size;
        images[size] = image;
    }
    return images;
}

TEST(IconFilesTest, StateIconsExistAndDiffer)
{
    std::set<std::string> seen;
    for (const char* name : {"None.ico", "Up.ico", "Down.ico", "PreNew.ico", "New.ico", "Change.ico", "Idle.ico",
                             "Relaying.ico", "Playing.ico"}) {
        const std::map<int, std::string> images = ReadIcon(name);
        ASSERT_TRUE(images.count(16)) << name << " has no 16 x 16 image";
        EXPECT_TRUE(seen.insert(images.at(16)).second) << name << " looks like another state";
    }
}

TEST(IconFilesTest, ApplicationAndToolBarImages)
{
    const std::map<int, std::string> main = ReadIcon("Main2.ico");
    for (const int size : {16, 32, 48, 256})
        EXPECT_TRUE(main.count(size)) << "Main2.ico lacks " << size;
    for (const char* name : {"TabNow.ico", "TabLog.ico", "TabYpLike.ico", "Refresh.ico", "Find.ico", "Config.ico",
                             "Favorite.ico", "Abort.ico"})
        EXPECT_TRUE(ReadIcon(name).count(16)) << name;
}

} // namespace
} // namespace kavo
