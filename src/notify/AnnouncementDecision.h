#pragma once

#include "core/BroadcastIdentity.h"
#include "core/TkavoChItem.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kavo {

// What brought a channel up for an announcement.
enum class AnnounceTrigger : std::uint8_t {
    Started = 0,
};

// What became of it.
enum class AnnounceOutcome : std::uint8_t {
    Shown = 0,   // handed to the notifications
    Merged = 1,  // the same broadcast is announced, or on air, at another YP
    Grace = 2,   // it came back soon after it ended
    Restart = 3, // it was on air before the program last quit
};

// "開始"; CP932.
const std::string& TriggerText(AnnounceTrigger trigger);
// "通知", "まとめ", "猶予", "再起動"; CP932.
const std::string& OutcomeText(AnnounceOutcome outcome);

// One decision, as the notification log keeps it. Texts are CP932.
struct AnnouncementRecord
{
    DateTime Time = 0;
    std::string ChannelName;
    std::string ContactURL;
    std::string Hash;
    std::string Yp;
    AnnounceTrigger Trigger = AnnounceTrigger::Started;
    AnnounceOutcome Outcome = AnnounceOutcome::Shown;
    std::string Reason;
};

// Decides which channels the lists mark as new are announced: a broadcast once, whichever YPs list
// it and however often a YP drops and lists it again. The lists' marks are not its concern; it
// only holds back announcements, and says why.
class AnnouncementDecision
{
public:
    // A broadcast that ended at most this long ago (default 15 minutes; 0 or less: none) is not
    // new when it comes back.
    void SetGraceMinutes(int minutes) { m_graceDays = minutes > 0 ? minutes / MinutesPerDay : 0; }
    double GraceDays() const { return m_graceDays; }

    // A broadcast the history knows from before the program started: its name as listed, when it
    // was last seen, and whether it was still on air then. It is matched by name alone, for the
    // history keeps no contact URL.
    void RememberEarlier(std::string_view channelName, DateTime lastSeen, bool onAir);

    // One refresh at `now`: `onAir` is every channel listed (all YPs), `marked` those of them the
    // lists mark as new, in the order they would be announced. One record for each marked channel.
    std::vector<AnnouncementRecord> Decide(DateTime now, const TkavoChList& onAir,
                                           std::span<const TkavoChItem* const> marked);

    // Called with every record Decide makes, in order.
    void Subscribe(std::function<void(const AnnouncementRecord&)> observer)
    {
        m_observers.push_back(std::move(observer));
    }

private:
    struct Known
    {
        DateTime LastSeen = 0;
        std::uint64_t SeenIn = 0; // the refresh that last listed it
        std::string Yp;           // where it was last decided on or seen
    };
    struct Earlier
    {
        DateTime LastSeen = 0;
        bool OnAir = false;
    };

    std::unordered_map<BroadcastKey, Known, BroadcastKeyHash> m_known;
    // Channel ID to key: a broadcaster who edits the contact URL while on air stays one broadcast.
    std::unordered_map<std::string, BroadcastKey> m_byHash;
    std::unordered_map<std::string, Earlier> m_earlier; // by folded name
    std::uint64_t m_refresh = 0;
    double m_graceDays = 15 / MinutesPerDay;
    std::vector<std::function<void(const AnnouncementRecord&)>> m_observers;
};

} // namespace kavo
