// quillet-cli: the conversion of the window, for scripts. Same extraction stage, same encoders, same
// messages; settings are read (never written) from the program directory's "param.ini" or --settings.

#include "AudioSettings.h"
#include "ConversionJob.h"
#include "MediaProbe.h"
#include "MessageService.h"
#include "OutputNaming.h"
#include "SystemHelpers.h"
#include "TerminalJobView.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <unistd.h>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitInterrupted = 130;

volatile std::sig_atomic_t g_interrupted = 0;

void OnSignal(int) {
    g_interrupted = 1;
}

void Error(const std::string& text) {
    std::string t = text;
    while (!t.empty() && (t.back() == ' ' || t.back() == '\n'))
        t.pop_back();
    std::fprintf(stderr, "quillet-cli: %s\n", t.c_str());
}

int FormatFromName(const QString& name) {
    static const char* const kNames[] = {"mp3", "wav", "ogg", "wma", "flac", "opus", "m4a"};
    for (int i = 0; i < static_cast<int>(std::size(kNames)); ++i) {
        if (name.compare(kNames[i], Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool ParseSeconds(const QString& text, double& out) {
    bool ok = false;
    out = text.toDouble(&ok);
    return ok && out >= 0;
}

struct Options {
    bool haveStart = false, haveEnd = false, quiet = false;
    double start = 0, end = 0;
    QString output;
};

// Converts one source; returns the exit code for it.
int ConvertOne(const std::string& source, const Options& opt) {
    if (!FileExists(source) || DirectoryExists(source)) {
        Error("cannot open " + source + ": no such file");
        return kExitFailed;
    }
    double end = opt.end;
    if (!opt.haveEnd) {
        end = ProbeMediaDuration(source);
        if (end < 0) {
            Error("cannot read " + source + " as a video or audio file");
            return kExitFailed;
        }
    }
    if (end < opt.start) {
        Error("the end (" + std::to_string(end) + " s) lies before the start");
        return kExitFailed;
    }
    const int format = g_settings.m_nFormatIndex;
    const std::string tempFolder = g_settings.m_szTempPath.str();
    if (!DirectoryExists(tempFolder) && !CreateDirectoryPath(tempFolder)) {
        Error("cannot create the temporary folder " + tempFolder);
        return kExitFailed;
    }
    const std::string outputFolder = g_settings.m_szOutputPath.str();
    if (opt.output.isEmpty() && g_settings.m_nOutputPathType == 1 && !DirectoryExists(outputFolder) &&
        !CreateDirectoryPath(outputFolder)) {
        Error("cannot create the output folder " + outputFolder);
        return kExitFailed;
    }

    CTerminalJobView view(stderr, isatty(STDERR_FILENO) == 1, opt.quiet);
    CConversionJob job(view);
    job.m_strSourcePath = source;
    job.m_dStartTime = opt.start;
    job.m_dEndTime = end;
    job.m_strOutputPath = opt.output.isEmpty()
                              ? MakeOutputPath(source, format, g_settings.m_nOutputPathType, outputFolder)
                              : opt.output.toStdString();
    if (format != FORMAT_WAV) {
        job.m_tempWav = CTempWavFile::Reserve(tempFolder);
        if (!job.m_tempWav) {
            Error("cannot create a temporary file in " + tempFolder);
            return kExitFailed;
        }
    }
    job.m_strTempWavPath = job.m_tempWav ? job.m_tempWav->Path() : tempFolder + CTempWavFile::kName;

    QEventLoop loop;
    QObject::connect(&job, &CConversionJob::Ended, &loop, &QEventLoop::quit);
    QTimer interruptPoll;
    QObject::connect(&interruptPoll, &QTimer::timeout, [&] {
        if (g_interrupted)
            job.Cancel(); // Ctrl+C is the confirmed Cancel
    });
    interruptPoll.start(50);
    job.Start();
    if (!job.IsEnded())
        loop.exec();
    view.Finish();

    if (job.Result() == IDOK) {
        std::printf("%s\n", job.m_strOutputPath.c_str());
        return kExitOk;
    }
    if (job.IsFailed()) {
        Error("Converting task failed!  ");
        return kExitFailed;
    }
    Error("Converting task has been canceled!  ");
    return kExitInterrupted;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quillet-cli");
    QCoreApplication::setApplicationVersion(QUILLET_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes the audio of a time range of video or audio files as MP3, WAV, "
        "Ogg Vorbis, WMA, FLAC, Opus or AAC (M4A), with the settings of Quillet.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {{"s", "start"}, "Start of the range, in seconds (default 0).", "seconds"},
        {{"e", "end"}, "End of the range, in seconds (default: the end of the source).", "seconds"},
        {{"f", "format"},
         "Output format: mp3, wav, ogg, wma, flac, opus or m4a (default: the format of the settings).",
         "format"},
        {{"o", "output"},
         "Output file (one source only; default: <name>_OUTPUT.<ext> as the window names it).",
         "path"},
        {"settings", "Read the settings from this INI file instead of the program's param.ini.", "file"},
        {{"q", "quiet"}, "Print no progress."},
    });
    parser.addPositionalArgument("SOURCE", "Video or audio files to convert, one after another.",
                                 "SOURCE...");
    parser.process(app);

    const QStringList sources = parser.positionalArguments();
    Options opt;
    opt.quiet = parser.isSet("quiet");
    opt.output = parser.value("output");
    if (sources.isEmpty()) {
        Error("no source file given (see --help)");
        return kExitFailed;
    }
    if (!opt.output.isEmpty() && sources.size() > 1) {
        Error("--output takes one source only");
        return kExitFailed;
    }
    if ((opt.haveStart = parser.isSet("start")) && !ParseSeconds(parser.value("start"), opt.start)) {
        Error("--start takes a number of seconds, 0 or more");
        return kExitFailed;
    }
    if ((opt.haveEnd = parser.isSet("end")) && !ParseSeconds(parser.value("end"), opt.end)) {
        Error("--end takes a number of seconds, 0 or more");
        return kExitFailed;
    }

    g_settings.LoadFrom(parser.isSet("settings") ? parser.value("settings").toStdString()
                                                 : GetAppDirectory() + "param.ini");
    if (parser.isSet("format")) {
        const int format = FormatFromName(parser.value("format"));
        if (format < 0) {
            Error("--format takes mp3, wav, ogg, wma, flac, opus or m4a");
            return kExitFailed;
        }
        g_settings.m_nFormatIndex = format;
    }
    if (g_settings.m_nFormatIndex == FORMAT_WMA && !SupportsWmaOutput()) {
        Error("WMA output needs WmAudSDK.so in the program directory and FFmpeg's WMA encoder");
        return kExitFailed;
    }

    // Messages of the job go to the terminal; nothing here can answer a question, so none is asked.
    SetMessageHandler([](const MessageRequest& req) {
        Error(req.text);
        return req.buttons == MsgButtons::YesNo ? static_cast<int>(IDNO) : static_cast<int>(IDOK);
    });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    int exitCode = kExitOk;
    for (const QString& source : sources) {
        if (g_interrupted)
            break;
        const int code = ConvertOne(source.toStdString(), opt);
        if (code == kExitInterrupted) {
            exitCode = code;
            break;
        }
        if (code != kExitOk)
            exitCode = code;
    }
    WaitForEncoderThreads();
    return exitCode;
}
