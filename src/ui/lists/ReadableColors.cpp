#include "ui/lists/ReadableColors.h"

#include <algorithm>
#include <cmath>

namespace kavo {

namespace {

double Channel(double value)
{
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& color)
{
    return 0.2126 * Channel(color.redF()) + 0.7152 * Channel(color.greenF()) + 0.0722 * Channel(color.blueF());
}

} // namespace

double ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool IsDark(const QColor& background)
{
    // Where black and white text have the same contrast.
    return Luminance(background) < 0.18;
}

QColor Readable(const QColor& text, const QColor& background, double minimum)
{
    if (ContrastRatio(text, background) >= minimum)
        return text;
    const bool darkBackground = IsDark(background);
    const QColor hsl = text.toHsl();
    const int hue = hsl.hslHue();
    const int saturation = hsl.hslSaturation();
    int lightness = hsl.lightness();
    const int step = darkBackground ? 8 : -8;
    QColor candidate = text;
    while (ContrastRatio(candidate, background) < minimum) {
        lightness += step;
        if (lightness >= 255 || lightness <= 0)
            return darkBackground ? QColor(Qt::white) : QColor(Qt::black);
        candidate = QColor::fromHsl(hue, saturation, lightness);
    }
    return candidate;
}

} // namespace kavo
