#pragma once

#include "settings/ukavoConfig.h"

namespace kavo {

class TkavoListView;

// Gives a channel list the colours, grid lines and text font of a look: the background and text
// colours, the text font's face (kept when the name is empty) and size (kept when not positive).
// The view keeps a copy of the look for its link colours and grid lines.
void ApplyListLook(TkavoListView& view, const TkavoSetting::ColorFontOptions& look, const TkavoFont& textFont);

} // namespace kavo
