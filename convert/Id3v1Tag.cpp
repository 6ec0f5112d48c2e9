#include "Id3v1Tag.h"

#include <QString>
#include <cstring>

namespace {

// ID3v1 readers take the text as Latin-1; characters it has no place for become '?'.
void PutField(char* field, size_t width, const QString& text) {
    std::memset(field, ' ', width);
    const QByteArray latin1 = text.toLatin1();
    std::memcpy(field, latin1.constData(), std::min(width, static_cast<size_t>(latin1.size())));
}

} // namespace

std::string Mp3FileTitle(const std::string& outputFileName) {
    // Characters, not bytes, so a name with accents loses exactly its suffix.
    std::u32string name = QString::fromStdString(outputFileName).toStdU32String();
    name.resize(name.size() > 11 ? name.size() - 11 : 0);
    return QString::fromStdU32String(name).toStdString();
}

std::array<char, kId3v1Size> BuildId3v1Tag(const std::string& outputFileName, const std::string& artist,
                                           const std::string& album, const std::string& year,
                                           int genreIndex) {
    std::array<char, kId3v1Size> tag;
    std::memcpy(tag.data(), "TAG", 3);
    PutField(tag.data() + 3, 30, QString::fromStdString(Mp3FileTitle(outputFileName)));
    PutField(tag.data() + 33, 30, QString::fromStdString(artist));
    PutField(tag.data() + 63, 30, QString::fromStdString(album));
    PutField(tag.data() + 93, 4, QString::fromStdString(year));
    PutField(tag.data() + 97, 30, QStringLiteral("Quillet"));
    tag[127] = static_cast<char>(genreIndex & 0xFF);
    return tag;
}
