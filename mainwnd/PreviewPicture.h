#pragma once

#include <QImage>
#include <QPixmap>
#include <QSize>

// What the preview area shows where there is no video: the front cover of an audio file that carries
// one, otherwise picture 148. Drawn anew for each size at the screen's scale (picture 148 from its
// drawing), so it stays sharp at 150 % and 200 %; either keeps its proportions on a black ground.
// GUI thread only.
class CPreviewPicture {
public:
    // No cover: picture 148.
    void SetCover(QImage cover) { m_cover = std::move(cover); }
    bool HasCover() const { return !m_cover.isNull(); }

    // A picture of the size (in device-independent pixels) at the device pixel ratio.
    QPixmap Render(QSize size, qreal devicePixelRatio) const;

private:
    QImage m_cover;
};
