#include "FileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

std::function<void(const std::string&)> g_testShow;

bool OpenFolder(const QString& file) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
}

} // namespace

void SetFileManagerForTesting(std::function<void(const std::string& path)> show) {
    g_testShow = std::move(show);
}

bool ShowInFileManager(const std::string& path) {
    if (g_testShow) {
        g_testShow(path);
        return true;
    }
    const QString file = QFile::decodeName(QByteArray::fromStdString(path));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return OpenFolder(file);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous: a file manager that is started by the bus for this may take a while.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [file](QDBusPendingCallWatcher* w) {
        if (w->isError())
            OpenFolder(file);
        w->deleteLater();
    });
    return true;
}
