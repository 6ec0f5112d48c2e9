// quillet-cli: the conversion of the window, for scripts. Same extraction stage, same encoders, same
// messages; settings are read (never written) from the window's "param.ini" or --settings.

#include "AudioSettings.h"
#include "ConversionJob.h"
#include "EncoderLibrary.h"
#include "MediaProbe.h"
#include "MessageService.h"
#include "OutputNaming.h"
#include "SystemHelpers.h"
#include "TerminalJobView.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitInterrupted = 130;

// Set by the signal handler, read by every conversion running side by side.
std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free, "stored from a signal handler");

void OnSignal(int) {
    g_interrupted = 1;
}

// The source that a thread converts while several convert side by side ("[2/8] clip.mp4: "); its
// lines start with it.
thread_local std::string t_label;

void Error(const std::string& text) {
    std::string t = text;
    while (!t.empty() && (t.back() == ' ' || t.back() == '\n'))
        t.pop_back();
    std::fprintf(stderr, "quillet-cli: %s%s\n", t_label.c_str(), t.c_str());
}

// Output names chosen by conversions that run side by side and have not written them yet, so that two
// sources of the same name do not pick the same output.
std::mutex g_claimMutex;
std::set<std::string> g_claimedOutputs;

std::string ClaimOutputPath(const std::string& source, int format, const std::string& outputFolder) {
    std::lock_guard lock(g_claimMutex);
    const std::string path =
        MakeOutputPath(source, format, g_settings.m_nOutputPathType, outputFolder,
                       [](const std::string& p) { return g_claimedOutputs.count(p) > 0; });
    g_claimedOutputs.insert(path);
    return path;
}

struct OutputClaim {
    std::string path;
    ~OutputClaim() {
        std::lock_guard lock(g_claimMutex);
        g_claimedOutputs.erase(path);
    }
};

int FormatFromName(const QString& name) {
    static const char* const kNames[] = {"mp3", "wav", "ogg", "wma", "flac", "opus", "m4a", "original"};
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
        // A stream written to a pipe tells no duration: the range runs to the end of what it holds.
        if (end == 0)
            end = std::numeric_limits<double>::infinity();
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

    // Lines redrawn in place would overwrite each other's when several conversions run.
    CTerminalJobView view(stderr, isatty(STDERR_FILENO) == 1 && t_label.empty(), opt.quiet);
    view.SetLabel(t_label);
    CConversionJob job(view);
    job.m_strSourcePath = source;
    job.m_dStartTime = opt.start;
    job.m_dEndTime = end;
    job.m_strOutputPath =
        opt.output.isEmpty() ? ClaimOutputPath(source, format, outputFolder) : opt.output.toStdString();
    const OutputClaim claim{opt.output.isEmpty() ? job.m_strOutputPath : std::string()};
    if (format != FORMAT_WAV && format != FORMAT_ORIGINAL) {
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
        if (!job.ClosingNote().empty() && !opt.quiet)
            Error(job.ClosingNote());
        return kExitOk;
    }
    if (job.IsFailed()) {
        Error("Converting task failed!  ");
        return kExitFailed;
    }
    Error("Converting task has been canceled!  ");
    return kExitInterrupted;
}

// Converts up to `jobs` sources at once, each on a thread with an event loop of its own. Returns the
// exit code for all of them.
int ConvertSideBySide(const QStringList& sources, const Options& opt, int jobs) {
    std::atomic<int> next{0};
    std::atomic<bool> failed{false}, interrupted{false};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < std::min(jobs, static_cast<int>(sources.size())); ++i) {
        threads.emplace_back(QThread::create([&] {
            for (int k = next++; k < sources.size(); k = next++) {
                if (g_interrupted) {
                    interrupted = true; // sources left unconverted
                    break;
                }
                const std::string source = sources[k].toStdString();
                t_label = Format("[%d/%d] %s: ", k + 1, static_cast<int>(sources.size()),
                                 FileNameOf(source).c_str());
                const int code = ConvertOne(source, opt);
                if (code == kExitInterrupted)
                    interrupted = true;
                else if (code != kExitOk)
                    failed = true;
            }
        }));
        threads.back()->start();
    }
    for (auto& thread : threads)
        thread->wait();
    return interrupted ? kExitInterrupted : failed ? kExitFailed : kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("quillet-cli");
    QCoreApplication::setApplicationVersion(QUILLET_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes the audio of a time range of video or audio files as MP3, WAV, "
        "Ogg Vorbis, WMA, FLAC, Opus or AAC (M4A), with the settings of Quillet, or copies it as it is "
        "(original).");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {{"s", "start"}, "Start of the range, in seconds (default 0).", "seconds"},
        {{"e", "end"}, "End of the range, in seconds (default: the end of the source).", "seconds"},
        {{"f", "format"},
         "Output format: mp3, wav, ogg, wma, flac, opus, m4a or original (the source's own audio, not "
         "re-encoded, its file type following the codec; default: the format of the settings).",
         "format"},
        {{"o", "output"},
         "Output file (one source only; default: <name>_OUTPUT.<ext> as the window names it).",
         "path"},
        {"settings", "Read the settings from this INI file instead of the program's param.ini.", "file"},
        {{"q", "quiet"}, "Print no progress."},
        {{"j", "jobs"}, "Convert up to N sources at once (default 1; 0: one per core).", "N"},
    });
    parser.addPositionalArgument("SOURCE", "Video or audio files to convert, one after another (see -j).",
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
    bool jobsOk = true;
    int jobs = parser.isSet("jobs") ? parser.value("jobs").toInt(&jobsOk) : 1;
    if (!jobsOk || jobs < 0) {
        Error("--jobs takes a number of conversions, 0 or more");
        return kExitFailed;
    }
    if (jobs == 0)
        jobs = CoreCount();

    g_settings.LoadFrom(parser.isSet("settings") ? parser.value("settings").toStdString()
                                                 : SettingsFilePath());
    if (parser.isSet("format")) {
        const int format = FormatFromName(parser.value("format"));
        if (format < 0) {
            Error("--format takes mp3, wav, ogg, wma, flac, opus, m4a or original");
            return kExitFailed;
        }
        g_settings.m_nFormatIndex = format;
    }
    if (g_settings.m_nFormatIndex == FORMAT_WMA && !SupportsWmaOutput()) {
        Error(WmaOutputMissing());
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
    if (jobs > 1 && sources.size() > 1) {
        exitCode = ConvertSideBySide(sources, opt, jobs);
    } else {
        for (const QString& source : sources) {
            if (g_interrupted) {
                exitCode = kExitInterrupted; // sources left unconverted
                break;
            }
            const int code = ConvertOne(source.toStdString(), opt);
            if (code == kExitInterrupted) {
                exitCode = code;
                break;
            }
            if (code != kExitOk)
                exitCode = code;
        }
    }
    WaitForEncoderThreads();
    return exitCode;
}
