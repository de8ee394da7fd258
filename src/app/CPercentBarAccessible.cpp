#include "app/CPercentBarAccessible.h"

#include <QProgressBar>

#include <algorithm>

namespace {

QAccessibleInterface* Factory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QProgressBar") && object && object->isWidgetType())
        return new CPercentBarAccessible(static_cast<QProgressBar*>(object));
    return nullptr;
}

}   // namespace

CPercentBarAccessible::CPercentBarAccessible(QProgressBar* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar)
{}

void CPercentBarAccessible::Install()
{
    static const bool installed = (QAccessible::installFactory(Factory), true);
    (void)installed;
}

void* CPercentBarAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString CPercentBarAccessible::text(QAccessible::Text which) const
{
    if (which == QAccessible::Value)
        return QStringLiteral("%1 %").arg(Percent(*static_cast<QProgressBar*>(widget())));
    return QAccessibleWidget::text(which);
}

QVariant CPercentBarAccessible::currentValue() const
{
    return Percent(*static_cast<QProgressBar*>(widget()));
}

int CPercentBarAccessible::Percent(const QProgressBar& bar)
{
    const qint64 span = qint64(bar.maximum()) - bar.minimum();
    if (span <= 0 || bar.value() < bar.minimum())
        return 0;   // an empty range, or a bar that was reset
    return static_cast<int>(std::min<qint64>((qint64(bar.value()) - bar.minimum()) * 100 / span, 100));
}
