#include "notify/AnnouncementDecision.h"
#include "platform/Cp932.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace kavo {
namespace {

constexpr DateTime Start = 46000.5;

struct Listing
{
    const char* yp;
    const char* hash;
    const char* name;
    const char* contact;
    bool marked = false;
    const char* onAirFor = ""; // the YP's "h:mm"
};

// One refresh: its minute, what is listed, and the outcomes of the marked listings in order.
struct Step
{
    double minute;
    std::vector<Listing> listed;
    std::vector<AnnounceOutcome> expected;
};

using O = AnnounceOutcome;

void RunSteps(AnnouncementDecision& decision, const std::vector<Step>& steps)
{
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        TkavoChList list;
        std::vector<const TkavoChItem*> marked;
        for (const Listing& l : step.listed) {
            TkavoChItem& c = list.Add(std::make_unique<TkavoChItem>());
            c.YpAddr = l.yp;
            c.Hash = l.hash;
            c.ChannelName = l.name;
            c.ContactURL = l.contact;
            c.BroadcastTime = l.onAirFor;
            if (l.marked)
                marked.push_back(&c);
        }
        const auto records = decision.Decide(Start + step.minute / MinutesPerDay, list, marked);
        std::vector<AnnounceOutcome> outcomes;
        for (const AnnouncementRecord& r : records) {
            outcomes.push_back(r.Outcome);
            EXPECT_EQ(r.Outcome == O::Shown, r.Reason.empty()) << "step " << i << ": " << Cp932ToUtf8(r.Reason);
        }
        EXPECT_EQ(outcomes, step.expected) << "step " << i << " at minute " << step.minute;
    }
}

TEST(AnnouncementDecision, AnnouncesABroadcastOnceAcrossYpsAndReturns)
{
    // One broadcast on YPs a and b, with a new ID at every reconnect and spelt differently.
    const char* url = "http://bbs.example/1";
    AnnouncementDecision decision;
    RunSteps(decision,
             {
                 {0, {{"a", "11", "Talk &amp; Music", url, true}}, {O::Shown}},
                 {1, {{"a", "11", "Talk &amp; Music", url}, {"b", "22", "talk & music", url, true}}, {O::Merged}},
                 {2, {{"a", "11", "Talk &amp; Music", url}}, {}},
                 {3, {{"a", "11", "Talk &amp; Music", url}, {"b", "33", "Talk & Music", url, true}}, {O::Merged}},
                 {4, {}, {}},
                 {10, {{"a", "44", "Talk &amp; Music", url, true}}, {O::Grace}},
                 {11, {}, {}},
                 {27, {{"b", "55", "Talk & Music", url, true}}, {O::Shown}},
                 // Listed new by two YPs at once; another broadcast of the same name is its own.
                 {60,
                  {{"a", "66", "Other", url, true},
                   {"b", "77", "OTHER", url, true},
                   {"b", "88", "Other", "http://bbs.example/2", true}},
                  {O::Shown, O::Merged, O::Shown}},
             });
}

TEST(AnnouncementDecision, GraceFollowsItsSetting)
{
    const char* url = "http://bbs.example/1";
    for (const auto& [minutes, expected] : {std::pair{15, O::Grace}, {5, O::Shown}, {0, O::Shown}}) {
        AnnouncementDecision decision;
        decision.SetGraceMinutes(minutes);
        RunSteps(decision, {
                               {0, {{"a", "1", "X", url, true}}, {O::Shown}},
                               {1, {}, {}},
                               {8, {{"a", "2", "X", url, true}}, {expected}},
                           });
    }
}

TEST(AnnouncementDecision, KnowsWhatWasOnAirBeforeARestart)
{
    AnnouncementDecision decision;
    const DateTime hourAgo = Start - 60 / MinutesPerDay;
    decision.RememberEarlier("Went On", hourAgo, true);
    decision.RememberEarlier("Started Anew", hourAgo, true);
    decision.RememberEarlier("No Time", hourAgo, true);
    decision.RememberEarlier("Just Ended", Start - 5 / MinutesPerDay, false);
    decision.RememberEarlier("Long Gone", Start - 30 / MinutesPerDay, false);
    RunSteps(decision, {
                           {0,
                            {{"a", "1", "went on", "", true, "2:00"},
                             {"a", "2", "Started Anew", "", true, "0:10"},
                             {"a", "3", "No Time", "", true},
                             {"a", "4", "Just Ended", "", true},
                             {"a", "5", "Long Gone", "", true}},
                            {O::Restart, O::Shown, O::Restart, O::Grace, O::Shown}},
                           // Once seen, a broadcast follows this session's rules.
                           {1, {}, {}},
                           {30, {{"a", "6", "No Time", "", true}}, {O::Shown}},
                       });
}

TEST(AnnouncementDecision, ObserversSeeEveryRecord)
{
    AnnouncementDecision decision;
    std::vector<AnnounceOutcome> seen;
    decision.Subscribe([&](const AnnouncementRecord& r) { seen.push_back(r.Outcome); });
    RunSteps(decision, {{0, {{"a", "1", "X", "", true}, {"b", "2", "x", "", true}}, {O::Shown, O::Merged}}});
    EXPECT_EQ(seen, (std::vector{O::Shown, O::Merged}));
}

} // namespace
} // namespace kavo
