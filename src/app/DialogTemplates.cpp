#include "app/DialogTemplates.h"

#include <cmath>

QRect DialogUnitsToPixels(int x, int y, int width, int height)
{
    auto h = [](int du) { return static_cast<int>(std::lround(du * 1.5)); };
    auto v = [](int du) { return static_cast<int>(std::lround(du * 1.625)); };
    return QRect(h(x), v(y), h(width), v(height));
}

namespace {

Qt::Alignment AlignmentOf(TextLayout layout)
{
    switch (layout) {
    case TextLayout::LeftCentred:
        return Qt::AlignLeft | Qt::AlignVCenter;
    case TextLayout::LeftTop:
        return Qt::AlignLeft | Qt::AlignTop;
    case TextLayout::Centred:
        break;
    }
    return Qt::AlignCenter;
}

// The pictures' resource ids as the SVG files they are drawn from here.
const char* PictureFile(int picture)
{
    return picture == IDB_BANNER ? ":/res/banner.svg" : ":/res/vorndownload.svg";
}

}   // namespace

#include "app/DialogFonts.h"
#include "controls/CColourButton.h"
#include "controls/CColourDialogEx.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSvgRenderer>

QPixmap RenderPicture(const char* resource, QSize size, qreal ratio)
{
    // Drawn at the finest screen's pixel ratio, so nothing is stretched there.
    if (ratio <= 0)
        ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer svg(QString::fromLatin1(resource));
    QPainter p(&pixmap);
    svg.render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

void BuildDialog(CColourDialogEx& dialog, const DialogTemplate& t, bool colourOk)
{
    dialog.setWindowTitle(QString::fromLatin1(t.caption));
    dialog.setFont(TemplateFont());
    dialog.setFixedSize(DialogUnitsToPixels(0, 0, t.width, t.height).size());
    for (const ControlTemplate& c : t.controls) {
        QWidget* w = nullptr;
        switch (c.kind) {
        case ControlKind::DefPushButton: {
            QPushButton* b = (colourOk && c.id == IDOK) ? new CColourButton(&dialog) : new QPushButton(&dialog);
            b->setText(QString::fromLatin1(c.text));
            b->setDefault(true);
            QObject::connect(b, &QPushButton::clicked, &dialog, &QDialog::accept);
            w = b;
            break;
        }
        case ControlKind::Picture: {
            auto* l = new QLabel(&dialog);
            l->setPixmap(
                RenderPicture(PictureFile(c.picture), DialogUnitsToPixels(c.x, c.y, c.width, c.height).size()));
            w = l;
            break;
        }
        case ControlKind::Static: {
            auto* l = new QLabel(QString::fromLatin1(c.text), &dialog);
            l->setAlignment(AlignmentOf(c.layout));
            // Vertically centred statics hold one line; the others wrap.
            l->setWordWrap(c.layout == TextLayout::LeftTop);
            l->setFont(FittedFont(TemplateFont(), l->text(), DialogUnitsToPixels(c.x, c.y, c.width, c.height).size(),
                                  l->wordWrap()));
            w = l;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* p = new QProgressBar(&dialog);
            p->setTextVisible(false);
            p->setRange(0, 100);
            w = p;
            break;
        }
        }
        w->setGeometry(DialogUnitsToPixels(c.x, c.y, c.width, c.height));
        w->setProperty("controlId", c.id);
    }
}
