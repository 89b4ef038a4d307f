#include "core/TkavoYpItem.h"

namespace kavo {

void TkavoYpItem::Assign(const TkavoDataItem& source)
{
    if (const auto* yp = dynamic_cast<const TkavoYpItem*>(&source); yp && yp != this) {
        Enabled = yp->Enabled;
        Title = yp->Title;
        Url = yp->Url;
        Host = yp->Host;
        Bitrate = yp->Bitrate;
        ChType = yp->ChType;
        Script = yp->Script;
        UTF2SJIS = yp->UTF2SJIS;
        ChatURLFix = yp->ChatURLFix;
        PCRawHandle = yp->PCRawHandle;
        PCRawUpdateTime = yp->PCRawUpdateTime;
        PCRawChName2 = yp->PCRawChName2;
        PCRawChIP = yp->PCRawChIP;
        PCRawLastError = yp->PCRawLastError;
        NoNotify2 = yp->NoNotify2;
        LastUpdate = yp->LastUpdate;
        SuccessCount = yp->SuccessCount;
        ChList.Assign(yp->ChList);
        ChListPrev.Assign(yp->ChListPrev);
        ChListLog.Assign(yp->ChListLog);
    }
    TkavoDataItem::Assign(source);
}

int TkavoYpList::IndexOfUrl(const std::string& url) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i).Url == url)
            return i;
    return -1;
}

} // namespace kavo
