#pragma once

#include <QString>
#include <string>

// What the "original" format will do with a source's audio track, for the format list: its codec, the
// file type it goes into, and whether players will play exactly the marked range or whole frames around
// it. Without a source (empty path), what it does in general. Reads the source's headers on the calling
// thread; a track that cannot be copied is said so in the text.
struct CCopyHint {
    QString text;
    bool warning = false; // the output will hold more than the range, or cannot be made
};
CCopyHint DescribeCopyHint(const std::string& sourcePath, int track);
