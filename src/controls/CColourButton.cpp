#include "controls/CColourButton.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

QRect CaptionBand(const QRect& area, int bandHeight)
{
    // The bottom edge taken as exclusive (top + height, not QRect::bottom(),
    // the last row): a band as tall as the area then covers it exactly.
    const int bandTop = CaptionBandTop(area.top(), area.top() + area.height(), bandHeight);
    return QRect(area.left(), bandTop, area.width(), bandHeight);
}

CColourButton::CColourButton(QWidget* parent) : QPushButton(parent)
{
    // Moves without a pressed button must reach mouseMoveEvent.
    setMouseTracking(true);
}

namespace {

// A 3-D edge two pixels wide, like the platform's raised and sunken edges.
void DrawEdge(QPainter& dc, const QRect& r, bool sunken)
{
    const QColor light(255, 255, 255), midLight(227, 227, 227), shadow(160, 160, 160), dark(105, 105, 105);
    const QColor outerTopLeft = sunken ? shadow : midLight;
    const QColor outerBottomRight = sunken ? light : dark;
    const QColor innerTopLeft = sunken ? dark : light;
    const QColor innerBottomRight = sunken ? midLight : shadow;
    auto frame = [&](const QRect& f, const QColor& tl, const QColor& br) {
        dc.setPen(tl);
        dc.drawLine(f.left(), f.bottom(), f.left(), f.top());
        dc.drawLine(f.left(), f.top(), f.right(), f.top());
        dc.setPen(br);
        dc.drawLine(f.right(), f.top(), f.right(), f.bottom());
        dc.drawLine(f.right(), f.bottom(), f.left(), f.bottom());
    };
    frame(r, outerTopLeft, outerBottomRight);
    frame(r.adjusted(1, 1, -1, -1), innerTopLeft, innerBottomRight);
}

}   // namespace

void CColourButton::DrawItem(QPainter& dc, const QRect& rcItem, ItemState state)
{
    // Fill with the current background; it also backs the caption.
    QRect rect = rcItem;
    const QColor background = ToQColor(CurrentBk());
    dc.fillRect(rect, background);
    // Raised, or sunken while pressed.
    DrawEdge(dc, rect, state.selected);
    // The caption, read anew on every paint, in the current text colour.
    dc.setPen(ToQColor(m_crCurText));
    const QString caption = text();
    // Five pixels off each side.
    rect.adjust(5, 0, -5, 0);
    const int available = rect.width();
    // Measured on one line, without breaking.
    const QFontMetrics metrics(dc.font());
    const QRect measured = metrics.boundingRect(QRect(0, 0, 0, 0), Qt::TextSingleLine, caption);
    // A band as many lines high as the caption needs, centred vertically.
    const QRect band = CaptionBand(rect, CaptionBandHeight(measured.width(), measured.height(), available));
    // Centred, broken at words, top of the band, clipped to it.
    dc.save();
    dc.setClipRect(band);
    dc.drawText(band, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, caption);
    dc.restore();
    // Focus rectangle five pixels inside the item.
    if (state.focus) {
        const QRect f = rcItem.adjusted(5, 5, -5, -5);
        QPen pen(ToQColor(m_crCurText));
        pen.setStyle(Qt::DotLine);
        dc.setPen(pen);
        dc.setBrush(Qt::NoBrush);
        dc.drawRect(f.adjusted(0, 0, -1, -1));
    }
}

void CColourButton::paintEvent(QPaintEvent*)
{
    QPainter dc(this);
    dc.setFont(font());
    DrawItem(dc, rect(), {isDown(), hasFocus()});
}

void CColourButton::mouseMoveEvent(QMouseEvent* event)
{
    (void)Hover();   // repainted below whether entering or not
    // Qt delivers leave events without asking; the base class repaints on hover.
    QPushButton::mouseMoveEvent(event);
    update();
}

void CColourButton::leaveEvent(QEvent* event)
{
    Leave();
    update();
    QPushButton::leaveEvent(event);
}
