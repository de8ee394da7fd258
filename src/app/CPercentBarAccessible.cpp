#include "app/CPercentBarAccessible.h"

#include "window/AccessibleControls.h"

#include <QProgressBar>

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
        return QString::fromStdString(PercentText(Percent(*static_cast<QProgressBar*>(widget()))));
    return QAccessibleWidget::text(which);
}

QVariant CPercentBarAccessible::currentValue() const
{
    return Percent(*static_cast<QProgressBar*>(widget()));
}

int CPercentBarAccessible::Percent(const QProgressBar& bar)
{
    return BarPercent(bar.value(), bar.minimum(), bar.maximum());
}
