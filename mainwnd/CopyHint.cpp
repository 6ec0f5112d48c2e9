#include "CopyHint.h"

#include "VideoEdit.h"

#include <cmath>

CCopyHint DescribeCopyHint(const std::string& sourcePath, int track) {
    if (sourcePath.empty())
        return {
            QStringLiteral("original: the source's own audio, not re-encoded. Exact to the sample for AAC, "
                           "ALAC, MP3, Opus, Vorbis, FLAC and PCM; AC-3, E-AC-3, DTS, MP2 and other codecs "
                           "in whole frames: up to 32 ms more at each end."),
            false};
    CCopyInfo info;
    std::string message;
    if (!CVideoEdit::DescribeCopy(sourcePath, track, &info, &message))
        return {QString::fromStdString(message), true};
    QString text = QStringLiteral("original: the source's own audio (%1), not re-encoded, saved as %2; ")
                       .arg(QString::fromStdString(info.codec), QString::fromStdString(info.extension));
    if (info.exact)
        return {text + QStringLiteral("exact to the sample."), false};
    const int ms = info.frameSeconds > 0 ? static_cast<int>(std::ceil(info.frameSeconds * 1000 - 1e-6)) : 32;
    return {text + QStringLiteral("whole frames: up to %1 ms more at each end.").arg(ms), true};
}
