#include "ByteText.h"
#include "ConverterApp.h"
#include "QuilletResources.h"
#include "QuitSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// The command line names at most the file to open; --help and --version answer without a display.
// Returns the absolute path of the file, "" for none; exits on --help, --version and errors.
std::string ParseCommandLine(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillet"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Takes the sound out of a video or audio file: preview it, mark a range, and write the audio of "
        "that range as MP3, WAV, Ogg Vorbis, WMA, FLAC, Opus or AAC (M4A)."));
    // Not addHelpOption: its --help-all lists Qt's own options, which this program does not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("Video or audio file to open at start, as with Open."),
                                 QStringLiteral("[FILE]"));
    parser.process(ArgumentsFromBytes(argc, argv)); // a name that is not UTF-8 keeps its bytes
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::exit(0);
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "quillet: one file at most (see --help)\n");
        std::exit(1);
    }
    if (files.isEmpty())
        return {};
    const std::string file = BytesFromText(files.front());
    if (file.empty() || file.front() == '/')
        return file;
    char* cwd = getcwd(nullptr, 0);
    const std::string absolute = cwd ? std::string(cwd) + "/" + file : file;
    std::free(cwd);
    return absolute;
}

} // namespace

int main(int argc, char** argv) {
    const std::string fileToOpen = ParseCommandLine(argc, argv);
    // Qt gets no arguments of its own.
    int qtArgc = 1;
    char* qtArgs[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgs);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUILLET_APP_ID));
    InitQuilletResources();
    CConverterApp theApp;
    theApp.m_strFileToOpen = fileToOpen;
    theApp.InitInstance();
    const int code = theApp.ExitInstance();
    CQuitSignals::ReRaise();
    return code;
}
