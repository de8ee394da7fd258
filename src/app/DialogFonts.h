#pragma once
#include <QFont>
#include <QSize>
#include <QString>

#include <vector>

// Where Debian's fonts-wine keeps the metric-compatible Tahoma.
inline constexpr const char* kWineFontFolder = "/usr/share/wine/fonts";

// Registers Tahoma and Tahoma Bold from `folder` with the application (they
// are not known to fontconfig); the ids of the fonts that loaded.
std::vector<int> LoadDialogFonts(const char* folder = kWineFontFolder);

// The em size in pixels of a font whose character cell (the Windows ascent
// plus descent) is `cellHeight` pixels: what a positive font height asks for
// on the platform the design comes from.
int PixelSizeForCell(int cellHeight, int unitsPerEm, int winAscent, int winDescent);

// A bold Tahoma with a character cell `cellHeight` pixels high, measured with
// the font's own Windows metrics.
QFont DialogFont(int cellHeight);

// The templates' dialog font: "MS Shell Dlg" 8 point at 96 dpi, here Tahoma.
QFont TemplateFont();

// True when `text` drawn in `font` fits `box` (on one line unless `wrap`).
bool TextFits(const QFont& font, const QString& text, const QSize& box, bool wrap);

// `font`, one pixel size smaller at a time, until `text` fits `box` or the
// size reaches `minPixelSize`. Where the metric-compatible Tahoma is
// installed the template texts fit as they are.
QFont FittedFont(QFont font, const QString& text, const QSize& box, bool wrap = false, int minPixelSize = 6);
