#include "controls/CColourDialogEx.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QVariant>

CColourDialogEx::CColourDialogEx(int templateId, QWidget* parent) : QDialog(parent), m_templateId(templateId)
{
    m_bAltScheme = false;
    ApplyScheme();
}

void CColourDialogEx::ApplyScheme()
{
    const DialogScheme scheme = SchemeColours(m_bAltScheme);
    m_crBkColour = scheme.background;
    m_crTextColour = scheme.text;
    m_brBkBrush = QBrush(ToQColor(m_crBkColour));
}

CtlColor CColourDialogEx::OnCtlColor(CtlColorKind kind, int)
{
    const CtlColor base = BaseCtlColor();
    switch (kind) {
    case CTLCOLOR_DLG:
    case CTLCOLOR_BTN:
        return {m_brBkBrush.color(), std::nullopt, std::nullopt};
    case CTLCOLOR_STATIC:
        return {m_brBkBrush.color(), ToQColor(m_crTextColour), ToQColor(m_crBkColour)};
    default:
        return base;
    }
}

CtlColorKind CtlColorKindOf(const QWidget* widget)
{
    if (qobject_cast<const QDialog*>(widget))
        return CTLCOLOR_DLG;
    if (qobject_cast<const QAbstractButton*>(widget))
        return CTLCOLOR_BTN;
    if (qobject_cast<const QLabel*>(widget))
        return CTLCOLOR_STATIC;
    // Anything else (the progress bars) gets the base answer, no colours:
    // a bar keeps the palette's fill and frame, which show its progress best.
    return CTLCOLOR_MSGBOX;
}

int ControlId(const QWidget* widget)
{
    const QVariant id = widget->property("controlId");
    return id.isValid() ? id.toInt() : -1;
}

void CColourDialogEx::ApplyControlColours()
{
    auto apply = [](QWidget* w, const CtlColor& c) {
        QPalette p = w->palette();
        if (c.brush) {
            p.setColor(QPalette::Window, *c.brush);
            p.setColor(QPalette::Button, *c.brush);
            w->setAutoFillBackground(true);
        }
        if (c.text) {
            p.setColor(QPalette::WindowText, *c.text);
            p.setColor(QPalette::ButtonText, *c.text);
        }
        w->setPalette(p);
    };
    apply(this, OnCtlColor(CTLCOLOR_DLG, -1));
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->property("controlId").isValid())
            apply(child, OnCtlColor(CtlColorKindOf(child), ControlId(child)));
    }
}
