#pragma once

#include <QImage>
#include <string>

// The front cover a media file carries: the picture that MP3 (ID3v2 APIC), FLAC and Ogg (picture
// blocks), MP4/M4A (covr) and WMA (WM/Picture) files embed, as FFmpeg presents it (an attached-picture
// stream), chosen as the outputs choose it (FrontCoverStream of SourceTags.h). A null image when the file has
// none, cannot be read or holds a picture that does not decode. Reads only the headers; any thread.
QImage ReadFrontCover(const std::string& path);
