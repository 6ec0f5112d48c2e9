#include "PreviewPicture.h"

#include "QuilletResources.h"

#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

QPixmap CPreviewPicture::Render(QSize size, qreal devicePixelRatio) const {
    const QSize pixels(static_cast<int>(std::ceil(size.width() * devicePixelRatio)),
                       static_cast<int>(std::ceil(size.height() * devicePixelRatio)));
    if (pixels.isEmpty())
        return {};
    QImage image(pixels, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    if (HasCover()) {
        QRect place(QPoint(), m_cover.size().scaled(pixels, Qt::KeepAspectRatio));
        place.moveCenter(image.rect().center());
        painter.drawImage(place, m_cover);
    } else {
        QSvgRenderer drawing(BitmapResourcePath(IDB_PICTURE));
        QRectF place(QPointF(),
                     QSizeF(kPictureWidth, kPictureHeight).scaled(QSizeF(pixels), Qt::KeepAspectRatio));
        place.moveCenter(QRectF(image.rect()).center());
        drawing.render(&painter, place);
    }
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}
