#include "net/RelayUpkeep.h"

#include <unordered_set>

namespace kavo {

bool RelayUpkeep::idleLongEnough(DateTime since, DateTime now) const
{
    // Times are fractions of days: a second of slack keeps rounding from deciding.
    constexpr double minutesPerDay = 24.0 * 60.0;
    constexpr double second = 1.0 / (minutesPerDay * 60.0);
    return now - since + second >= m_idleMinutes / minutesPerDay;
}

void RelayUpkeep::Observe(const TkavoChList& local, DateTime now)
{
    std::unordered_map<std::string, DateTime> idleSince;
    m_order.clear();
    for (const TkavoChItem& relay : local) {
        if (relay.Hash.empty() || relay.Listeners > 0 || relay.LocalStatus == "BROADCAST" ||
            idleSince.count(relay.Hash))
            continue;
        const auto known = m_idleSince.find(relay.Hash);
        idleSince.emplace(relay.Hash, known == m_idleSince.end() ? now : known->second);
        m_order.push_back(relay.Hash);
    }
    m_idleSince = std::move(idleSince);
    std::erase_if(m_played, [&](const auto& entry) { return idleLongEnough(entry.second, now); });
}

void RelayUpkeep::Played(const std::string& hash, DateTime now)
{
    m_played[hash] = now;
}

std::vector<std::string> RelayUpkeep::Unwatched(DateTime now) const
{
    std::vector<std::string> unwatched;
    for (const std::string& hash : m_order) {
        const auto played = m_played.find(hash);
        if (played != m_played.end() && !idleLongEnough(played->second, now))
            continue;
        if (idleLongEnough(m_idleSince.at(hash), now))
            unwatched.push_back(hash);
    }
    return unwatched;
}

} // namespace kavo
