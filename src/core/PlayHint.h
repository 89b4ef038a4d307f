#pragma once

#include "core/TkavoChItem.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kavo {

// Why a listed channel will probably not play, before anyone tries.
enum class PlayHint : std::uint8_t {
    None,
    NotReady,        // listed at 0 kbps or of type UNKNOWN: its source has not connected yet
    Ipv6Only,        // reached through an IPv6 address, and the local server has IPv4 only
    Ipv4Only,        // reached through an IPv4 address, and the local server has IPv6 only
    ListenersHidden, // the broadcaster hides the listeners (-1): relays are often refused
};

// The address families the local PeerCast server reaches (URL/LocalIPFamily).
enum class IpFamilies : std::uint8_t {
    V4Only = 0,
    Both = 1,
    V6Only = 2,
};
IpFamilies IpFamiliesOf(int setting);

// The first reason that applies, in the order of the enumeration; None for a line without a
// channel ID.
PlayHint PlayHintOf(const TkavoChItem& channel, IpFamilies local);

// "not_ready", "ipv6_only", "ipv4_only", "listeners_hidden"; "" for None. Stable: scripts read it.
std::string_view PlayHintName(PlayHint hint);
// A line for a tip (CP932); "" for None.
std::string PlayHintTip(PlayHint hint);

} // namespace kavo
