#pragma once

#include "core/TkavoChItem.h"
#include "platform/DateTime.h"
#include "settings/TkavoSetting.h"

namespace kavo {

class HistoryStore;

// The channels of the last fetch of every configured, enabled YP, as the history kept their
// indexes: parsed with today's YP entries and favorites, in configuration order, without change
// marks. Returns the time of the newest index, 0 when there is none (the list is then empty).
DateTime LoadLastList(HistoryStore& history, const TkavoSetting& setting, TkavoChList& list);

} // namespace kavo
