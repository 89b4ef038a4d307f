#include "notify/AnnouncementDecision.h"

#include "platform/Cp932.h"

#include <cmath>
#include <unordered_set>

namespace kavo {

const std::string& TriggerText(AnnounceTrigger trigger)
{
    static const std::string started = Sjis("開始");
    (void)trigger;
    return started;
}

const std::string& OutcomeText(AnnounceOutcome outcome)
{
    static const std::string texts[] = {Sjis("通知"), Sjis("まとめ"), Sjis("猶予"), Sjis("再起動")};
    const auto index = static_cast<std::size_t>(outcome);
    return texts[index < std::size(texts) ? index : 0];
}

void AnnouncementDecision::RememberEarlier(std::string_view channelName, DateTime lastSeen, bool onAir)
{
    Earlier& earlier = m_earlier[FoldBroadcastText(channelName)];
    if (lastSeen >= earlier.LastSeen) {
        earlier.LastSeen = lastSeen;
        earlier.OnAir = onAir;
    }
}

namespace {

std::string MinutesText(double days)
{
    return std::to_string(static_cast<long long>(std::lround(std::max(0.0, days) * MinutesPerDay)));
}

} // namespace

std::vector<AnnouncementRecord> AnnouncementDecision::Decide(DateTime now, const TkavoChList& onAir,
                                                             std::span<const TkavoChItem* const> marked)
{
    const std::uint64_t previous = m_refresh++;
    const auto find = [this](const TkavoChItem& channel, const BroadcastKey& key) -> Known* {
        if (const auto found = m_known.find(key); found != m_known.end())
            return &found->second;
        if (channel.HasHash())
            if (const auto hint = m_byHash.find(channel.Hash); hint != m_byHash.end() && hint->second.Name == key.Name)
                if (const auto found = m_known.find(hint->second); found != m_known.end())
                    return &found->second;
        return nullptr;
    };

    std::vector<AnnouncementRecord> records;
    records.reserve(marked.size());
    std::unordered_map<BroadcastKey, std::string, BroadcastKeyHash> decidedNow; // key to its YP
    for (const TkavoChItem* channel : marked) {
        const BroadcastKey key = BroadcastKey::Of(*channel);
        AnnouncementRecord& record = records.emplace_back();
        record.Time = now;
        record.ChannelName = channel->ChannelName;
        record.ContactURL = channel->ContactURL;
        record.Hash = channel->Hash;
        record.Yp = channel->YpAddr;
        record.Trigger = AnnounceTrigger::Started;

        const Known* known = find(*channel, key);
        if (const auto same = decidedNow.find(key); same != decidedNow.end()) {
            record.Outcome = AnnounceOutcome::Merged;
            record.Reason = Sjis("同じ配信を ") + same->second + Sjis(" で処理済み");
            continue;
        }
        decidedNow.emplace(key, channel->YpAddr);
        if (known && known->SeenIn == previous) {
            record.Outcome = AnnounceOutcome::Merged;
            record.Reason = Sjis("同じ配信が ") + known->Yp + Sjis(" で放送中");
        } else if (known && m_graceDays > 0 && now - known->LastSeen <= m_graceDays) {
            record.Outcome = AnnounceOutcome::Grace;
            record.Reason = Sjis("終了から ") + MinutesText(now - known->LastSeen) + Sjis(" 分で再開");
        } else if (const auto earlier = known ? m_earlier.end() : m_earlier.find(key.Name);
                   earlier != m_earlier.end()) {
            const Earlier& e = earlier->second;
            const DateTime duration = channel->BroadcastDuration();
            // The YP's time on air tells a broadcast that went on while the program was closed
            // from one that started since.
            const bool wentOn = e.OnAir && (duration <= 0 || now - duration <= e.LastSeen + m_graceDays);
            if (wentOn) {
                record.Outcome = AnnounceOutcome::Restart;
                record.Reason = Sjis("前回の終了時に放送中");
            } else if (m_graceDays > 0 && now - e.LastSeen <= m_graceDays) {
                record.Outcome = AnnounceOutcome::Grace;
                record.Reason = Sjis("終了から ") + MinutesText(now - e.LastSeen) + Sjis(" 分で再開");
            }
        }
    }

    // What is on air now, for the next refresh.
    for (const TkavoChItem& channel : onAir) {
        BroadcastKey key = BroadcastKey::Of(channel);
        Known* known = find(channel, key);
        if (!known) {
            // Seen in this session now: the history's word on it is no longer needed.
            if (!m_earlier.empty())
                m_earlier.erase(key.Name);
            if (channel.HasHash())
                m_byHash.insert_or_assign(channel.Hash, key);
            known = &m_known[std::move(key)];
        }
        if (known->SeenIn != m_refresh) {
            known->SeenIn = m_refresh;
            known->Yp = channel.YpAddr;
        }
        known->LastSeen = now;
    }
    for (const AnnouncementRecord& record : records)
        if (const auto found =
                m_known.find({FoldBroadcastText(record.ChannelName), FoldBroadcastText(record.ContactURL)});
            found != m_known.end() && record.Outcome == AnnounceOutcome::Shown)
            found->second.Yp = record.Yp;

    // Broadcasts gone for longer than the grace period no longer matter.
    for (auto it = m_known.begin(); it != m_known.end();) {
        if (it->second.SeenIn != m_refresh && now - it->second.LastSeen > m_graceDays)
            it = m_known.erase(it);
        else
            ++it;
    }
    if (m_byHash.size() > 2 * m_known.size() + 1024)
        for (auto it = m_byHash.begin(); it != m_byHash.end();)
            it = m_known.contains(it->second) ? std::next(it) : m_byHash.erase(it);

    for (const AnnouncementRecord& record : records)
        for (const auto& observer : m_observers)
            observer(record);
    return records;
}

} // namespace kavo
