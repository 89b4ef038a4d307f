#pragma once

#include <QColor>

namespace kavo {

// The contrast of two colours as the web's accessibility guidelines measure it: 1 (none) to 21.
double ContrastRatio(const QColor& a, const QColor& b);

// A background light text is read on: the lists of a dark desktop scheme.
bool IsDark(const QColor& background);

// Text of this colour kept readable on the background: a colour that stands out too little is made
// lighter on a dark background and darker on a light one, keeping its hue, until it has the
// minimum contrast (or is white or black). Colours chosen for a light list stay readable on a dark
// desktop this way.
QColor Readable(const QColor& text, const QColor& background, double minimum = 4.5);

} // namespace kavo
