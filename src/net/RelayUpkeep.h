#pragma once

#include "core/TkavoChItem.h"
#include "platform/DateTime.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace kavo {

// Keeps track of the local server's relays that nobody here watches: from the first status read
// that shows a relay without a local listener until one that shows a listener again (or no longer
// lists it). Relays idle for the limit are the ones worth stopping; a broadcast never is, nor a
// channel played here within the limit, whose listener the server may not count yet.
class RelayUpkeep
{
public:
    explicit RelayUpkeep(int idleMinutes = 30) : m_idleMinutes(idleMinutes) {}

    void SetIdleMinutes(int minutes) { m_idleMinutes = minutes; }
    // A status read at now, as ParseLocalChannels gives it.
    void Observe(const TkavoChList& local, DateTime now);
    // The channel was played here at now.
    void Played(const std::string& hash, DateTime now);
    // The IDs of the relays idle for at least the limit at now, in the order of the last read.
    std::vector<std::string> Unwatched(DateTime now) const;

private:
    bool idleLongEnough(DateTime since, DateTime now) const;

    int m_idleMinutes;
    std::vector<std::string> m_order;                      // relays of the last read without a listener
    std::unordered_map<std::string, DateTime> m_idleSince; // by ID
    std::unordered_map<std::string, DateTime> m_played;    // by ID
};

} // namespace kavo
