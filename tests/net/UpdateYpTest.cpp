#include "ChannelTokens.h"

#include "net/UpdateYp.h"
#include "platform/DateTime.h"
#include "platform/RegularExpression.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace kavo {
namespace {

using test::FillFromTokens;
using test::Marks;
using test::Names;

// One step of a YP's life: a cycle that parsed an index, a cycle in which the YP was skipped or
// failed (its ChList holds the last parse), or a reload of the settings between cycles.
struct Step
{
    enum Kind {
        Parse,
        Skip,
        Reload
    } What;
    double Minutes = 0; // the clock moves this far before the cycle
    const char* Index = "";
    const char* Marks = "";
    const char* Log = "";
};

Step Parsed(double minutes, const char* index, const char* marks, const char* log = "")
{
    return {Step::Parse, minutes, index, marks, log};
}
Step Skipped(double minutes, const char* marks, const char* log = "")
{
    return {Step::Skip, minutes, "", marks, log};
}
Step Reloaded()
{
    return {Step::Reload};
}

struct Case
{
    const char* Name;
    UpdateOptions Options;
    bool NoNotify2;
    std::vector<Step> Steps;
};

constexpr UpdateOptions RankMarks{false, true, 1}; // Up and Down shown, log counts one hour
constexpr UpdateOptions ChangeMarks{true, true, 1};

class UpdateYpTest : public ::testing::Test
{
protected:
    void SetUp() override { SetClock(m_clock); }
    void TearDown() override { SetClock(nullptr); }

    // What the retrieval cycle does for the YP: a successful parse replaces ChList and counts;
    // every cycle then updates.
    void Run(YpRecord& yp, const Step& step, const UpdateOptions& options)
    {
        m_clock->AddMinutes(step.Minutes);
        if (step.What == Step::Reload) {
            // The settings keep only the channels and the retrieval time of a YP.
            auto fresh = std::make_unique<YpRecord>();
            fresh->Url = yp.Url;
            fresh->NoNotify2 = yp.NoNotify2;
            fresh->LastUpdate = yp.LastUpdate;
            fresh->ChList.Assign(yp.ChList);
            yp.Assign(*fresh);
            return;
        }
        if (step.What == Step::Parse) {
            yp.ChList.Clear();
            FillFromTokens(yp.ChList, step.Index, Now());
            yp.ChList.Valid = true;
            ++yp.SuccessCount;
        }
        UpdateYp(yp, {options, FavoriteMatcher(m_favorites, ""), m_regExp, Now()});
    }

    std::shared_ptr<ManualClock> m_clock = std::make_shared<ManualClock>(45000.5);
    TkavoFavoriteList m_favorites;
    RegularExpression m_regExp;
};

TEST_F(UpdateYpTest, MarksAndLogOverCycles)
{
    const std::vector<Case> cases = {
        {"first parse marks nothing, second marks new, third ages them",
         RankMarks,
         false,
         {Parsed(0, "A B", "A B"), Parsed(10, "A B C", "A B C:New"), Parsed(10, "A D C B", "A D:New C:PreNew B:Down"),
          Parsed(10, "A D C B", "A D:PreNew C B")}},
        {"NoNotify2 holds back the second parse only",
         RankMarks,
         true,
         {Parsed(0, "A", "A"), Parsed(10, "A B", "A B"), Parsed(10, "A B C", "A B C:New")}},
        {"skipped or failed cycles age New to PreNew and rank marks to None, logging nothing",
         RankMarks,
         false,
         {Parsed(0, "A B D", "A B D"), Parsed(10, "B A C", "B:Up A:Down C:New", "D"), Skipped(5, "B A C:PreNew", "D"),
          Skipped(5, "B A C", "D")}},
        {"RankUpOrDown2None on: rank moves are None, changed texts Change",
         ChangeMarks,
         false,
         {Parsed(0, "A B C D E F", "A B C D E F"),
          Parsed(10, "B+d A C+p D+c E+s F", "B:Change A C:Change D:Change E F")}},
        {"RankUpOrDown2None off: changed texts keep the rank mark",
         RankMarks,
         false,
         {Parsed(0, "A B C D E F", "A B C D E F"), Parsed(10, "B+d A C+p D+c E+s F", "B:Up A:Down C D E F")}},
        {"a channel back within LogRangeHour is Up and leaves the log",
         RankMarks,
         false,
         {Parsed(0, "A B", "A B"), Parsed(10, "A", "A", "B"), Parsed(30, "A B", "A B:Up")}},
        {"a channel back within LogRangeHour, RankUpOrDown2None on: None",
         ChangeMarks,
         false,
         {Parsed(0, "A B", "A B"), Parsed(10, "A", "A", "B"), Parsed(30, "A B", "A B")}},
        {"a channel back after LogRangeHour is New; older entries expire",
         RankMarks,
         false,
         {Parsed(0, "A B C", "A B C"), Parsed(10, "A", "A", "B C"), Skipped(30, "A", "B C"),
          Parsed(80, "A B", "A B:New")}},
        {"LogRangeHour 0 counts the whole log and keeps it",
         {false, true, 0},
         false,
         {Parsed(0, "A B C", "A B C"), Parsed(10, "A", "A", "B C"), Parsed(120, "A B", "A B:Up", "C"),
          Skipped(24 * 60, "A B", "C")}},
        {"LogRankUp off: a returning channel is New, its entry goes, the rest stays for good",
         {false, false, 1},
         false,
         {Parsed(0, "A B C", "A B C"), Parsed(10, "A", "A", "B C"), Parsed(30, "A B", "A B:New", "C"),
          Skipped(24 * 60, "A B:PreNew", "C")}},
        {"channels without an ID are never compared, but are logged and taken back",
         RankMarks,
         false,
         {Parsed(0, "0a 0b A", "0a 0b A"), Parsed(10, "0b 0a A B", "0b 0a A B:New"),
          Parsed(10, "A B", "A:Up B:PreNew", "0b 0a"), Parsed(10, "0c A B", "0c:Up A:Down B:Down", "0a")}},
        {"the list copy leaves out a second record with the same ID and name",
         RankMarks,
         false,
         {Parsed(0, "A 0a 0a", "A 0a 0a"), Parsed(10, "A", "A", "0a")}},
        {"duplicate IDs: a channel is compared with the first previous record of its ID",
         RankMarks,
         false,
         {Parsed(0, "A B A2", "A B A2"), Parsed(10, "B A", "B:Up A:Down")}},
        {"duplicate IDs: each returning channel takes the first log entry of its ID",
         RankMarks,
         false,
         {Parsed(0, "A B A2", "A B A2"), Parsed(10, "B", "B:Up", "A A2"), Parsed(10, "A2 B", "A2:Up B:Down", "A2"),
          Parsed(10, "A2 B A", "A2:Up B A:Down")}},
        {"reload, then a skipped cycle: nothing keeps a mark, the log is empty",
         RankMarks,
         false,
         {Parsed(0, "A B", "A B"), Parsed(10, "C A", "C:New A:Down", "B"), Reloaded(), Skipped(5, "C A"),
          Parsed(10, "C A D", "C A D:New")}},
        {"reload, then parses: nothing new at first, NoNotify2 holds back the second",
         RankMarks,
         true,
         {Parsed(0, "A", "A"), Parsed(10, "A B", "A B"), Parsed(10, "C A", "C:New A:Down", "B"), Reloaded(),
          Parsed(10, "A C", "A C"), Parsed(10, "A C D", "A C D"), Parsed(10, "A C D E", "A C D E:New")}},
    };

    for (const Case& c : cases) {
        m_clock->Set(45000.5);
        YpRecord yp;
        yp.Url = "http://yp.example/";
        yp.NoNotify2 = c.NoNotify2;
        for (std::size_t i = 0; i < c.Steps.size(); ++i) {
            const Step& step = c.Steps[i];
            Run(yp, step, c.Options);
            if (step.What == Step::Reload)
                continue;
            SCOPED_TRACE(testing::Message() << c.Name << ", step " << i + 1);
            EXPECT_EQ(Marks(yp.ChList), step.Marks);
            EXPECT_EQ(Names(yp.ChListLog), step.Log);
            EXPECT_TRUE(yp.ChListPrev.Valid);
        }
    }
}

TEST_F(UpdateYpTest, KeepsThePreviousTextsAndLoggedRecords)
{
    YpRecord yp;
    Run(yp, Parsed(0, "A B", ""), ChangeMarks);
    const DateTime firstParse = Now();

    // The genre moves into the description: the texts differ, the joined text does not.
    Run(yp, Parsed(10, "A+s", ""), ChangeMarks);
    const TkavoChItem& a = yp.ChList[0];
    EXPECT_EQ(a.PrevGenre, "g");
    EXPECT_EQ(a.PrevDescription, "");
    EXPECT_EQ(a.PrevPlaying, "Playing: p");
    EXPECT_EQ(a.PrevComment, "");
    EXPECT_EQ(a.Diff, TkavoDiff::None);

    // The logged record is the previous one as it was, parse time included.
    ASSERT_EQ(yp.ChListLog.Count(), 1);
    EXPECT_EQ(yp.ChListLog[0].ChannelName, "B");
    EXPECT_EQ(yp.ChListLog[0].TimeStamp, firstParse);
    EXPECT_EQ(yp.ChListLog[0].List, &yp.ChListLog);
}

TEST_F(UpdateYpTest, MatchesFavoritesOnEveryRecordEveryCycle)
{
    auto& favorite = m_favorites.Add(std::make_unique<TkavoFavoriteItem>());
    favorite.Enabled = true;
    favorite.Channel = true;
    favorite.Word = "B";
    favorite.ColorEnabled = true;
    favorite.Color = 0x0000FF;

    YpRecord yp;
    Run(yp, Parsed(0, "A B", ""), RankMarks);
    EXPECT_FALSE(yp.ChList[0].Favorite);
    EXPECT_TRUE(yp.ChList[1].Favorite);
    EXPECT_EQ(yp.ChList[1].Color, 0x0000FF);

    // A skipped cycle re-matches the records it still holds against the favorites of now.
    favorite.Word = "A";
    Run(yp, Skipped(5, ""), RankMarks);
    EXPECT_TRUE(yp.ChList[0].Favorite);
    EXPECT_FALSE(yp.ChList[1].Favorite);
    EXPECT_EQ(yp.ChList[1].Color, clWindow);
}

} // namespace
} // namespace kavo
