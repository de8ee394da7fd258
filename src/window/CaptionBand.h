#pragma once
// The caption band of the colour button, shared by the Qt and the Win32
// button: plain arithmetic on pixels, no drawing.

// Height of the caption band: one line per started multiple of the available
// width the caption needs (`textWidth` measured on one line); one line when
// no width is available.
constexpr int CaptionBandHeight(int textWidth, int lineHeight, int availableWidth)
{
    int height = lineHeight;
    // A caption exactly as wide as the space already needs a second line.
    while (textWidth >= availableWidth && availableWidth > 0) {
        textWidth -= availableWidth;
        height += lineHeight;
    }
    return height;
}

// Top of a band `bandHeight` high centred between `top` and `bottom` (the
// first row below the area): each division truncates toward zero.
constexpr int CaptionBandTop(int top, int bottom, int bandHeight)
{
    return (top + bottom) / 2 - bandHeight / 2;
}
