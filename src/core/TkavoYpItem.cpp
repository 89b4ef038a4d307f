#include "core/TkavoYpItem.h"

namespace kavo {

void TkavoYpItem::Assign(const TkavoDataItem& source)
{
    if (const auto* yp = dynamic_cast<const TkavoYpItem*>(&source); yp && yp != this)
        static_cast<YpFields&>(*this) = *yp;
    TkavoDataItem::Assign(source);
}

void YpRecord::Assign(const TkavoDataItem& source)
{
    TkavoYpItem::Assign(source);
    if (const auto* yp = dynamic_cast<const YpRecord*>(&source); yp && yp != this) {
        PCRawHandle = yp->PCRawHandle;
        PCRawUpdateTime = yp->PCRawUpdateTime;
        PCRawLastError = yp->PCRawLastError;
        LastUpdate = yp->LastUpdate;
        SuccessCount = yp->SuccessCount;
        Filtered = yp->Filtered;
        ChList.Assign(yp->ChList);
        ChListPrev.Assign(yp->ChListPrev);
        ChListLog.Assign(yp->ChListLog);
    }
}

int TkavoYpList::IndexOfUrl(const std::string& url) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i).Url == url)
            return i;
    return -1;
}

} // namespace kavo
