#include "core/PlayHint.h"

#include <gtest/gtest.h>

#include <array>

namespace kavo {
namespace {

struct HintCase
{
    const char* Name;
    std::string Bitrate;
    std::string Type;
    std::string StreamUrl;
    int Listeners;
    IpFamilies Local;
    std::string_view Expected;
};

TEST(PlayHintTest, TheFirstReasonThatAppliesNamesTheHint)
{
    const std::string v4 = "http://localhost:7144/pls/0123456789ABCDEF0123456789ABCDEF?tip=192.0.2.1:7144";
    const std::string v6 = "http://localhost:7144/pls/0123456789ABCDEF0123456789ABCDEF?tip=[2001:db8::1]:7144";
    const std::string named = "http://localhost:7144/pls/0123456789ABCDEF0123456789ABCDEF?tip=pc.example.jp:7144";
    const std::array<HintCase, 11> cases{{
        {"playable", "500 kbps", "FLV", v4, 3, IpFamilies::V4Only, ""},
        {"0 kbps", "0 kbps", "FLV", v4, 3, IpFamilies::V4Only, "not_ready"},
        {"type UNKNOWN", "500", "unknown", v4, 3, IpFamilies::V4Only, "not_ready"},
        {"not ready wins over the family", "0", "FLV", v6, -1, IpFamilies::V4Only, "not_ready"},
        {"IPv6 tip, IPv4 server", "500", "FLV", v6, 3, IpFamilies::V4Only, "ipv6_only"},
        {"bare IPv6 tip, IPv4 server", "500", "FLV", "http://h/pls/x?tip=2001:db8::1", 3, IpFamilies::V4Only,
         "ipv6_only"},
        {"IPv6 tip, server with both", "500", "FLV", v6, 3, IpFamilies::Both, ""},
        {"IPv4 tip, IPv6 server", "500", "FLV", v4, 3, IpFamilies::V6Only, "ipv4_only"},
        {"a host name tells no family", "500", "FLV", named, 3, IpFamilies::V6Only, ""},
        {"hidden listeners", "500", "FLV", v4, -1, IpFamilies::V4Only, "listeners_hidden"},
        {"no tip at all", "500", "FLV", "", 0, IpFamilies::V6Only, ""},
    }};
    for (const HintCase& c : cases) {
        TkavoChItem channel;
        channel.Hash = "0123456789ABCDEF0123456789ABCDEF";
        channel.Bitrate = c.Bitrate;
        channel.Type = c.Type;
        channel.StreamURL = c.StreamUrl;
        channel.Listeners = c.Listeners;
        const PlayHint hint = PlayHintOf(channel, c.Local);
        EXPECT_EQ(PlayHintName(hint), c.Expected) << c.Name;
        EXPECT_EQ(PlayHintTip(hint).empty(), c.Expected.empty()) << c.Name;
    }
}

TEST(PlayHintTest, AYpInformationLineHasNoHint)
{
    TkavoChItem line;
    line.Hash = NoHash;
    line.Bitrate = "0";
    line.Listeners = -1;
    EXPECT_EQ(PlayHintOf(line, IpFamilies::V4Only), PlayHint::None);
}

} // namespace
} // namespace kavo
