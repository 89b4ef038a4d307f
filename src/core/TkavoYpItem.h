#pragma once

#include "core/TkavoChItem.h"

#include <cstdint>
#include <string>

namespace kavo {

// One configured YP, with the channel lists retrieval keeps for it between cycles.
struct TkavoYpItem : TkavoDataItem
{
    std::string Host = "localhost:7144";
    std::string Title;
    std::string Url;
    bool Enabled = false;
    TkavoChList ChList;
    std::string ChType = "wmv|raw";
    std::string Bitrate = "*";
    bool UTF2SJIS = true;
    std::string Script;
    bool ChatURLFix = false;
    TkavoChList ChListLog;
    TkavoChList ChListPrev;
    std::int32_t PCRawUpdateTime = 0;
    void* PCRawHandle = nullptr; // owned by the retrieval module, not by the record
    TDateTime LastUpdate = 0;
    std::string PCRawChName2 = "^index(_[a-z]+)?\\.txt$";
    std::string PCRawChIP;
    std::int32_t PCRawLastError = 0;
    bool NoNotify2 = false;
    std::int32_t SuccessCount = 0;

    void Assign(const TkavoDataItem& source) override;
};

class TkavoYpList : public TkavoTypedList<TkavoYpItem>
{
public:
    // Exact, case-sensitive comparison; -1 when no YP has this Url.
    int IndexOfUrl(const std::string& url) const;
    bool HasUrl(const std::string& url) const { return IndexOfUrl(url) >= 0; }
};

} // namespace kavo
