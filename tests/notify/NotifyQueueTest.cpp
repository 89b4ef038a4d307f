#include "notify/SoundWorker.h"
#include "notify/TkavoNotifyItem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kavo {
namespace {

std::unique_ptr<TkavoNotifyItem> Item(const std::string& text)
{
    auto item = std::make_unique<TkavoNotifyItem>();
    item->Text = text;
    return item;
}

TEST(NotifyQueue, FirstInFirstOutAndClear)
{
    TkavoNotifyQueue queue;
    queue.Push(Item("1"));
    queue.Push(Item("2"));
    queue.Push(Item("3"));
    EXPECT_EQ(queue.Count(), 3);
    EXPECT_EQ(queue.Pop()->Text, "1");
    EXPECT_EQ(queue.Pop()->Text, "2");
    queue.Clear();
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(NotifyQueue, PushesFromSeveralThreadsWhilePopping)
{
    constexpr int Threads = 4;
    constexpr int PerThread = 500;
    TkavoNotifyQueue queue;
    std::vector<std::thread> pushers;
    for (int t = 0; t < Threads; ++t)
        pushers.emplace_back([&queue, t] {
            for (int i = 0; i < PerThread; ++i)
                queue.Push(Item(std::to_string(t) + ":" + std::to_string(i)));
        });
    std::vector<int> next(Threads, 0);
    int popped = 0;
    while (popped < Threads * PerThread) {
        std::unique_ptr<TkavoNotifyItem> item = queue.Pop();
        if (!item) {
            std::this_thread::yield();
            continue;
        }
        const auto colon = item->Text.find(':');
        const int thread = std::stoi(item->Text.substr(0, colon));
        // Each pusher's items come out in the order it pushed them.
        EXPECT_EQ(std::stoi(item->Text.substr(colon + 1)), next[thread]++) << item->Text;
        ++popped;
    }
    for (std::thread& pusher : pushers)
        pusher.join();
    EXPECT_EQ(queue.Count(), 0);
}

// Records the files played; can hold a file until released and throw once for a file.
class FakeFilePlayer : public SoundFilePlayer
{
public:
    struct Shared
    {
        std::mutex Lock;
        std::condition_variable Changed;
        std::vector<std::string> Played;
        std::string HoldFile; // PlayFileSync waits on this file until Release
        bool Holding = false; // a play waits now
        bool Released = false;
        std::string ThrowOnce; // throws the first time this file comes
        bool Cancelled = false;

        void WaitUntilHolding()
        {
            std::unique_lock lock(Lock);
            Changed.wait(lock, [this] { return Holding; });
        }
        void Release()
        {
            std::lock_guard lock(Lock);
            Released = true;
            Changed.notify_all();
        }
        std::vector<std::string> PlayedNow()
        {
            std::lock_guard lock(Lock);
            return Played;
        }
    };

    explicit FakeFilePlayer(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

    bool PlayFileSync(const std::string& path) override
    {
        std::unique_lock lock(m_shared->Lock);
        if (m_shared->Cancelled)
            return false;
        if (path == m_shared->ThrowOnce) {
            m_shared->ThrowOnce.clear();
            throw std::runtime_error("broken sound");
        }
        m_shared->Played.push_back(path);
        if (path == m_shared->HoldFile) {
            m_shared->Holding = true;
            m_shared->Changed.notify_all();
            m_shared->Changed.wait(lock, [this] { return m_shared->Released || m_shared->Cancelled; });
            m_shared->Holding = false;
        }
        return true;
    }

    void Cancel() override
    {
        std::lock_guard lock(m_shared->Lock);
        m_shared->Cancelled = true;
        m_shared->Changed.notify_all();
    }

private:
    std::shared_ptr<Shared> m_shared;
};

class SoundWorkerTest : public ::testing::Test
{
protected:
    std::shared_ptr<FakeFilePlayer::Shared> Player = std::make_shared<FakeFilePlayer::Shared>();
    std::atomic<bool> Closing = false;
    SoundWorker Worker{std::make_unique<FakeFilePlayer>(Player), [this] { return Closing.load(); }};
};

TEST_F(SoundWorkerTest, PlaysEachFileOncePerRunInOrder)
{
    Worker.Add({"a.wav", "b.wav", "a.wav", "c.wav", "b.wav"});
    Worker.Start(0);
    Worker.Wait();
    EXPECT_EQ(Player->PlayedNow(), (std::vector<std::string>{"a.wav", "b.wav", "c.wav"}));
    EXPECT_FALSE(Worker.HasPending());
    EXPECT_FALSE(Worker.Running());

    // A later run may play a file again.
    Worker.Add({"a.wav"});
    Worker.Start(0);
    Worker.Wait();
    EXPECT_EQ(Player->PlayedNow(), (std::vector<std::string>{"a.wav", "b.wav", "c.wav", "a.wav"}));
}

TEST_F(SoundWorkerTest, RunningWorkerTakesFilesAddedMeanwhile)
{
    Player->HoldFile = "a.wav";
    Worker.Add({"a.wav"});
    Worker.Start(0);
    Player->WaitUntilHolding();
    Worker.Add({"b.wav", "a.wav"});
    Worker.Start(0); // the running worker finds them
    EXPECT_TRUE(Worker.Running());
    Player->Release();
    Worker.Wait();
    EXPECT_EQ(Player->PlayedNow(), (std::vector<std::string>{"a.wav", "b.wav"}));
    EXPECT_FALSE(Worker.HasPending());
}

TEST_F(SoundWorkerTest, ClosingEndsTheRunBeforeTheNextFile)
{
    Player->HoldFile = "a.wav";
    Worker.Add({"a.wav", "b.wav"});
    Worker.Start(0);
    Player->WaitUntilHolding();
    Closing = true;
    Player->Release();
    Worker.Wait();
    EXPECT_EQ(Player->PlayedNow(), (std::vector<std::string>{"a.wav"}));
    EXPECT_TRUE(Worker.HasPending());
}

TEST_F(SoundWorkerTest, ErrorEndsTheRunAndTheRestWaitsForTheNext)
{
    Player->ThrowOnce = "bad.wav";
    Worker.Add({"a.wav", "bad.wav", "c.wav"});
    Worker.Start(0);
    Worker.Wait();
    EXPECT_EQ(Player->PlayedNow(), (std::vector<std::string>{"a.wav"}));
    EXPECT_TRUE(Worker.HasPending());

    Worker.Start(0);
    Worker.Wait();
    EXPECT_EQ(Player->PlayedNow(), (std::vector<std::string>{"a.wav", "bad.wav", "c.wav"}));
}

TEST(SoundWorker, DestructionEndsASoundThatIsPlaying)
{
    auto player = std::make_shared<FakeFilePlayer::Shared>();
    player->HoldFile = "long.wav";
    {
        SoundWorker worker(std::make_unique<FakeFilePlayer>(player), [] { return false; });
        worker.Add({"long.wav", "next.wav"});
        worker.Start(0);
        player->WaitUntilHolding();
    } // must not wait for a release that never comes
    EXPECT_TRUE(player->Cancelled);
    EXPECT_EQ(player->PlayedNow(), (std::vector<std::string>{"long.wav"}));
}

} // namespace
} // namespace kavo
