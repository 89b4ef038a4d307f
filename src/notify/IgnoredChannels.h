#pragma once

#include "core/TkavoChItem.h"
#include "notify/TkavoNotifyItem.h"

#include <set>
#include <string>

namespace kavo {

// Channels the user chose to hear no more of while they are on air: a channel stays ignored until
// a refresh no longer lists it, so its next broadcast is announced again.
class IgnoredChannels
{
public:
    void Add(const NotifyChannel& channel);
    bool Contains(const TkavoChItem& channel) const;
    // Forgets the channels the list of channels on air no longer holds.
    void KeepOnAir(const TkavoChList& onAir);
    bool Empty() const { return m_keys.empty(); }

private:
    std::set<std::string> m_keys;
};

} // namespace kavo
