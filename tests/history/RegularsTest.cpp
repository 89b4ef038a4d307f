// Who usually broadcasts at an hour, from a history recorded through the store as refreshes are.
#include "history/RegularsFixture.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>

namespace kavo::test {
namespace {

TEST(WeekTimeTest, ReadsWhatPeopleType)
{
    const DateTime friday = RegularsFixture::Friday;
    struct Case
    {
        const char* Text;
        std::optional<WeekTime> At;
    };
    const std::array<Case, 9> cases = {{
        {"Fri 21:00", WeekTime{5, 21 * 60}},
        {"wednesday 9:30", WeekTime{3, 9 * 60 + 30}},
        {"金 21:00", WeekTime{5, 21 * 60}},
        {"日曜日 0:05", WeekTime{0, 5}},
        {"21:15", WeekTime{5, 21 * 60 + 15}}, // today's weekday
        {"Fr 21:00", std::nullopt},
        {"Fri 24:00", std::nullopt},
        {"Fri 21:5", std::nullopt},
        {"Fri", std::nullopt},
    }};
    for (const Case& c : cases)
        EXPECT_EQ(ParseWeekTime(c.Text, friday + 0.5), c.At) << c.Text;
    EXPECT_EQ(WeekTimeText({5, 21 * 60}), "Fri 21:00");
    EXPECT_EQ(WeekTimeOf(friday + 21.5 / 24), (WeekTime{5, 21 * 60 + 30}));
}

TEST(WeekTimeTest, TheMomentIsTheFirstWhoseWindowIsStillOpen)
{
    const DateTime friday = RegularsFixture::Friday;
    const WeekTime at{5, 21 * 60};
    EXPECT_DOUBLE_EQ(RegularsMoment(at, friday + 10.0 / 24), friday + 21.0 / 24);
    EXPECT_DOUBLE_EQ(RegularsMoment(at, friday + 21.9 / 24), friday + 21.0 / 24);
    EXPECT_DOUBLE_EQ(RegularsMoment(at, friday + 22.1 / 24), friday + 7 + 21.0 / 24);
    EXPECT_DOUBLE_EQ(RegularsMoment(at, friday - 1), friday + 21.0 / 24);
}

class RegularsTest : public ::testing::Test, public RegularsFixture
{
protected:
    void SetUp() override
    {
        std::string name = (std::filesystem::temp_directory_path() / "kavo-regulars-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        folder = name;
    }
    void TearDown() override
    {
        store.reset();
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }
    HistoryStore& Store()
    {
        if (!store)
            store = std::make_unique<HistoryStore>((folder / HistoryStore::FileName).string());
        return *store;
    }
    void Seed() { ASSERT_EQ(RegularsFixture::Seed(Store()), ""); }

    std::filesystem::path folder;
    std::unique_ptr<HistoryStore> store;
};

TEST_F(RegularsTest, FindsTheRegularsOfAnHour)
{
    Seed();
    struct Expected
    {
        const char* Name;
        int Weeks;
        int Start;  // minutes after midnight of the usual start
        int Length; // minutes
        bool OnAir;
    };
    struct Case
    {
        const char* At;
        int Weeks;
        int MinWeeks;
        std::vector<Expected> Rows;
    };
    const std::array<Case, 4> cases = {{
        {"Fri 21:00",
         4,
         2,
         {{"moved", 4, 21 * 60, 60, false}, {"friday", 4, 21 * 60 + 5, 150, false}, {"nowon", 3, 21 * 60, 60, true}}},
        {"Fri 21:00",
         2,
         2,
         {{"nowon", 2, 21 * 60, 60, true}, {"friday", 2, 21 * 60 + 9, 150, false}, {"moved", 2, 22 * 60, 60, false}}},
        {"Wed 21:00", 4, 2, {}},
        {"Wed 21:00", 4, 1, {{"wednesday", 1, 21 * 60, 120, false}}},
    }};
    for (const Case& c : cases) {
        RegularsRequest request;
        request.Now = Now;
        request.At = ParseWeekTime(c.At, Now);
        request.Weeks = c.Weeks;
        request.MinWeeks = c.MinWeeks;
        const RegularsReport report = Store().Regulars(request);
        SCOPED_TRACE(std::string(c.At) + " weeks " + std::to_string(c.Weeks) + " k " + std::to_string(c.MinWeeks));
        ASSERT_EQ(report.Rows.size(), c.Rows.size());
        for (std::size_t i = 0; i < c.Rows.size(); ++i) {
            const Regular& r = report.Rows[i];
            const Expected& e = c.Rows[i];
            EXPECT_EQ(r.ChannelName, e.Name);
            EXPECT_EQ(r.Weeks, e.Weeks) << e.Name;
            EXPECT_EQ(MinuteOfDay(r.UsualStart), e.Start) << e.Name;
            EXPECT_EQ(Minutes(r.UsualLength), e.Length) << e.Name;
            EXPECT_EQ(r.OnAir, e.OnAir) << e.Name;
            EXPECT_EQ(r.Genre, std::string(e.Name) + " genre") << e.Name;
        }
    }
}

TEST_F(RegularsTest, LateExactlyHalfAnHourAfterTheUsualStart)
{
    Seed();
    // The Friday regular usually starts at 21:05 and has not come; the moved one's median start is
    // 21:00. The one on air is never late.
    const auto late = [&](DateTime now) {
        RegularsRequest request;
        request.Now = now;
        std::vector<std::string> names;
        for (const Regular& r : Store().Regulars(request).Rows)
            if (r.Late)
                names.push_back(r.ChannelName);
        return names;
    };
    const DateTime due = Friday + (21 * 60 + 35) / MinutesPerDay;
    EXPECT_EQ(late(due - 1 / SecondsPerDay), std::vector<std::string>{"moved"});
    EXPECT_EQ(late(due), (std::vector<std::string>{"moved", "friday"}));
    EXPECT_EQ(late(Friday + 23.4 / 24), std::vector<std::string>{"friday"});
    // Past its usual end it is no longer late, only absent.
    EXPECT_EQ(late(Friday + 23.6 / 24), std::vector<std::string>{});
}

TEST_F(RegularsTest, AnEmptyOrMissingHistoryHasNoRegulars)
{
    RegularsRequest request;
    request.Now = Now;
    request.Weeks = 99;
    const RegularsReport report = Store().Regulars(request);
    EXPECT_TRUE(report.Rows.empty());
    EXPECT_EQ(report.Weeks, regulars::MaxWeeks);
    EXPECT_DOUBLE_EQ(report.Moment, Now);
}

} // namespace
} // namespace kavo::test
