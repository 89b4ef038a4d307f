#include "platform/VisitedUrls.h"

#include "platform/Cp932.h"
#include "support/ProcessRecords.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace kavo {
namespace {

class VisitedUrlsFixture : public ::testing::Test
{
protected:
    test::TempFolder m_folder;
    std::string m_file = m_folder / VisitedUrls::FileName;
};

TEST_F(VisitedUrlsFixture, RemembersUrlsByteForByteAcrossRuns)
{
    const std::string sjisUrl = "http://example.jp/" + Sjis("掲示板") + "/";
    {
        VisitedUrls store(m_file);
        ASSERT_TRUE(store.IsOpen());
        EXPECT_FALSE(store.IsVisited("http://a.example/"));
        store.Add("http://a.example/");
        store.Add(sjisUrl);
        store.Add("http://a.example/"); // again: still one entry
        EXPECT_EQ(store.Count(), 2u);
    }
    VisitedUrls store(m_file);
    EXPECT_TRUE(store.IsVisited("http://a.example/"));
    EXPECT_TRUE(store.IsVisited(sjisUrl));
    EXPECT_FALSE(store.IsVisited("http://A.example/")) << "no case folding";
    EXPECT_FALSE(store.IsVisited("http://a.example")) << "no prefix match";
    EXPECT_FALSE(store.IsVisited(""));
}

TEST_F(VisitedUrlsFixture, KeepsOnlyTheNewestUpToTheLimit)
{
    VisitedUrls store(m_file, 3);
    for (const char* url : {"a", "b", "c", "d"})
        store.Add(url);
    EXPECT_FALSE(store.IsVisited("a"));
    EXPECT_EQ(store.Count(), 3u);

    store.Add("b"); // b becomes the newest, so c is the oldest now
    store.Add("e");
    EXPECT_TRUE(store.IsVisited("b"));
    EXPECT_FALSE(store.IsVisited("c"));
    EXPECT_TRUE(store.IsVisited("d"));
    EXPECT_TRUE(store.IsVisited("e"));
    EXPECT_EQ(store.Count(), 3u);
}

TEST_F(VisitedUrlsFixture, WorkerAndMainThreadShareOneStore)
{
    VisitedUrls store(m_file);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done)
            store.IsVisited("http://x.example/0");
    });
    for (int i = 0; i < 100; ++i)
        store.Add("http://x.example/" + std::to_string(i));
    done = true;
    reader.join();
    EXPECT_EQ(store.Count(), 100u);
    EXPECT_TRUE(store.IsVisited("http://x.example/99"));
}

TEST_F(VisitedUrlsFixture, ABrokenFileIsSetAsideAndReplaced)
{
    std::ofstream(m_file, std::ios::binary) << std::string(4096, 'x');
    VisitedUrls store(m_file);
    ASSERT_TRUE(store.IsOpen());
    store.Add("http://a.example/");
    EXPECT_TRUE(store.IsVisited("http://a.example/"));

    std::ifstream bad(m_file + ".bad", std::ios::binary);
    std::string kept((std::istreambuf_iterator<char>(bad)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, std::string(4096, 'x'));
}

TEST_F(VisitedUrlsFixture, AnUnusableFolderGivesAnEmptyStore)
{
    VisitedUrls store(m_folder / "missing/visited.sqlite");
    EXPECT_FALSE(store.IsOpen());
    store.Add("http://a.example/");
    EXPECT_FALSE(store.IsVisited("http://a.example/"));
}

} // namespace
} // namespace kavo
