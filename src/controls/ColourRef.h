#pragma once
#include "window/WindowColours.h"

#include <QColor>

#include <algorithm>
#include <cmath>
#include <cstdint>

// The platform the design comes from calls the 0x00BBGGRR values so.
using COLORREF = ColourValue;

inline QColor ToQColor(COLORREF c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

// Contrast of two colours as WCAG defines it: 1 (none) to 21 (black on white).
inline double ContrastRatio(const QColor& a, const QColor& b)
{
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
