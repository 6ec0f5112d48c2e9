#pragma once

#include <QString>
#include <QStringList>
#include <string>

// File names and command-line arguments are bytes, and need not be UTF-8 (a name from an old Latin-1
// disk, $'bad\xff.mp3'). Qt keeps text as UTF-16, and its own conversions turn such bytes into U+FFFD
// for good. These carry every byte that is not part of valid UTF-8 as a lone surrogate U+DC80..U+DCFF
// (which valid UTF-8 never gives), so BytesFromText(TextFromBytes(b)) == b for any bytes b, while
// valid UTF-8 reads as the text it is. Stateless; any thread.
QString TextFromBytes(const std::string& bytes);
std::string BytesFromText(const QString& text);

// argv[0..argc) as TextFromBytes gives each, for QCommandLineParser::process.
QStringList ArgumentsFromBytes(int argc, char** argv);
