#include "notify/IgnoredChannels.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kavo {
namespace {

TkavoChItem& Add(TkavoChList& list, const std::string& hash, const std::string& name)
{
    auto& channel = list.Add(std::make_unique<TkavoChItem>());
    channel.Hash = hash;
    channel.ChannelName = name;
    return channel;
}

const std::string HashA(32, 'A');
const std::string HashB(32, 'B');

// A channel stays ignored while a refresh lists it, by its ID (or its name without one), and is
// announced again once a refresh no longer lists it.
TEST(IgnoredChannels, LastWhileTheChannelStaysOnAir)
{
    IgnoredChannels ignored;
    ignored.Add({HashA, "a", "", ""});
    ignored.Add({NoHash, "nameless", "", ""});

    TkavoChList onAir;
    const TkavoChItem& renamed = Add(onAir, HashA, "a renamed");
    const TkavoChItem& nameless = Add(onAir, NoHash, "nameless");
    const TkavoChItem& other = Add(onAir, HashB, "a");
    const TkavoChItem& otherNameless = Add(onAir, NoHash, "another");
    ignored.KeepOnAir(onAir);
    EXPECT_TRUE(ignored.Contains(renamed)) << "the ID, not the name, names a channel";
    EXPECT_TRUE(ignored.Contains(nameless));
    EXPECT_FALSE(ignored.Contains(other));
    EXPECT_FALSE(ignored.Contains(otherNameless));

    TkavoChList later;
    Add(later, NoHash, "nameless");
    ignored.KeepOnAir(later);
    EXPECT_FALSE(ignored.Contains(renamed)) << "ended: its next broadcast is announced";
    EXPECT_TRUE(ignored.Contains(nameless));

    TkavoChList back;
    const TkavoChItem& returned = Add(back, HashA, "a");
    ignored.KeepOnAir(back);
    EXPECT_FALSE(ignored.Contains(returned));
    EXPECT_TRUE(ignored.Empty());
}

} // namespace
} // namespace kavo
