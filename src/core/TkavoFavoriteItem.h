#pragma once

#include "core/Color.h"
#include "core/TkavoData.h"

#include <string>

namespace kavo {

// The user's rule for marking channels: a word, the fields it is searched in, and the marks.
struct FavoriteFields
{
    bool Description = false;
    bool RegExp = false;
    std::string Title;
    bool Channel = false;
    bool Enabled = false;
    std::string Word;
    std::string FileName;
    ColorValue Color = clWindow;
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
    ColorValue ColorText = clWindowText;

    bool operator==(const FavoriteFields&) const = default;
};

struct TkavoFavoriteItem : TkavoDataItem, FavoriteFields
{
    void Assign(const TkavoDataItem& source) override;
};

class TkavoFavoriteList : public TypedList<TkavoFavoriteItem>
{
public:
    bool Valid = false;
    void Assign(const TkavoDataList& source) override;
};

} // namespace kavo
