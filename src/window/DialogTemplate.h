#pragma once
#include <vector>

// The two dialogs' layouts as data, the one description both windows are
// built from: the Qt window creates its controls from it, and the Windows
// resource script is checked against it control by control.
enum class ControlKind { DefPushButton, Picture, Static, ProgressBar };
// Where a static control's text sits: one line centred vertically, wrapped
// from the top, or centred both ways.
enum class TextLayout { LeftCentred, LeftTop, Centred };

struct ControlTemplate {
    int id;   // -1: no id
    ControlKind kind;
    const char* text;          // a picture's: none
    int picture;               // a picture's resource id; 0 for other kinds
    int x, y, width, height;   // dialog units
    TextLayout layout;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int width, height;                       // dialog units
    std::vector<ControlTemplate> controls;   // in tab order
};

const DialogTemplate& MainDialogTemplate();    // 102
const DialogTemplate& AboutDialogTemplate();   // 100
