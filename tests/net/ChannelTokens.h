#pragma once

#include "core/TkavoChItem.h"

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

namespace kavo::test {

// A YP index written as tokens in rank order, e.g. "A B+d 0x":
//   "A"   a channel with the ID of letter A, named "A"; "A2" another channel with A's ID, named "A2";
//   "0x"  a channel without an ID (the all-zero one), named "0x";
//   "+d", "+p", "+c" give it another description, playing text or comment; "+s" moves its genre
//   into the description, which leaves the joined "[genre]" text as it was.
inline std::string TokenHash(const std::string& name)
{
    if (name.starts_with('0'))
        return NoHash;
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(name.front()));
    return std::string(30, '0') + hex;
}

inline void FillFromTokens(TkavoChList& list, const std::string& tokens, DateTime timeStamp)
{
    std::istringstream in(tokens);
    std::string token;
    int no = 0;
    while (in >> token) {
        auto channel = std::make_unique<TkavoChItem>();
        const std::size_t plus = token.find('+');
        const std::string name = token.substr(0, plus);
        const char change = plus == std::string::npos ? '\0' : token.at(plus + 1);
        channel->No = ++no;
        channel->ChannelName = name;
        channel->Hash = TokenHash(name);
        channel->Genre = change == 's' ? "" : "g";
        channel->Description = change == 's' ? "g" : change == 'd' ? "other" : "";
        channel->Playing = change == 'p' ? "Playing: other" : "Playing: p";
        channel->Comment = change == 'c' ? "other" : "";
        channel->TimeStamp = timeStamp;
        list.Add(std::move(channel));
    }
}

inline const char* DiffName(TkavoDiff diff)
{
    static const char* const names[] = {"None", "Up", "Down", "PreNew", "New", "Change", "Idle", "Relaying", "Playing"};
    return names[static_cast<int>(diff)];
}

// "A B:Up C:New": the channels in list order, each with its mark unless it is None.
inline std::string Marks(const TkavoChList& list)
{
    std::string text;
    for (const TkavoChItem& channel : list) {
        if (!text.empty())
            text += ' ';
        text += channel.ChannelName;
        if (channel.Diff != TkavoDiff::None)
            text += std::string(":") + DiffName(channel.Diff);
    }
    return text;
}

inline std::string Names(const TkavoChList& list)
{
    std::string text;
    for (const TkavoChItem& channel : list) {
        if (!text.empty())
            text += ' ';
        text += channel.ChannelName;
    }
    return text;
}

} // namespace kavo::test
