#pragma once
#include <QColor>

#include <cstdint>

// Colours are kept as 0x00BBGGRR values, red in the lowest byte.
using COLORREF = std::uint32_t;

constexpr COLORREF Rgb(int r, int g, int b)
{
    return static_cast<COLORREF>(r & 0xFF) | (static_cast<COLORREF>(g & 0xFF) << 8) |
           (static_cast<COLORREF>(b & 0xFF) << 16);
}

inline QColor ToQColor(COLORREF c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}
