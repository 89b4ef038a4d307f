#include "net/RelayUpkeep.h"

#include <gtest/gtest.h>

#include <memory>

namespace kavo {
namespace {

constexpr double Minute = 1.0 / (24.0 * 60.0);

struct Relay
{
    const char* Id;
    int Listeners;
    const char* Status = "RECEIVE";
};

// The upkeep sees a status read of these relays at the time.
void Read(RelayUpkeep& upkeep, std::initializer_list<Relay> relays, DateTime at)
{
    TkavoChList list;
    for (const Relay& relay : relays) {
        auto& channel = list.Add(std::make_unique<TkavoChItem>());
        channel.Hash = relay.Id;
        channel.Listeners = relay.Listeners;
        channel.LocalStatus = relay.Status;
    }
    upkeep.Observe(list, at);
}

TEST(RelayUpkeepTest, ChoosesExactlyTheRelaysUnwatchedForTheLimit)
{
    RelayUpkeep upkeep(30);
    const DateTime start = 46000.0;
    Read(upkeep, {{"idle", 0}, {"watched", 2}, {"mine", 0, "BROADCAST"}, {"back", 0}, {"played", 0}}, start);
    upkeep.Played("played", start + 20 * Minute);
    Read(upkeep,
         {{"idle", 0}, {"watched", 2}, {"mine", 0, "BROADCAST"}, {"back", 1}, {"played", 0}, {"new", 0, "IDLE"}},
         start + 25 * Minute);
    EXPECT_TRUE(upkeep.Unwatched(start + 29 * Minute).empty()) << "not yet for any";

    Read(upkeep,
         {{"idle", 0}, {"watched", 2}, {"mine", 0, "BROADCAST"}, {"back", 0}, {"played", 0}, {"new", 0, "IDLE"}},
         start + 30 * Minute);
    // "back" had a listener at 25 minutes and starts again; "new" came at 25; "played" was played
    // at 20; a broadcast and a watched relay never count.
    EXPECT_EQ(upkeep.Unwatched(start + 30 * Minute), std::vector<std::string>{"idle"});
    EXPECT_EQ(upkeep.Unwatched(start + 55 * Minute), (std::vector<std::string>{"idle", "played", "new"}));

    Read(upkeep, {{"back", 0}}, start + 60 * Minute);
    EXPECT_EQ(upkeep.Unwatched(start + 60 * Minute), std::vector<std::string>{"back"}) << "gone relays are forgotten";
}

} // namespace
} // namespace kavo
