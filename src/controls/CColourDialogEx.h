#pragma once
#include "controls/ColourRef.h"

#include <QBrush>
#include <QDialog>

#include <optional>

// Kinds of colour request, numbered as the platform the design comes from numbers them.
enum CtlColorKind : unsigned {
    CTLCOLOR_MSGBOX = 0,
    CTLCOLOR_EDIT = 1,
    CTLCOLOR_LISTBOX = 2,
    CTLCOLOR_BTN = 3,
    CTLCOLOR_DLG = 4,
    CTLCOLOR_SCROLLBAR = 5,
    CTLCOLOR_STATIC = 6,
};

// The answer to one colour request: the background brush and, where set, the
// text colour and the text background. Unset parts are left as the style has them.
struct CtlColor {
    std::optional<QColor> brush;
    std::optional<QColor> text;
    std::optional<QColor> textBackground;
    bool operator==(const CtlColor&) const = default;
};

// Dialog base with the dark look: a solid background brush for the dialog,
// its buttons and static controls, and white text on dark grey for statics.
class CColourDialogEx : public QDialog {
public:
    explicit CColourDialogEx(int templateId, QWidget* parent = nullptr);

    int TemplateId() const { return m_templateId; }
    // Asked once per child control (and once with CTLCOLOR_DLG for the dialog
    // itself); the answer is applied to that control.
    virtual CtlColor OnCtlColor(CtlColorKind kind, int controlId);
    // Asks OnCtlColor for every child that carries a control id and applies the answers.
    void ApplyControlColours();

    COLORREF m_crBkColour = 0;
    COLORREF m_crTextColour = 0;
    QBrush m_brBkBrush;
    bool m_bAltScheme = false;

protected:
    // What a plain dialog answers: nothing of its own.
    static CtlColor BaseCtlColor() { return {}; }

private:
    void ApplyScheme();
    int m_templateId;
};

// The kind of colour request a widget makes.
CtlColorKind CtlColorKindOf(const QWidget* widget);
// The id a control was created with; -1 for none.
int ControlId(const QWidget* widget);
