#include "controls/CColourButton.h"
#include "controls/CColourDialogEx.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

QImage Render(CColourButton& b, CColourButton::ItemState state = {})
{
    QImage image(b.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setFont(b.font());
    b.DrawItem(p, b.rect(), state);
    return image;
}

QColor At(const QImage& i, int x, int y)
{
    return QColor(i.pixel(x, y));
}

}   // namespace

TEST(CaptionBand, HeightGrowsByALinePerStartedWidth)
{
    EXPECT_EQ(CaptionBandHeight(30, 14, 90), 14);    // fits
    EXPECT_EQ(CaptionBandHeight(90, 14, 90), 28);    // exactly the width: two lines
    EXPECT_EQ(CaptionBandHeight(225, 14, 90), 42);   // 2.5 widths: three lines
    EXPECT_EQ(CaptionBandHeight(500, 14, 0), 14);    // no width: one line
    EXPECT_EQ(CaptionBandHeight(500, 14, -4), 14);
}

TEST(CaptionBand, CentredWithTruncatingDivision)
{
    // Item 0..30 high: middle 15, band 28 -> top 1; band 13 -> top 15 - 6 = 9.
    EXPECT_EQ(CaptionBand(QRect(5, 0, 90, 30), 28), QRect(5, 1, 90, 28));
    EXPECT_EQ(CaptionBand(QRect(5, 0, 90, 30), 13), QRect(5, 9, 90, 13));
    EXPECT_EQ(CaptionBand(QRect(5, 3, 90, 30), 14), QRect(5, 11, 90, 14));
}

TEST(ColourButton, NormalAndHoverColoursAndTheirSwitches)
{
    CColourButton b;
    b.resize(75, 23);
    b.setText("OK");
    EXPECT_EQ(b.m_crNormalBk, 0xCC7B00u);
    EXPECT_EQ(b.m_crHoverBk, 0xFF0000u);
    EXPECT_EQ(b.m_crNormalBkAlt, 0x800000u);
    EXPECT_FALSE(b.m_bAltBk);
    EXPECT_EQ(At(Render(b), 10, 11), QColor(0, 123, 204));   // mid blue, inside the edge

    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), QPointF(10, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&b, &move);
    QApplication::sendEvent(&b, &move);   // repeated moves change nothing more
    EXPECT_EQ(b.m_crCurBk, b.m_crHoverBk);
    EXPECT_EQ(b.m_crCurBkAlt, b.m_crHoverBk);
    EXPECT_EQ(At(b.grab().toImage(), 10, 11), QColor(0, 0, 255));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&b, &leave);
    EXPECT_EQ(b.m_crCurBk, b.m_crNormalBk);
    EXPECT_EQ(b.m_crCurBkAlt, b.m_crNormalBkAlt);
    EXPECT_EQ(At(b.grab().toImage(), 10, 11), QColor(0, 123, 204));
}

TEST(ColourButton, EdgeSinksWhenPressedAndFocusRectangleSitsFivePixelsIn)
{
    CColourButton b;
    b.resize(80, 30);
    b.setText("OK");
    const QImage raised = Render(b);
    const QImage sunken = Render(b, {true, false});
    // Raised: light top-left, dark bottom-right; sunken the other way round.
    EXPECT_GT(At(raised, 0, 0).lightness(), At(raised, 79, 29).lightness());
    EXPECT_LT(At(sunken, 0, 0).lightness(), At(sunken, 79, 29).lightness());
    EXPECT_EQ(At(sunken, 10, 4), QColor(0, 123, 204));   // colours stay those of the state

    const QImage focused = Render(b, {false, true});
    // The dotted rectangle runs along x = 5 from y = 5 down; somewhere on it the caption colour shows.
    int onLine = 0;
    for (int y = 5; y < 25; ++y)
        onLine += At(focused, 5, y) == QColor(255, 255, 255);
    EXPECT_GT(onLine, 3);
    for (int y = 5; y < 25; ++y)
        EXPECT_EQ(At(raised, 5, y), QColor(0, 123, 204)) << y;   // no focus, no rectangle
}

TEST(ColourButton, CaptionIsCentredAndClippedToItsBand)
{
    CColourButton b;
    b.resize(10, 40);   // no width left: one line, centred
    b.setText("A caption far too long for the button");
    const QImage narrow = Render(b);
    EXPECT_EQ(At(narrow, 5, 2), QColor(0, 123, 204));

    CColourButton wide;
    wide.resize(120, 60);
    wide.setText("OK");
    const QImage image = Render(wide);
    // White caption pixels only inside the one-line band around the middle.
    const int line = QFontMetrics(wide.font()).height();
    for (int y = 2; y < 58; ++y)
        for (int x = 2; x < 118; ++x)
            if (At(image, x, y) == QColor(255, 255, 255)) {
                EXPECT_GE(y, 30 - line / 2);
                EXPECT_LT(y, 30 - line / 2 + line);
            }
}

namespace {
struct TestDialog : CColourDialogEx {
    TestDialog() : CColourDialogEx(100) {}
};
}   // namespace

TEST(ColourDialog, SchemeAndAnswersByKind)
{
    TestDialog d;
    EXPECT_EQ(d.m_crBkColour, 0x555555u);
    EXPECT_EQ(d.m_crTextColour, 0xFFFFFFu);
    EXPECT_FALSE(d.m_bAltScheme);
    const QColor grey(85, 85, 85), white(255, 255, 255);
    EXPECT_EQ(d.OnCtlColor(CTLCOLOR_DLG, -1), (CtlColor{grey, std::nullopt, std::nullopt}));
    EXPECT_EQ(d.OnCtlColor(CTLCOLOR_BTN, 1), (CtlColor{grey, std::nullopt, std::nullopt}));
    EXPECT_EQ(d.OnCtlColor(CTLCOLOR_STATIC, 7), (CtlColor{grey, white, grey}));
    for (CtlColorKind k : {CTLCOLOR_MSGBOX, CTLCOLOR_EDIT, CTLCOLOR_LISTBOX, CTLCOLOR_SCROLLBAR})
        EXPECT_EQ(d.OnCtlColor(k, 7), CtlColor{});

    auto* label = new QLabel("x", &d);
    label->setProperty("controlId", 7);
    d.ApplyControlColours();
    EXPECT_EQ(label->palette().color(QPalette::WindowText), white);
    EXPECT_EQ(label->palette().color(QPalette::Window), grey);
    EXPECT_EQ(d.palette().color(QPalette::Window), grey);
}
