#pragma once

#include "core/Color.h"
#include "core/TkavoData.h"

#include <string>

namespace kavo {

// The user's rule for marking channels: a word, the fields it is searched in, and the marks.
struct TkavoFavoriteFields
{
    bool Description = false;
    bool RegExp = false;
    std::string Title;
    bool Channel = false;
    bool Enabled = false;
    std::string Word;
    std::string FileName;
    TColor Color = clWindow;
    bool ColorEnabled = false;
    bool ListDisable = false;
    bool StreamURL = false;
    bool YpAddr = false;
    bool ContactURL = false;
    bool Comment = false;
    bool ChType = false;
    bool Listeners = false;
    bool Bitrate = false;
    bool YpLike = false;
    bool NotNotify = false;
    bool ColorTextEnabled = false;
    TColor ColorText = clWindowText;

    bool operator==(const TkavoFavoriteFields&) const = default;
};

struct TkavoFavoriteItem : TkavoDataItem, TkavoFavoriteFields
{
    void Assign(const TkavoDataItem& source) override;
};

class TkavoFavoriteList : public TkavoTypedList<TkavoFavoriteItem>
{
public:
    bool Valid = false;
    void Assign(const TkavoDataList& source) override;
};

} // namespace kavo
