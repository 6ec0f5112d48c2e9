#include "Announcer.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class CStatusAccessible : public QAccessibleWidget {
public:
    explicit CStatusAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::StatusBar) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* StatusFactory(const QString& className, QObject* object) {
    return className == QLatin1String("CAnnouncer") && object && object->isWidgetType()
               ? new CStatusAccessible(static_cast<QWidget*>(object))
               : nullptr;
}

} // namespace

CAnnouncer::CAnnouncer(QWidget* parent) : QLabel(parent) {
    static const bool installed = (QAccessible::installFactory(StatusFactory), true);
    (void)installed;
    setTextFormat(Qt::PlainText);
    setAccessibleDescription(QStringLiteral("What Quillet is doing"));
}

void CAnnouncer::Announce(const QString& text) {
    // A label tells of a new text itself, and of the same text again not at all.
    if (text != this->text()) {
        setText(text);
        return;
    }
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}
