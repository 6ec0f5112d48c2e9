#include "AccessibleControls.h"

#include "DrawnSliderCtrl.h"
#include "WaveformCtrl.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <cmath>

namespace {

// What the two controls share: a slider role with a value; Value reads as the value's text.
class CValueAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit CValueAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? ValueText() : QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return Value(); }
    QVariant minimumStepSize() const override { return Step(); }

protected:
    virtual double Value() const = 0;
    virtual double Step() const = 0;
    virtual QString ValueText() const = 0;
};

class CSliderAccessible : public CValueAccessible {
public:
    using CValueAccessible::CValueAccessible;
    CDrawnSliderCtrl* Slider() const { return static_cast<CDrawnSliderCtrl*>(widget()); }

    void setCurrentValue(const QVariant& value) override {
        Slider()->ScrollTo(static_cast<int>(std::lround(value.toDouble() / Slider()->GetValueUnit())));
    }
    QVariant minimumValue() const override { return Slider()->GetRangeMin() * Slider()->GetValueUnit(); }
    QVariant maximumValue() const override { return Slider()->GetRangeMax() * Slider()->GetValueUnit(); }

protected:
    double Value() const override { return Slider()->GetPos() * Slider()->GetValueUnit(); }
    double Step() const override { return Slider()->GetLineSize() * Slider()->GetValueUnit(); }
    QString ValueText() const override { return Slider()->ValueText(Value()); }
};

class CWaveformAccessible : public CValueAccessible {
public:
    using CValueAccessible::CValueAccessible;
    CWaveformCtrl* Strip() const { return static_cast<CWaveformCtrl*>(widget()); }

    // What the strip shows, then how to use it (its tooltip).
    QString text(QAccessible::Text t) const override {
        const QString own = CValueAccessible::text(t);
        if (t != QAccessible::Description || !widget()->accessibleDescription().isEmpty())
            return own;
        return own.isEmpty() ? Strip()->Describe() : Strip()->Describe() + QStringLiteral(". ") + own;
    }
    void setCurrentValue(const QVariant& value) override { emit Strip()->TimePicked(value.toDouble()); }
    QVariant minimumValue() const override { return Span().first; }
    QVariant maximumValue() const override { return Span().second; }

protected:
    std::pair<double, double> Span() const {
        double from = 0, to = 0;
        return Strip()->FullSpan(from, to) ? std::pair{from, to} : std::pair{0.0, 0.0};
    }
    double Value() const override { return Strip()->PositionSeconds(); }
    double Step() const override { return 0.1; }
    QString ValueText() const override { return Strip()->TimeText(Value()); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("CDrawnSliderCtrl"))
        return new CSliderAccessible(widget);
    if (className == QLatin1String("CWaveformCtrl"))
        return new CWaveformAccessible(widget);
    if (className == QLatin1String("CSeparatorLine"))
        return new QAccessibleWidget(widget, QAccessible::Separator);
    return nullptr;
}

} // namespace

void InstallControlAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}
