// Announcements over real refreshes of three loopback YPs, with the program restarted between
// refreshes: one broadcast, listed by two YPs under different IDs and dropped and listed again by
// one of them, is announced once, and the log says why the other listings were held back.
#include "net/CycleFixture.h"

#include "history/HistoryStore.h"
#include "notify/AnnouncementDecision.h"

#include <map>
#include <string>
#include <vector>

namespace kavo::test {
namespace {

std::string Line(const std::string& name, char id, const std::string& contact)
{
    return name + "<>" + std::string(32, id) + "<>10.0.0.1:7144<>" + contact +
           "<>genre<>desc<>5<>1<>300<>WMV<><><><><><>1:05<>click<><>0\r\n";
}

class AnnouncementCycleTest : public CycleFixture
{
protected:
    void TearDown() override
    {
        net.reset();
        history.reset();
        CycleFixture::TearDown();
    }

    // A start of the program: a new module, store and decision, which learns from the history
    // what was on air before.
    void StartProgram()
    {
        net.reset();
        history = std::make_unique<HistoryStore>((folder / HistoryStore::FileName).string());
        decision = std::make_unique<AnnouncementDecision>();
        for (const RecentBroadcast& b : history->RecentBroadcasts(Now() - decision->GraceDays()))
            decision->RememberEarlier(b.ChannelName, b.LastSeen, b.OnAir);
        MakeNet();
        net->OnRecord = [this](RetrievalRecord& record) { history->Record(record); };
    }

    // A refresh, decided on and logged as the program does with its channels marked new.
    void Refresh()
    {
        clock->AddMinutes(2);
        RunCycle(true);
        std::vector<const TkavoChItem*> marked;
        for (const TkavoChItem& channel : net->ChList())
            if (channel.Diff == TkavoDiff::New)
                marked.push_back(&channel);
        std::vector<NotificationLogRow> rows;
        for (const AnnouncementRecord& r : decision->Decide(Now(), net->ChList(), marked))
            rows.push_back({r.Time, r.ChannelName, r.ContactURL, r.Hash, r.Yp, static_cast<int>(r.Trigger),
                            static_cast<int>(r.Outcome), r.Reason});
        history->RecordNotifications(std::move(rows));
        history->Flush();
    }

    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<AnnouncementDecision> decision;
};

TEST_F(AnnouncementCycleTest, OneBroadcastIsAnnouncedOnceAcrossYpsRelistingsAndRestarts)
{
    const std::string bbs = "http://bbs.example/talk/";
    auto& a = AddYp("/a/");
    auto& b = AddYp("/b/");
    auto& c = AddYp("/c/");
    const auto list = [&](TkavoYpItem& yp, const std::string& index) {
        server.Route(PathOf(yp) + "index.txt", HttpReply::Ok(index));
    };
    const std::string talkOnA = Line("Talk &amp; Music", 'A', bbs);
    const std::string other = Line("Other", 'C', "http://bbs.example/other/");
    for (TkavoYpItem* yp : {&a, &b, &c})
        list(*yp, "");

    StartProgram();
    Refresh(); // a first refresh marks nothing
    list(a, talkOnA);
    list(b, Line("talk & music", 'B', bbs)); // another ID, spelt another way
    list(c, other);
    Refresh();
    list(a, "");
    list(b, "");
    Refresh();
    StartProgram();
    Refresh();
    list(b, Line("Talk & Music", 'E', bbs)); // back on one YP under a new ID, soon after it ended
    Refresh();

    std::map<std::string, std::vector<AnnounceOutcome>> outcomes;
    for (const NotificationLogRow& row : history->Notifications(0)) {
        const auto outcome = static_cast<AnnounceOutcome>(row.Outcome);
        outcomes[row.ChannelName == "Other" ? "other" : "talk"].push_back(outcome);
        EXPECT_EQ(row.Reason.empty(), outcome == AnnounceOutcome::Shown);
    }
    using O = AnnounceOutcome;
    EXPECT_EQ(outcomes["talk"], (std::vector{O::Shown, O::Merged, O::Grace}));
    EXPECT_EQ(outcomes["other"], (std::vector{O::Shown}));
}

} // namespace
} // namespace kavo::test
