#pragma once
// Every colour of the two windows, written once: the dialogs' schemes, the
// message and folder lines, and the colour button's states.
#include <cstdint>
#include <optional>

// Colours are 0x00BBGGRR values, red in the lowest byte.
using ColourValue = std::uint32_t;

constexpr ColourValue Rgb(int r, int g, int b)
{
    return static_cast<ColourValue>(r & 0xFF) | (static_cast<ColourValue>(g & 0xFF) << 8) |
           (static_cast<ColourValue>(b & 0xFF) << 16);
}

// A dialog's background (its brush and the text background of statics) and
// the text colour of its statics.
struct DialogScheme {
    ColourValue background;
    ColourValue text;
};

// The alternative scheme exists but nothing switches to it.
constexpr DialogScheme SchemeColours(bool altScheme)
{
    return altScheme == true ? DialogScheme{Rgb(0, 0, 0), Rgb(192, 192, 192)}
                             : DialogScheme{Rgb(85, 85, 85), Rgb(255, 255, 255)};
}

// The main dialog's own text colour for a static control, by id alone: the
// message line yellow, the folder line cyan; none for the others.
std::optional<ColourValue> MainDialogTextColour(int controlId);
