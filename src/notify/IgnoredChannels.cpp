#include "notify/IgnoredChannels.h"

namespace kavo {

namespace {

// A channel without an ID is known by its name.
std::string Key(const std::string& hash, const std::string& name)
{
    if (!hash.empty() && hash != NoHash)
        return "#" + hash;
    return "=" + name;
}

std::string Key(const TkavoChItem& channel)
{
    return Key(channel.Hash, channel.ChannelName);
}

} // namespace

void IgnoredChannels::Add(const NotifyChannel& channel)
{
    m_keys.insert(Key(channel.Hash, channel.ChannelName));
}

bool IgnoredChannels::Contains(const TkavoChItem& channel) const
{
    return m_keys.contains(Key(channel));
}

void IgnoredChannels::KeepOnAir(const TkavoChList& onAir)
{
    if (m_keys.empty())
        return;
    std::set<std::string> kept;
    for (const TkavoChItem& channel : onAir)
        if (const std::string key = Key(channel); m_keys.contains(key))
            kept.insert(key);
    m_keys = std::move(kept);
}

} // namespace kavo
