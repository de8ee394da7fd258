#pragma once
#include <QProxyStyle>

// The application's style with progress bars filled smoothly, as the
// template's smooth bars are, rather than in the Windows style's 9-pixel
// blocks (2 % of the bar, 70 MiB of a DVD image, would not show).
class CSmoothBarStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
};
