#pragma once
#include <QRect>

#include <vector>

enum class ControlKind { DefPushButton, Picture, Static, ProgressBar };

struct ControlTemplate {
    int id;   // -1: no id
    ControlKind kind;
    const char* text;
    int x, y, width, height;   // dialog units
    Qt::Alignment alignment;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int width, height;                       // dialog units
    std::vector<ControlTemplate> controls;   // in tab order
};

// A dialog unit is 1.5 px wide and 1.625 px high (an 8-point dialog font at 96 dpi).
QRect DialogUnitsToPixels(int x, int y, int width, int height);

const DialogTemplate& MainDialogTemplate();    // 102
const DialogTemplate& AboutDialogTemplate();   // 100

// Control ids of the main dialog.
enum : int {
    IDOK = 1,
    IDC_APP_NAME = 1002,
    IDC_APP_CAPTION = 1003,
    IDC_APP_PROGRESS = 1004,
    IDC_UPDATE_CAPTION = 1005,
    IDC_UPDATE_NAME = 1006,
    IDC_UPDATE_PROGRESS = 1007,
    IDC_MESSAGE = 1008,
    IDC_FOLDER_CAPTION = 1009,
    IDC_FOLDER = 1010,
};

class CColourDialogEx;
class QPixmap;

// Creates the template's controls on `dialog` at their pixel positions, each
// tagged with its control id; the OK button is a CColourButton when `colourOk`.
void BuildDialog(CColourDialogEx& dialog, const DialogTemplate& t, bool colourOk);
// One of the program's pictures, drawn from its SVG at the given size in
// device-independent pixels and at `ratio` device pixels to one (0: the
// highest ratio of the screens).
QPixmap RenderPicture(const char* resource, QSize size, qreal ratio = 0);
