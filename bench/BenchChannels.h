#pragma once

#include "core/TkavoChItem.h"

namespace kavo::bench {

// Channel records filled from a synthetic CP932 index, without the retrieval module's parser.
void FillChannels(TkavoChList& list, int channels, std::uint32_t seed = 1);

} // namespace kavo::bench
