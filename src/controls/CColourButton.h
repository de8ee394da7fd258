#pragma once
#include "controls/ColourRef.h"
#include "window/CButtonColours.h"
#include "window/CaptionBand.h"

#include <QPushButton>
#include <QRect>

class QPainter;

// The band centred vertically in `area` (divisions truncate toward zero).
QRect CaptionBand(const QRect& area, int bandHeight);

// A push button that paints its whole face: solid background, raised or
// sunken 3-D edge, caption centred in a word-wrapped band, focus rectangle.
// Normal and hover colours switch on mouse movement.
class CColourButton : public QPushButton, public CButtonColours {
public:
    explicit CColourButton(QWidget* parent = nullptr);

    struct ItemState {
        bool selected = false;   // pressed
        bool focus = false;
    };
    // Paints the button into `rcItem` as the item state asks.
    void DrawItem(QPainter& dc, const QRect& rcItem, ItemState state);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
};
