#include "Skin.h"

#include "QuilletResources.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QStyle>
#include <QVariant>
#include <map>
#include <vector>

namespace {

constexpr const char* kExemptProperty = "skinExempt";

// Gives every dialog window the chosen section when the dialog is polished, before it is laid out
// and shown, so that it never appears unskinned first.
class CDialogSkinner : public QObject {
public:
    using QObject::QObject;
    QString m_sheet;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

struct SkinnedWindow {
    QPointer<QWidget> window;
    QString sheet;
};

struct SkinState {
    bool initialised = false;
    std::map<QString, QString> sections;
    std::vector<SkinnedWindow> windows;
    CDialogSkinner* dialogSkinner = nullptr;
    int inits = 0;
    int releases = 0;
};

SkinState& State() {
    static SkinState state;
    return state;
}

void Apply(QWidget* window, const QString& sheet) {
    auto& windows = State().windows;
    std::erase_if(windows,
                  [window](const SkinnedWindow& w) { return w.window.isNull() || w.window == window; });
    windows.push_back({window, sheet});
    window->setStyleSheet(sheet);
}

bool CDialogSkinner::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Polish && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && qobject_cast<QDialog*>(widget) && widget->styleSheet().isEmpty() &&
            !IsSkinExempt(widget))
            Apply(widget, m_sheet);
    }
    return QObject::eventFilter(watched, event);
}

// Splits the skin into its sections; text before the first section belongs to every section.
std::map<QString, QString> ParseSections(const QString& text) {
    static const QRegularExpression marker(QStringLiteral(R"(/\*\s*@section\s+(\S+)\s*\*/)"));
    std::map<QString, QString> sections;
    QString common;
    QString current;
    qsizetype pos = 0;
    auto it = marker.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        const QString chunk = text.mid(pos, m.capturedStart() - pos);
        if (current.isEmpty())
            common = chunk;
        else
            sections[current] += chunk;
        current = m.captured(1);
        sections[current]; // a section may be empty but still exists
        pos = m.capturedEnd();
    }
    if (!current.isEmpty())
        sections[current] += text.mid(pos);
    for (auto& [name, body] : sections)
        body = common + body;
    return sections;
}

} // namespace

bool InitSkinMagicLib() {
    auto& s = State();
    ++s.inits;
    if (s.initialised)
        return true;
    InitQuilletResources();
    s.initialised = true;
    return true;
}

bool LoadSkinFromResource(int resourceId, const char* resourceType) {
    auto& s = State();
    if (!s.initialised || !resourceType)
        return false;
    QFile file(QStringLiteral(":/skin/%1/%2.qss").arg(QLatin1String(resourceType)).arg(resourceId));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    auto sections = ParseSections(QString::fromUtf8(file.readAll()));
    if (sections.empty())
        return false;
    s.sections = std::move(sections);
    return true;
}

QString SkinSectionText(const char* section) {
    const auto& sections = State().sections;
    const auto it = section ? sections.find(QString::fromUtf8(section)) : sections.end();
    return it == sections.end() ? QString() : it->second;
}

bool SetWindowSkin(QWidget* window, const char* section) {
    if (!window || !State().initialised)
        return false;
    const QString sheet = SkinSectionText(section);
    if (sheet.isEmpty())
        return false;
    Apply(window, sheet);
    return true;
}

bool SetDialogSkin(const char* section) {
    auto& s = State();
    if (!s.initialised || !qApp)
        return false;
    const QString sheet = SkinSectionText(section);
    if (sheet.isEmpty())
        return false;
    if (!s.dialogSkinner) {
        s.dialogSkinner = new CDialogSkinner(qApp);
        qApp->installEventFilter(s.dialogSkinner);
    }
    s.dialogSkinner->m_sheet = sheet;
    return true;
}

void ExemptFromSkin(QWidget* control) {
    if (!control || IsSkinExempt(control))
        return;
    control->setProperty(kExemptProperty, true);
    // Property selectors are evaluated when the control is polished.
    if (control->testAttribute(Qt::WA_WState_Polished)) {
        control->style()->unpolish(control);
        control->style()->polish(control);
        control->update();
    }
}

bool IsSkinExempt(const QWidget* control) {
    return control && control->property(kExemptProperty).toBool();
}

void ExitSkinMagicLib() {
    auto& s = State();
    ++s.releases;
    if (!s.initialised)
        return;
    delete s.dialogSkinner;
    s.dialogSkinner = nullptr;
    for (const auto& w : s.windows) {
        // A window that has since been given another style keeps it.
        if (w.window && w.window->styleSheet() == w.sheet)
            w.window->setStyleSheet(QString());
    }
    s.windows.clear();
    s.sections.clear();
    s.initialised = false;
}

int SkinInitCount() {
    return State().inits;
}

int SkinReleaseCount() {
    return State().releases;
}

bool IsSkinInitialised() {
    return State().initialised;
}
