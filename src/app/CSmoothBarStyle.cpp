#include "app/CSmoothBarStyle.h"

int CSmoothBarStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    if (metric == PM_ProgressBarChunkWidth)
        return 1;
    return QProxyStyle::pixelMetric(metric, option, widget);
}
