#include "window/WindowColours.h"

#include "window/resource.h"

std::optional<ColourValue> MainDialogTextColour(int controlId)
{
    if (controlId == IDC_MESSAGE)
        return Rgb(255, 255, 0);
    if (controlId == IDC_FOLDER)
        return Rgb(0, 255, 255);
    return std::nullopt;
}
