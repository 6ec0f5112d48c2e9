#include "RecentFiles.h"

#include "AudioSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <algorithm>

void RememberRecentFile(const std::string& path) {
    std::vector<std::string>& recent = g_settings.m_recentFiles;
    // A path the settings could not keep whole would come back as another file.
    if (path.empty() || path.front() != '/' ||
        CBoundedText::Cut(path, CAudioSettings::kPathChars).size() != path.size())
        return;
    recent.erase(std::remove(recent.begin(), recent.end(), path), recent.end());
    recent.insert(recent.begin(), path);
    if (recent.size() > CAudioSettings::kRecentFiles)
        recent.resize(CAudioSettings::kRecentFiles);
}

void RunRecentFilesMenu(QWidget* parent, const QPoint& at,
                        const std::function<void(const std::string&)>& open) {
    QMenu menu(parent);
    menu.setAccessibleName(QStringLiteral("Recent Files"));
    menu.setToolTipsVisible(true);
    int number = 0;
    for (const std::string& path : g_settings.m_recentFiles) {
        const QFileInfo file(QFile::decodeName(QByteArray::fromStdString(path)));
        if (!file.isFile())
            continue;
        ++number;
        // "&1" .. "&9", then "1&0": a key for each.
        const QString key = number < 10 ? QStringLiteral("&%1").arg(number) : QStringLiteral("1&0");
        QString name = file.fileName();
        name.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QString folder = menu.fontMetrics().elidedText(file.absolutePath(), Qt::ElideMiddle, 400);
        folder.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* action =
            menu.addAction(key + QLatin1Char(' ') + name + QStringLiteral("  (") + folder + ')');
        action->setToolTip(file.absoluteFilePath());
        action->setData(QByteArray::fromStdString(path));
    }
    if (number == 0)
        menu.addAction(QStringLiteral("No Recent Files"))->setEnabled(false);
    menu.addSeparator();
    QAction* clear = menu.addAction(QStringLiteral("&Clear Recent Files"));
    clear->setEnabled(!g_settings.m_recentFiles.empty());
    // Acted on once the menu has closed, so that opening a file runs outside the menu's own loop.
    const QAction* chosen = menu.exec(at);
    if (chosen == clear)
        g_settings.m_recentFiles.clear();
    else if (chosen && chosen->data().isValid())
        open(chosen->data().toByteArray().toStdString());
}
