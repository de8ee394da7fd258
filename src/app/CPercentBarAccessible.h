#pragma once
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

class QProgressBar;

// What a screen reader is told about a progress bar: its value as a
// percentage, whatever range the bar counts in.
class CPercentBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit CPercentBarAccessible(QProgressBar* bar);

    // Makes every QProgressBar of the program answer this way.
    static void Install();

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text which) const override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant&) override {}   // read-only
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

    // The bar's value in whole percent of its range.
    static int Percent(const QProgressBar& bar);
};
