#pragma once

#include "SoundOptions.h" // settings

#include <QCommandLineParser>
#include <QStringList>
#include <string>

// quillet-cli's options for loudness and fades: --normalize[=LUFS], --true-peak DBTP, --fade-in MS,
// --fade-out MS. They change only this run's settings, never the settings file.

// The options, for the parser's list and --help.
QList<QCommandLineOption> SoundCliOptions();
// QCommandLineParser has no options with an optional value: a bare --normalize becomes
// --normalize=<default target> before parsing.
QStringList ExpandSoundArguments(QStringList arguments);
// Sets what the command line gives into `options`; false with a message for a value out of range.
bool ApplySoundCliOptions(const QCommandLineParser& parser, SoundOptions& options, std::string* error);
