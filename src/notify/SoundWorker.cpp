#include "notify/SoundWorker.h"

#include "common/CanberraApi.h"
#include "common/WavePlayer.h"

#include "platform/Cp932.h"
#include "platform/Process.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <unordered_set>

namespace kavo {

namespace {

class CanberraFilePlayer : public SoundFilePlayer
{
public:
    ~CanberraFilePlayer() override
    {
        if (m_context)
            Canberra()->context_destroy(m_context);
    }

    bool PlayFileSync(const std::string& path) override
    {
        std::uint32_t id = 0;
        ca_context* context = nullptr;
        {
            std::lock_guard lock(m_lock);
            if (m_cancelled || !open())
                return false;
            id = ++m_lastId;
            context = m_context;
        }
        ca_proplist* properties = nullptr;
        if (Canberra()->proplist_create(&properties) != CA_SUCCESS)
            return false;
        Canberra()->proplist_sets(properties, CA_PROP_MEDIA_FILENAME, path.c_str());
        Canberra()->proplist_sets(properties, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
        // No lock of ours is held here: the end is reported on libcanberra's own thread.
        const int started = Canberra()->context_play_full(context, id, properties, &CanberraFilePlayer::finished, this);
        Canberra()->proplist_destroy(properties);
        if (started != CA_SUCCESS)
            return false;
        std::unique_lock lock(m_lock);
        // A sound server that never reports the end must not hold the worker for good.
        m_done.wait_for(lock, std::chrono::minutes(5), [&] { return m_finishedId == id || m_cancelled; });
        const bool ended = m_finishedId == id;
        lock.unlock();
        if (!ended)
            Canberra()->context_cancel(context, id);
        return true;
    }

    void Cancel() override
    {
        ca_context* context = nullptr;
        std::uint32_t id = 0;
        {
            std::lock_guard lock(m_lock);
            m_cancelled = true;
            context = m_context;
            id = m_lastId;
            m_done.notify_all();
        }
        if (context)
            Canberra()->context_cancel(context, id);
    }

private:
    static void finished(ca_context*, std::uint32_t id, int, void* self)
    {
        auto* player = static_cast<CanberraFilePlayer*>(self);
        std::lock_guard lock(player->m_lock);
        player->m_finishedId = id;
        player->m_done.notify_all();
    }

    bool open()
    {
        if (!m_context)
            m_context = CreateSoundContext();
        return m_context != nullptr;
    }

    std::mutex m_lock;
    std::condition_variable m_done;
    ca_context* m_context = nullptr;
    std::uint32_t m_lastId = 0;
    std::uint32_t m_finishedId = 0;
    bool m_cancelled = false;
};

} // namespace

std::unique_ptr<SoundFilePlayer> CreateCanberraFilePlayer()
{
    return std::make_unique<CanberraFilePlayer>();
}

SoundWorker::SoundWorker(std::unique_ptr<SoundFilePlayer> player, std::function<bool()> stop)
    : m_player(std::move(player)), m_stop(std::move(stop))
{}

SoundWorker::~SoundWorker()
{
    m_terminate = true;
    if (m_player)
        m_player->Cancel();
    if (m_thread.joinable())
        m_thread.join();
}

void SoundWorker::Add(const std::vector<std::string>& files)
{
    std::lock_guard lock(m_lock);
    m_pending.insert(m_pending.end(), files.begin(), files.end());
}

bool SoundWorker::HasPending() const
{
    std::lock_guard lock(m_lock);
    return !m_pending.empty();
}

bool SoundWorker::Running() const
{
    std::lock_guard lock(m_lock);
    return m_running;
}

void SoundWorker::Start(int threadPriority)
{
    {
        // The running flag and the pending files share the lock, so a run that is just ending
        // either sees the new files or has already cleared the flag.
        std::lock_guard lock(m_lock);
        if (m_running || !m_player)
            return;
        m_running = true;
    }
    if (m_thread.joinable())
        m_thread.join();
    m_thread = std::thread(&SoundWorker::run, this, threadPriority);
}

void SoundWorker::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

void SoundWorker::run(int threadPriority)
{
    if (threadPriority != 0)
        ApplyThreadPriority(threadPriority);
    std::unordered_set<std::string> played;
    try {
        for (;;) {
            std::string file;
            {
                std::lock_guard lock(m_lock);
                if (m_pending.empty()) {
                    m_running = false;
                    return;
                }
                file = m_pending.front();
            }
            if (m_terminate || (m_stop && m_stop()))
                break;
            if (played.insert(file).second)
                m_player->PlayFileSync(Cp932ToUtf8(file));
            std::lock_guard lock(m_lock);
            m_pending.pop_front();
        }
    } catch (...) {
        // The files still pending wait for the next run.
    }
    std::lock_guard lock(m_lock);
    m_running = false;
}

} // namespace kavo
