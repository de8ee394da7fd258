#include "app/DialogTemplates.h"

#include <cmath>

QRect DialogUnitsToPixels(int x, int y, int width, int height)
{
    auto h = [](int du) { return static_cast<int>(std::lround(du * 1.5)); };
    auto v = [](int du) { return static_cast<int>(std::lround(du * 1.625)); };
    return QRect(h(x), v(y), h(width), v(height));
}

namespace {
constexpr Qt::Alignment kLeftCentred = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kLeftTop = Qt::AlignLeft | Qt::AlignTop;
constexpr Qt::Alignment kCentred = Qt::AlignCenter;
}   // namespace

const DialogTemplate& MainDialogTemplate()
{
    static const DialogTemplate t{
        102,
        "Download KEL from VORN FTP Site",
        317,
        250,
        {
            {IDOK, ControlKind::DefPushButton, "OK", 260, 229, 50, 14, kCentred},
            {-1, ControlKind::Picture, ":/res/banner.svg", 7, 7, 303, 68, kCentred},
            {IDC_APP_CAPTION, ControlKind::Static, "KEL Application File Found", 12, 80, 157, 20, kLeftCentred},
            {IDC_APP_NAME, ControlKind::Static, "None", 193, 80, 112, 20, kLeftCentred},
            {IDC_APP_PROGRESS, ControlKind::ProgressBar, "", 7, 105, 303, 15, kLeftTop},
            {IDC_UPDATE_CAPTION, ControlKind::Static, "KEL Update File Found", 12, 124, 157, 20, kLeftCentred},
            {IDC_UPDATE_NAME, ControlKind::Static, "None", 193, 124, 112, 20, kLeftCentred},
            {IDC_UPDATE_PROGRESS, ControlKind::ProgressBar, "", 7, 149, 303, 15, kLeftTop},
            {IDC_MESSAGE, ControlKind::Static, "Message", 7, 223, 246, 20, kLeftCentred},
            {IDC_FOLDER_CAPTION, ControlKind::Static, "All files downloaded to:-", 7, 171, 303, 20, kLeftTop},
            // The folder line's text is replaced by the real Download folder.
            {IDC_FOLDER, ControlKind::Static, "", 7, 193, 303, 23, kCentred},
        },
    };
    return t;
}

const DialogTemplate& AboutDialogTemplate()
{
    static const DialogTemplate t{
        100,
        "About VORNdownload",
        170,
        62,
        {
            {-1, ControlKind::Picture, ":/res/vorndownload.svg", 14, 14, 21, 20, kCentred},
            {-1, ControlKind::Static, "VORNdownload, Version 1.0", 42, 14, 114, 8, kLeftTop},
            {-1, ControlKind::Static, "\xA9 Brevant Technology Limited", 42, 26, 124, 8, kLeftTop},
            {IDOK, ControlKind::DefPushButton, "OK", 113, 41, 50, 14, kCentred},
        },
    };
    return t;
}

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
            l->setPixmap(RenderPicture(c.text, DialogUnitsToPixels(c.x, c.y, c.width, c.height).size()));
            w = l;
            break;
        }
        case ControlKind::Static: {
            auto* l = new QLabel(QString::fromLatin1(c.text), &dialog);
            l->setAlignment(c.alignment);
            // Vertically centred statics hold one line; the others wrap.
            l->setWordWrap(!(c.alignment & Qt::AlignVCenter));
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
