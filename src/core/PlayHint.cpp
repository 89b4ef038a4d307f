#include "core/PlayHint.h"

#include "platform/Cp932.h"

#include <algorithm>
#include <charconv>

namespace kavo {

namespace {

enum class Family : std::uint8_t {
    Unknown,
    V4,
    V6
};

// The family of the tracker address a stream URL names ("...?tip=host:port"); Unknown when it
// names none or a host name.
Family TipFamily(std::string_view url)
{
    std::size_t at = url.find("?tip=");
    if (at == std::string_view::npos)
        at = url.find("&tip=");
    if (at == std::string_view::npos)
        return Family::Unknown;
    std::string_view tip = url.substr(at + 5);
    tip = tip.substr(0, tip.find('&'));
    if (tip.starts_with('[') || std::count(tip.begin(), tip.end(), ':') > 1)
        return Family::V6;
    const std::string_view host = tip.substr(0, tip.find(':'));
    const bool dotted = !host.empty() && std::all_of(host.begin(), host.end(),
                                                     [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
    return dotted ? Family::V4 : Family::Unknown;
}

// "0", "0 kbps": a bitrate of zero, with or without its unit.
bool IsZero(std::string_view bitrate)
{
    while (!bitrate.empty() && bitrate.front() == ' ')
        bitrate.remove_prefix(1);
    int value = -1;
    const auto [end, error] = std::from_chars(bitrate.data(), bitrate.data() + bitrate.size(), value);
    const bool whole = end == bitrate.data() + bitrate.size() || *end == ' ' || (*end >= 'A' && *end <= 'z');
    return error == std::errc() && whole && value == 0;
}

} // namespace

IpFamilies IpFamiliesOf(int setting)
{
    return setting == 1 ? IpFamilies::Both : setting == 2 ? IpFamilies::V6Only : IpFamilies::V4Only;
}

PlayHint PlayHintOf(const TkavoChItem& channel, IpFamilies local)
{
    if (!channel.HasHash())
        return PlayHint::None;
    if (IsZero(channel.Bitrate) || Cp932AsciiLower(channel.Type) == "unknown")
        return PlayHint::NotReady;
    const Family tip = TipFamily(channel.StreamURL);
    if (tip == Family::V6 && local == IpFamilies::V4Only)
        return PlayHint::Ipv6Only;
    if (tip == Family::V4 && local == IpFamilies::V6Only)
        return PlayHint::Ipv4Only;
    if (channel.Listeners < 0)
        return PlayHint::ListenersHidden;
    return PlayHint::None;
}

std::string_view PlayHintName(PlayHint hint)
{
    switch (hint) {
    case PlayHint::None:
        return "";
    case PlayHint::NotReady:
        return "not_ready";
    case PlayHint::Ipv6Only:
        return "ipv6_only";
    case PlayHint::Ipv4Only:
        return "ipv4_only";
    case PlayHint::ListenersHidden:
        return "listeners_hidden";
    }
    return "";
}

std::string PlayHintTip(PlayHint hint)
{
    switch (hint) {
    case PlayHint::None:
        return {};
    case PlayHint::NotReady:
        return Sjis("配信元がまだつながっていません (0 kbps または種別 UNKNOWN)");
    case PlayHint::Ipv6Only:
        return Sjis("IPv6 のアドレスでしか届きません。PeerCast本体は IPv4 だけです");
    case PlayHint::Ipv4Only:
        return Sjis("IPv4 のアドレスでしか届きません。PeerCast本体は IPv6 だけです");
    case PlayHint::ListenersHidden:
        return Sjis("リスナー数が隠されています (-1)。リレーを断られることがあります");
    }
    return {};
}

} // namespace kavo
