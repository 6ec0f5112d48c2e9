#include "QuilletResources.h"

#include <QFile>

// Q_INIT_RESOURCE must stand outside any namespace.
static void InitResourceData() {
    Q_INIT_RESOURCE(quillet);
}

void InitQuilletResources() {
    static const bool done = (InitResourceData(), true);
    (void)done;
}

namespace {

QString FirstExisting(const QString& stem, std::initializer_list<const char*> extensions) {
    for (const char* ext : extensions) {
        const QString path = stem + QLatin1String(ext);
        if (QFile::exists(path))
            return path;
    }
    return {};
}

} // namespace

QString IconResourcePath(int id) {
    return FirstExisting(QStringLiteral(":/icons/%1").arg(id), {".svg", ".png"});
}

QString BitmapResourcePath(int id) {
    return FirstExisting(QStringLiteral(":/bitmaps/%1").arg(id), {".svg", ".png"});
}
