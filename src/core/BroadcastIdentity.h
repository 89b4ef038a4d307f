#pragma once

#include "core/TkavoChItem.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kavo {

// A channel text as two listings of one broadcast may spell it differently: character references
// decoded (the six entities of the lists and numeric ones), letters folded to lower case
// (full-width Latin letters and digits to their ASCII forms), and every run of blanks (ASCII,
// full-width, no-break) made one space, none at either end. CP932 in and out.
std::string FoldBroadcastText(std::string_view cp932);

// What makes listings the same broadcast: the folded name and contact URL. The channel ID is no
// part of it, since a server gives a new one whenever the broadcaster reconnects.
struct BroadcastKey
{
    std::string Name;
    std::string Contact;

    static BroadcastKey Of(const TkavoChItem& channel);
    bool operator==(const BroadcastKey&) const = default;
};

struct BroadcastKeyHash
{
    std::size_t operator()(const BroadcastKey& key) const;
};

// Gives listings that are one broadcast the same group number, counting from 0 in the order the
// groups first appear. Equal keys are one broadcast; so are an equal channel ID and an equal
// folded name, for a broadcaster who changed the contact URL while on air.
class BroadcastGroups
{
public:
    std::size_t GroupOf(const TkavoChItem& channel);
    std::size_t GroupOf(const TkavoChItem& channel, const BroadcastKey& key);
    std::size_t Count() const { return m_count; }

private:
    std::unordered_map<BroadcastKey, std::size_t, BroadcastKeyHash> m_byKey;
    // By channel ID: the group and the folded name it was seen with.
    std::unordered_map<std::string, std::pair<std::size_t, std::string>> m_byHash;
    std::size_t m_count = 0;
};

// The listings of a list by broadcast, in the order the broadcasts first appear; within one, by
// rank (lowest first; the list's order among equals), so that the first is the one to show and play.
std::vector<std::vector<const TkavoChItem*>> GroupBroadcasts(const TkavoChList& list,
                                                             const std::function<int(const TkavoChItem&)>& rank);

} // namespace kavo
