#pragma once

#include "core/TkavoChItem.h"

#include <cstdint>
#include <string>

namespace kavo {

// What the user configures for one YP: the values of its [YP] entry.
struct YpFields
{
    std::string Host = "localhost:7144";
    std::string Title;
    std::string Url;
    bool Enabled = false;
    std::string ChType = "wmv|raw";
    std::string Bitrate = "*";
    bool UTF2SJIS = true;
    std::string Script;
    bool ChatURLFix = false;
    std::string PCRawChName2 = "^index(_[a-z]+)?\\.txt$";
    std::string PCRawChIP;
    bool NoNotify2 = false;

    bool operator==(const YpFields&) const = default;
};

// One configured YP, as the settings hold it.
struct TkavoYpItem : TkavoDataItem, YpFields
{
    void Assign(const TkavoDataItem& source) override;
};

struct ChannelFilterCounts
{
    int Listed = 0;
    int HiddenByType = 0;
    int HiddenByBitrate = 0;
};

// The retrieval's record of one YP: its configuration as the running cycle sees it, and the lists
// and marks the retrieval keeps for it from one cycle to the next. Owned by the retrieval module.
struct YpRecord : TkavoYpItem
{
    TkavoChList ChList;
    TkavoChList ChListLog;
    TkavoChList ChListPrev;
    std::int32_t PCRawUpdateTime = 0;
    void* PCRawHandle = nullptr; // owned by the retrieval module's PCRaw library
    DateTime LastUpdate = 0;
    std::int32_t PCRawLastError = 0;
    std::int32_t SuccessCount = 0;
    // What the last parse of the index hid: channel lines in it, and those the type or the bitrate
    // filter left out.
    ChannelFilterCounts Filtered;

    void Assign(const TkavoDataItem& source) override;
};

class TkavoYpList : public TypedList<TkavoYpItem>
{
public:
    // Exact, case-sensitive comparison; -1 when no YP has this Url.
    int IndexOfUrl(const std::string& url) const;
    bool HasUrl(const std::string& url) const { return IndexOfUrl(url) >= 0; }
};

} // namespace kavo
