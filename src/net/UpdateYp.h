#pragma once

#include "core/FavoriteMatcher.h"
#include "core/TkavoYpItem.h"
#include "platform/DateTime.h"
#include "settings/TkavoSetting.h"

#include <string>

namespace kavo {

class RegularExpression;

// The options of the Notify section that steer change marks, the log and the previous list.
struct UpdateOptions
{
    bool RankUpOrDown2None = true;
    bool LogRankUp = true;
    int LogRangeHour = 1; // 0 or less: the log counts back forever and never expires
    bool Unique = true;   // the previous list leaves out a second record with the same ID and name

    static UpdateOptions From(const TkavoSetting::NotifyOptions& notify);
};

// What a YP's update reads besides the YP itself. The regular-expression object and the matcher
// (the cycle's snapshot of the favorites and of the bulletin-board pattern) are the calling
// thread's own.
struct UpdateContext
{
    UpdateOptions Options;
    const FavoriteMatcher& Favorites;
    RegularExpression& RegExp;
    DateTime Now = 0;
};

// Compares the YP's ChList with the list of its previous cycle and keeps its log of ended channels:
// favorite marks, change marks (Diff and the Prev* texts), ended channels appended to ChListLog,
// returning channels taken out of it, expiry, and finally ChListPrev := ChList (the list copy's
// result, its uniqueness rule taken from Options.Unique). Runs also when the YP was skipped or
// failed, which ages the marks of the records it still holds.
void UpdateYp(YpRecord& yp, const UpdateContext& context);

} // namespace kavo
