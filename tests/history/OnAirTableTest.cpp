#include "history/OnAirTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>

namespace kavo::test {
namespace {

// Keys whose hashes crowd into a few home slots at the end of the table, so that probe runs are
// long and wrap around: every removal has entries to shift back, some across the end.
std::uint64_t CrowdedHash(std::int64_t key)
{
    return 0x1000 * static_cast<std::uint64_t>(key) + 13 + static_cast<std::uint64_t>(key % 4);
}

TEST(OnAirTableTest, FindsWhatIsLeftAfterRemovalsInCrowdedRuns)
{
    OnAirTable table;
    std::set<std::int64_t> model;
    std::mt19937 random(7);
    std::int64_t next = 1;
    const auto find = [&](std::int64_t key) {
        return table.Find(CrowdedHash(key), [&](const OnAirTable::Entry& e) { return e.Id == key; });
    };
    for (int round = 0; round < 300; ++round) {
        const int adds = static_cast<int>(random() % 6);
        for (int i = 0; i < adds; ++i) {
            const std::int64_t key = next++;
            table.Add(CrowdedHash(key)).Id = key;
            model.insert(key);
        }
        const std::set<std::int64_t> before = model;
        std::set<std::int64_t> seen;
        table.EraseIf([&](const OnAirTable::Entry& e) {
            seen.insert(e.Id);
            // The same entry may be asked twice: the answer must not change.
            const bool keep =
                (static_cast<std::uint64_t>(e.Id) * 2654435761u + static_cast<std::uint64_t>(round)) % 3 != 0;
            if (!keep)
                model.erase(e.Id);
            return keep;
        });
        ASSERT_EQ(seen, before) << "round " << round;
        ASSERT_EQ(table.Size(), model.size()) << "round " << round;
        for (const std::int64_t key : model)
            ASSERT_NE(find(key), nullptr) << "key " << key << " round " << round;
        for (std::int64_t key = 1; key < next; ++key) {
            if (!model.contains(key)) {
                ASSERT_EQ(find(key), nullptr) << "key " << key << " round " << round;
            }
        }
    }
}

} // namespace
} // namespace kavo::test
