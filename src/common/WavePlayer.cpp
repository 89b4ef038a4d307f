#include "common/WavePlayer.h"

#include "common/CanberraApi.h"

#include <mutex>

namespace kavo {

const CanberraApi* Canberra()
{
    // Never unloaded: a sound may still be ending on libcanberra's thread while the program ends.
    static auto* library = new LazyLibrary<CanberraApi>("libcanberra.so.0");
    return library->Get();
}

ca_context* CreateSoundContext()
{
    const CanberraApi* api = Canberra();
    ca_context* context = nullptr;
    if (!api || api->context_create(&context) != CA_SUCCESS)
        return nullptr;
    api->context_change_props(context, CA_PROP_APPLICATION_NAME, "kavo", CA_PROP_APPLICATION_ID, "kavo", nullptr);
    return context;
}

namespace {

class CanberraPlayer : public WavePlayer
{
public:
    ~CanberraPlayer() override
    {
        if (m_context)
            Canberra()->context_destroy(m_context);
    }

    bool PlayFile(const std::string& path) override
    {
        std::lock_guard lock(m_lock);
        if (!open())
            return false;
        Canberra()->context_cancel(m_context, SoundId);
        // The user may change the file between plays, so nothing is cached.
        return Canberra()->context_play(m_context, SoundId, CA_PROP_MEDIA_FILENAME, path.c_str(),
                                        CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr) == CA_SUCCESS;
    }

    bool PlayEvent(const std::string& eventId) override
    {
        std::lock_guard lock(m_lock);
        if (!open())
            return false;
        Canberra()->context_cancel(m_context, SoundId);
        return Canberra()->context_play(m_context, SoundId, CA_PROP_EVENT_ID, eventId.c_str(), nullptr) == CA_SUCCESS;
    }

private:
    static constexpr std::uint32_t SoundId = 1;

    // Connecting to the sound server waits until the first sound is asked for.
    bool open()
    {
        if (!m_context)
            m_context = CreateSoundContext();
        return m_context != nullptr;
    }

    std::mutex m_lock;
    ca_context* m_context = nullptr;
};

} // namespace

std::unique_ptr<WavePlayer> CreateCanberraPlayer()
{
    return std::make_unique<CanberraPlayer>();
}

} // namespace kavo
