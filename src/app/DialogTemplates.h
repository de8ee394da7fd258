#pragma once
#include "window/DialogTemplate.h"
#include "window/resource.h"

#include <QRect>

// A dialog unit is 1.5 px wide and 1.625 px high (an 8-point dialog font at 96 dpi).
QRect DialogUnitsToPixels(int x, int y, int width, int height);

class CColourDialogEx;
class QPixmap;

// Creates the template's controls on `dialog` at their pixel positions, each
// tagged with its control id; the OK button is a CColourButton when `colourOk`.
void BuildDialog(CColourDialogEx& dialog, const DialogTemplate& t, bool colourOk);
// One of the program's pictures, drawn from its SVG at the given size in
// device-independent pixels and at `ratio` device pixels to one (0: the
// highest ratio of the screens).
QPixmap RenderPicture(const char* resource, QSize size, qreal ratio = 0);
