// Renders the program's drawings to pictures: bitmap 148 from its SVG, the program icon in the sizes
// desktop menus ask for (res/linux/icons/), and a contact sheet of icons for looking at them side by side.
//
//   quillet_render_pictures picture <in.svg> <out.png>
//   quillet_render_pictures icon <in.svg> <size> <out.png>
//   quillet_render_pictures sheet <out.png> <icon.svg>... [--picture <148.png>]

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

namespace {

QImage Render(const QString& path, QSize size) {
    QSvgRenderer svg(path);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (!svg.isValid())
        return {};
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p);
    return image;
}

int Picture(const QString& in, const QString& out) {
    QSvgRenderer svg(in);
    if (!svg.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(in));
        return 1;
    }
    QImage image = Render(in, svg.defaultSize()).convertToFormat(QImage::Format_RGB32);
    return image.save(out) ? 0 : 1;
}

int Sheet(const QString& out, const QStringList& icons, const QString& picture) {
    const int sizes[] = {16, 24, 32, 48, 64};
    const QColor backgrounds[] = {QColor("#ffffff"), QColor("#f3f5f8"), QColor("#3c3f44")};
    const int cell = 72;
    const int rows = static_cast<int>(icons.size());
    const QImage pic(picture);
    const int width = qMax(cell * 15 + 140, pic.isNull() ? 0 : pic.width() * 2 + 20);
    const int height = rows * cell + 20 + (pic.isNull() ? 0 : pic.height() * 2 + 20);
    QImage sheet(width, height, QImage::Format_RGB32);
    sheet.fill(QColor("#d9dde3"));
    QPainter p(&sheet);
    for (int r = 0; r < rows; ++r) {
        p.setPen(Qt::black);
        p.drawText(QRect(4, r * cell, 130, cell), Qt::AlignVCenter, QFileInfo(icons[r]).fileName());
        int x = 140;
        for (const QColor& bg : backgrounds) {
            for (int size : sizes) {
                p.fillRect(QRect(x, r * cell, cell, cell), bg);
                const QImage img = Render(icons[r], QSize(size, size));
                p.drawImage(x + (cell - size) / 2, r * cell + (cell - size) / 2, img);
                x += cell;
            }
        }
    }
    if (!pic.isNull()) {
        const int y = rows * cell + 20;
        p.drawImage(0, y, pic);
        p.drawImage(QRect(pic.width() + 20, y, pic.width() * 2 - pic.width(), pic.height()), pic);
        p.drawImage(
            QRect(0, y + pic.height() + 10, pic.width() * 2, pic.height() * 2 - pic.height() - 10),
            pic.scaled(pic.width() * 2, pic.height() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
            QRect(pic.width() / 2, pic.height() / 2, pic.width(), pic.height() / 2));
    }
    return sheet.save(out) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args[0] == "picture")
        return Picture(args[1], args[2]);
    if (args.size() == 4 && args[0] == "icon") {
        const int size = args[2].toInt();
        return size > 0 && Render(args[1], QSize(size, size)).save(args[3]) ? 0 : 1;
    }
    if (args.size() >= 3 && args[0] == "sheet") {
        QStringList icons = args.mid(2);
        QString picture;
        const int at = static_cast<int>(icons.indexOf("--picture"));
        if (at >= 0 && at + 1 < icons.size()) {
            picture = icons[at + 1];
            icons = icons.mid(0, at);
        }
        return Sheet(args[1], icons, picture);
    }
    std::fprintf(stderr,
                 "usage: %s picture <in.svg> <out.png> | icon <in.svg> <size> <out.png> | sheet <out.png> "
                 "<icon.svg>... [--picture <png>]\n",
                 argv[0]);
    return 2;
}
