#pragma once

#include "core/TkavoChItem.h"

#include <vector>

namespace kavo {

// Clears target and appends a deep copy of every record of the sources, in order: the same result
// as Clear followed by one AddFrom per source. With unique, a record is left out when target
// already holds one with the same Hash and ChannelName (the first one wins). One look-up table
// serves the whole merge, so merging YPs of n channels in all costs O(n).
void MergeChannelLists(TkavoChList& target, const std::vector<const TkavoChList*>& sources, bool unique);

} // namespace kavo
