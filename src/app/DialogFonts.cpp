#include "app/DialogFonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QRawFont>

#include <algorithm>

#include <climits>

std::vector<int> LoadDialogFonts(const char* folder)
{
    std::vector<int> ids;
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf"}) {
        const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(folder) + '/' + QString::fromLatin1(file));
        if (id >= 0)
            ids.push_back(id);
    }
    return ids;
}

int PixelSizeForCell(int cellHeight, int unitsPerEm, int winAscent, int winDescent)
{
    const int cell = winAscent + winDescent;
    return cell > 0 ? std::max(1, cellHeight * unitsPerEm / cell) : cellHeight;
}

QFont DialogFont(int cellHeight)
{
    QFont f(QStringLiteral("Tahoma"));
    f.setStyleHint(QFont::SansSerif);   // where Tahoma is missing
    f.setBold(true);
    f.setPixelSize(cellHeight);
    // The cell of the font actually chosen, from its OS/2 and head tables.
    const QRawFont raw = QRawFont::fromFont(f);
    const QByteArray os2 = raw.fontTable("OS/2");
    const QByteArray head = raw.fontTable("head");
    auto u16 = [](const QByteArray& t, int at) {
        return at + 1 < t.size() ? (static_cast<unsigned char>(t[at]) << 8) | static_cast<unsigned char>(t[at + 1]) : 0;
    };
    if (os2.size() >= 78 && head.size() >= 20)
        f.setPixelSize(PixelSizeForCell(cellHeight, u16(head, 18), u16(os2, 74), u16(os2, 76)));
    return f;
}

QFont TemplateFont()
{
    QFont f(QStringLiteral("Tahoma"));
    f.setStyleHint(QFont::SansSerif);   // where Tahoma is missing
    f.setPixelSize(11);                 // 8 points at 96 dpi
    return f;
}

bool TextFits(const QFont& font, const QString& text, const QSize& box, bool wrap)
{
    const QFontMetrics m(font);
    const int flags = wrap ? Qt::TextWordWrap : Qt::TextSingleLine;
    const QRect r = m.boundingRect(QRect(0, 0, wrap ? box.width() : INT_MAX / 2, INT_MAX / 2), flags, text);
    return r.width() <= box.width() && r.height() <= box.height();
}

QFont FittedFont(QFont font, const QString& text, const QSize& box, bool wrap, int minPixelSize)
{
    if (font.pixelSize() <= 0)
        font.setPixelSize(QFontInfo(font).pixelSize());
    while (font.pixelSize() > minPixelSize && !TextFits(font, text, box, wrap))
        font.setPixelSize(font.pixelSize() - 1);
    return font;
}
