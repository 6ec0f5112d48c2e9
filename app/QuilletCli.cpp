// quillet-cli: the conversion of the window, for scripts. Same extraction stage, same encoders, same
// messages; settings are read (never written) from the window's "param.ini" or --settings.

#include "AudioSettings.h"
#include "AudioTracks.h"
#include "ByteText.h"
#include "CliSoundOptions.h"
#include "ConversionJob.h"
#include "EncoderLibrary.h"
#include "MediaProbe.h"
#include "MessageService.h"
#include "OutputClaim.h"
#include "OutputNaming.h"
#include "PieceList.h"
#include "SystemHelpers.h"
#include "TerminalJobView.h"
#include "WaveformReader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitShort = 2; // converted, but the source ended before the range did
constexpr int kExitInterrupted = 130;

// The first of SIGINT, SIGTERM and SIGHUP that came; read by every conversion running side by side.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "stored from a signal handler");

void OnSignal(int sig) {
    int none = 0;
    g_signal.compare_exchange_strong(none, sig);
}

// Messages of conversions running side by side start with their source ("[2/8] clip.mp4: "), those of
// their encoder threads too.
void Error(const std::string& text) {
    std::string t = text;
    while (!t.empty() && (t.back() == ' ' || t.back() == '\n'))
        t.pop_back();
    std::fprintf(stderr, "quillet-cli: %s%s\n", JobLabel().c_str(), t.c_str());
}

int FormatFromName(const QString& name) {
    static const char* const kNames[] = {"mp3", "wav", "ogg", "wma", "flac", "opus", "m4a", "original"};
    for (int i = 0; i < static_cast<int>(std::size(kNames)); ++i) {
        if (name.compare(kNames[i], Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool ParseSeconds(const QString& text, double& out) {
    return ParseClock(text.toStdString(), out);
}

// Where a source's pieces come from; None converts one range as before.
enum class PieceSource { None, Ranges, Chapters, Cue, Silence };

struct Options {
    bool haveStart = false, haveEnd = false, quiet = false, overwrite = false;
    double start = 0, end = 0;
    int track = 0;      // 0: the default track
    std::string output; // bytes, as given
    PieceSource pieces = PieceSource::None;
    std::vector<Piece> ranges; // --range
    std::string cue;           // --cue
    double silenceDb = kDefaultSilenceDb, shortestSilence = kDefaultShortestSilence;
    bool join = false;
};

// --list-tracks: a line for the source, then one per audio track, its fields separated by tabs: number,
// language, title, codec, sample rate, channels, duration, and "default" for the default track.
int ListTracks(const std::string& source) {
    std::vector<AudioTrack> tracks;
    if (!SourceFileProblem(source).empty() || !ProbeAudioTracks(source, tracks)) {
        Error("cannot read " + source + " as a video or audio file");
        return kExitFailed;
    }
    const int chosen = DefaultAudioTrack(tracks);
    std::printf("%s:\n", source.c_str());
    auto field = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    for (const AudioTrack& t : tracks) {
        const std::string channels = t.channels > 0 ? std::to_string(t.channels) + " ch" +
                                                          (t.layout.empty() ? "" : " (" + t.layout + ")")
                                                    : "-";
        std::printf("%d\t%s\t%s\t%s\t%s\t%s\t%s%s\n", t.number, field(t.language).c_str(),
                    field(t.title).c_str(), t.codec.c_str(),
                    t.sampleRate > 0 ? (std::to_string(t.sampleRate) + " Hz").c_str() : "-", channels.c_str(),
                    t.duration > 0 ? FormatTime(t.duration).c_str() : "-",
                    t.number == chosen ? "\tdefault" : "");
    }
    return kExitOk;
}

// The pieces of one source as the options ask; false (told) when there are none.
bool FindPieces(const std::string& source, const Options& opt, std::vector<Piece>& pieces,
                std::string& album) {
    std::string problem;
    switch (opt.pieces) {
    case PieceSource::Ranges:
        pieces = opt.ranges;
        break;
    case PieceSource::Chapters:
        if (!ReadChapters(source, pieces, problem)) {
            Error(problem);
            return false;
        }
        if (pieces.empty()) {
            Error(source + " has no chapters");
            return false;
        }
        break;
    case PieceSource::Cue: {
        CueSheet sheet;
        if (!ReadCueSheet(opt.cue, sheet, problem)) {
            Error(problem);
            return false;
        }
        pieces = sheet.pieces;
        album = sheet.title;
        break;
    }
    case PieceSource::Silence: {
        CPeakOverview overview;
        const std::atomic<bool> stop{false};
        if (!CWaveformReader::Read(source, opt.track, overview, stop)) {
            Error("cannot read the sound of " + source);
            return false;
        }
        pieces = SplitOverviewAtSilence(overview, opt.silenceDb, opt.shortestSilence);
        if (pieces.empty()) {
            Error(source + " has no sound above " + std::to_string(static_cast<int>(opt.silenceDb)) +
                  " dBFS");
            return false;
        }
        break;
    }
    case PieceSource::None:
        return false;
    }
    return true;
}

// Converts the pieces of one source; returns the exit code for it.
int ConvertPieces(const std::string& source, const Options& opt, const std::string& tempFolder) {
    std::vector<Piece> pieces;
    std::string album;
    if (!FindPieces(source, opt, pieces, album))
        return kExitFailed;
    // A piece that runs to the end ends where the source does, where that is known.
    const double duration = ProbeMediaDuration(source);
    for (Piece& piece : pieces)
        if (!std::isfinite(piece.end) && duration > piece.start)
            piece.end = duration;
    const int format = g_settings.m_nFormatIndex;
    const int count = static_cast<int>(pieces.size());
    const std::string base = SourceBaseName(source);
    const std::string ext = OutputExtension(format, source, opt.track);
    std::string refusal;
    std::vector<std::shared_ptr<COutputClaim>> outputs;
    const bool pattern = opt.output.find('%') != std::string::npos;
    std::string folder = OutputFolder(source, g_settings.m_nOutputPathType, g_settings.m_szOutputPath.str());
    if (!opt.join && !opt.output.empty() && !pattern)
        folder = opt.output.back() == '/' ? opt.output : opt.output + "/";
    if ((opt.join ? opt.output.empty() : !pattern) && !folder.empty() && !DirectoryExists(folder) &&
        !CreateDirectoryPath(folder)) {
        Error("cannot create the output folder " + folder + " (" + std::strerror(errno) + ")");
        return kExitFailed;
    }
    // Every output is claimed before anything is decoded: a name that cannot be had is told first.
    for (int k = 1; k <= (opt.join ? 1 : count); ++k) {
        const std::string& name = pieces[static_cast<size_t>(k - 1)].name;
        std::shared_ptr<COutputClaim> claim;
        if (opt.join)
            claim = opt.output.empty()
                        ? COutputClaim::ClaimNumbered(source, format, g_settings.m_nOutputPathType,
                                                      g_settings.m_szOutputPath.str(), &refusal, opt.track)
                        : COutputClaim::ClaimExact(opt.output, source, opt.overwrite, &refusal);
        else if (pattern)
            claim = COutputClaim::ClaimExact(ExpandPiecePattern(opt.output, base, k, count, name) + ext,
                                             source, opt.overwrite, &refusal);
        else
            claim = ClaimPieceOutput(folder, base, k, count, name, ext, &refusal);
        if (!claim) {
            Error(refusal);
            return kExitFailed;
        }
        outputs.push_back(claim);
    }

    CTerminalJobView view(stderr, isatty(STDERR_FILENO) == 1 && JobLabel().empty(), opt.quiet);
    view.SetLabel(JobLabel());
    CPieceRun run(view);
    run.m_strSourcePath = source;
    run.m_nAudioTrack = opt.track;
    run.m_pieces = pieces;
    run.m_bJoin = opt.join;
    run.m_outputs = outputs;
    run.m_strAlbum = album.empty() ? DefaultPieceAlbum(source, opt.track) : album;
    run.m_strTempFolder = tempFolder;
    outputs.clear();

    QEventLoop loop;
    QObject::connect(&run, &CPieceRun::Ended, &loop, &QEventLoop::quit);
    QTimer interruptPoll;
    QObject::connect(&interruptPoll, &QTimer::timeout, [&] {
        if (g_signal)
            run.Cancel();
    });
    interruptPoll.start(50);
    run.Start();
    if (!run.IsEnded())
        loop.exec();
    view.Finish();
    for (const std::string& path : run.Written())
        std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    for (const std::string& note : run.Notes())
        if (!opt.quiet || run.IsShort())
            Error(note);
    if (run.Result() == IDOK)
        return run.IsShort() ? kExitShort : kExitOk;
    if (run.IsFailed()) {
        Error("Converting task failed!  ");
        return kExitFailed;
    }
    Error("Converting task has been canceled!  ");
    return kExitInterrupted;
}

// Converts one source; returns the exit code for it.
int ConvertOne(const std::string& source, const Options& opt) {
    // A FIFO or a device could keep the program waiting for ever on its first read.
    if (const std::string problem = SourceFileProblem(source); !problem.empty()) {
        Error("cannot open " + source + ": " + problem);
        return kExitFailed;
    }
    if (opt.track > 0) {
        std::vector<AudioTrack> tracks;
        ProbeAudioTracks(source, tracks);
        if (opt.track > static_cast<int>(tracks.size())) {
            const auto count = std::to_string(tracks.size());
            Error(source + " has no audio track " + std::to_string(opt.track) + " (it has " + count +
                  (tracks.size() == 1 ? " audio track" : " audio tracks") + "; see --list-tracks)");
            return kExitFailed;
        }
    }
    if (opt.pieces != PieceSource::None) {
        const std::string tempFolder = g_settings.m_szTempPath.str();
        if (!DirectoryExists(tempFolder) && !CreateDirectoryPath(tempFolder)) {
            Error("cannot create the temporary folder " + tempFolder + " (" + std::strerror(errno) + ")");
            return kExitFailed;
        }
        return ConvertPieces(source, opt, tempFolder);
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
        Error("cannot create the temporary folder " + tempFolder + " (" + std::strerror(errno) + ")");
        return kExitFailed;
    }
    const std::string outputFolder = g_settings.m_szOutputPath.str();
    if (opt.output.empty() && g_settings.m_nOutputPathType == 1 && !DirectoryExists(outputFolder) &&
        !CreateDirectoryPath(outputFolder)) {
        Error("cannot create the output folder " + outputFolder + " (" + std::strerror(errno) + ")");
        return kExitFailed;
    }
    // The output's name is claimed now: it is this run's against every other run, and a folder that
    // cannot take it is told before step 1 decodes anything.
    std::string refusal;
    const std::shared_ptr<COutputClaim> output =
        opt.output.empty() ? COutputClaim::ClaimNumbered(source, format, g_settings.m_nOutputPathType,
                                                         outputFolder, &refusal, opt.track)
                           : COutputClaim::ClaimExact(opt.output, source, opt.overwrite, &refusal);
    if (!output) {
        Error(refusal);
        return kExitFailed;
    }

    // Lines redrawn in place would overwrite each other's when several conversions run.
    CTerminalJobView view(stderr, isatty(STDERR_FILENO) == 1 && JobLabel().empty(), opt.quiet);
    view.SetLabel(JobLabel());
    CConversionJob job(view);
    job.m_strSourcePath = source;
    job.m_nAudioTrack = opt.track;
    job.m_dStartTime = opt.start;
    job.m_dEndTime = end;
    job.m_strOutputPath = output->Path();
    job.m_output = output;
    if (format != FORMAT_WAV && format != FORMAT_ORIGINAL) {
        job.m_tempWav = CTempWavFile::Reserve(tempFolder);
        if (!job.m_tempWav) {
            Error("cannot create a temporary file in " + tempFolder + " (" + std::strerror(errno) + ")");
            return kExitFailed;
        }
    }
    job.m_strTempWavPath = job.m_tempWav ? job.m_tempWav->Path() : tempFolder + CTempWavFile::kName;

    QEventLoop loop;
    QObject::connect(&job, &CConversionJob::Ended, &loop, &QEventLoop::quit);
    QTimer interruptPoll;
    QObject::connect(&interruptPoll, &QTimer::timeout, [&] {
        if (g_signal)
            job.Cancel(); // Ctrl+C is the confirmed Cancel
    });
    interruptPoll.start(50);
    job.Start();
    if (!job.IsEnded())
        loop.exec();
    view.Finish();

    if (job.Result() == IDOK) {
        std::printf("%s\n", job.m_strOutputPath.c_str());
        std::fflush(stdout);
        if (!job.ClosingNote().empty() && !opt.quiet)
            Error(job.ClosingNote());
        if (!job.IsShort())
            return kExitOk;
        Error(job.ShortWarning());
        return kExitShort;
    }
    if (job.IsFailed()) {
        Error("Converting task failed!  ");
        return kExitFailed;
    }
    Error("Converting task has been canceled!  ");
    return kExitInterrupted;
}

// The exit code for several sources: an interruption before a failure before a short output.
int Worse(int a, int b) {
    for (int code : {kExitInterrupted, kExitFailed, kExitShort})
        if (a == code || b == code)
            return code;
    return kExitOk;
}

// Converts up to `jobs` sources at once, each on a thread with an event loop of its own. Returns the
// exit code for all of them.
int ConvertSideBySide(const std::vector<std::string>& sources, const Options& opt, int jobs) {
    std::atomic<int> next{0};
    std::mutex mutex;
    int exitCode = kExitOk;
    std::vector<std::unique_ptr<QThread>> threads;
    const int count = static_cast<int>(sources.size());
    for (int i = 0; i < std::min(jobs, count); ++i) {
        threads.emplace_back(QThread::create([&] {
            for (int k = next++; k < count; k = next++) {
                int code = kExitInterrupted; // sources left unconverted
                if (!g_signal) {
                    SetJobLabel(Format("[%d/%d] %s: ", k + 1, count, FileNameOf(sources[k]).c_str()));
                    code = ConvertOne(sources[k], opt);
                }
                std::lock_guard lock(mutex);
                exitCode = Worse(exitCode, code);
            }
        }));
        threads.back()->start();
    }
    for (auto& thread : threads)
        thread->wait();
    return exitCode;
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
        {{"s", "start"}, "Start of the range, in seconds or [hh:]mm:ss[.fff] (default 0).", "time"},
        {{"e", "end"}, "End of the range, as --start (default: the end of the source).", "time"},
        {{"r", "range"},
         "A piece START-END (times as --start; END empty: to the end). Repeat it for several pieces, each "
         "written to a file of its own named <name> - NN - Piece NN.<ext>.",
         "START-END"},
        {"chapters", "One piece per chapter of the source (Matroska, MP4/M4B, Ogg), named by its title."},
        {"cue", "One piece per track of this cue sheet (one source only), named by its TITLE and PERFORMER.",
         "file"},
        {"split-silence",
         "Pieces between silences: below DB dBFS for at least SECONDS (default -40,1.0; give the option as "
         "--split-silence or --split-silence=DB,SECONDS).",
         "DB,SECONDS"},
        {"join", "Write the pieces, in order, into one file instead of one file each."},
        {{"f", "format"},
         "Output format: mp3, wav, ogg, wma, flac, opus, m4a or original (the source's own audio, not "
         "re-encoded, its file type following the codec; default: the format of the settings).",
         "format"},
        {{"o", "output"},
         "Output file (one source only; default: <name>_OUTPUT.<ext> as the window names it). An existing "
         "file is not replaced without --overwrite, and the source never is. With several pieces: the "
         "folder for them, or a name pattern without extension in which %b stands for the source's name, "
         "%n for the piece's number and %t for its name.",
         "path"},
        {"overwrite", "Let --output replace an existing file (never the source)."},
        {{"a", "audio-track"},
         "Audio track to convert, by its number in --list-tracks (default: the track the source marks as "
         "default, else the first).",
         "N"},
        {"list-tracks", "List each source's audio tracks (number, language, title, codec, sample rate, "
                        "channels, duration) and convert nothing."},
        {"settings", "Read the settings from this INI file instead of the program's param.ini.", "file"},
        {{"q", "quiet"}, "Print no progress."},
        {{"j", "jobs"}, "Convert up to N sources at once (default 1; 0: one per core).", "N"},
    });
    parser.addOptions(SoundCliOptions());
    parser.addPositionalArgument("SOURCE", "Video or audio files to convert, one after another (see -j).",
                                 "SOURCE...");
    // Names are bytes: one that is not UTF-8 must reach the file system as it was given. A bare
    // --split-silence takes the defaults.
    QStringList arguments = ExpandSoundArguments(ArgumentsFromBytes(argc, argv));
    for (QString& argument : arguments)
        if (argument == "--split-silence")
            argument = "--split-silence=";
    parser.process(arguments);

    std::vector<std::string> sources;
    for (const QString& source : parser.positionalArguments())
        sources.push_back(BytesFromText(source));
    Options opt;
    opt.quiet = parser.isSet("quiet");
    opt.overwrite = parser.isSet("overwrite");
    opt.output = BytesFromText(parser.value("output"));
    if (sources.empty()) {
        Error("no source file given (see --help)");
        return kExitFailed;
    }
    if (!opt.output.empty() && sources.size() > 1) {
        Error("--output takes one source only");
        return kExitFailed;
    }
    if ((opt.haveStart = parser.isSet("start")) && !ParseSeconds(parser.value("start"), opt.start)) {
        Error("--start takes a time: seconds (0 or more) or [hh:]mm:ss[.fff]");
        return kExitFailed;
    }
    if ((opt.haveEnd = parser.isSet("end")) && !ParseSeconds(parser.value("end"), opt.end)) {
        Error("--end takes a time: seconds (0 or more) or [hh:]mm:ss[.fff]");
        return kExitFailed;
    }
    for (const QString& text : parser.values("range")) {
        Piece piece;
        if (!ParseRange(text.toStdString(), piece)) {
            Error("--range takes START-END, times in seconds or [hh:]mm:ss[.fff], the end after the start: " +
                  text.toStdString());
            return kExitFailed;
        }
        opt.ranges.push_back(piece);
    }
    const int pieceSources = (opt.ranges.empty() ? 0 : 1) + (parser.isSet("chapters") ? 1 : 0) +
                             (parser.isSet("cue") ? 1 : 0) + (parser.isSet("split-silence") ? 1 : 0);
    if (pieceSources > 1) {
        Error("--range, --chapters, --cue and --split-silence choose the pieces: give one of them");
        return kExitFailed;
    }
    if (pieceSources == 1 && (opt.haveStart || opt.haveEnd)) {
        Error("--start and --end mark one range: use --range for pieces");
        return kExitFailed;
    }
    opt.join = parser.isSet("join");
    if (opt.join && pieceSources == 0) {
        Error("--join joins pieces: give them with --range, --chapters, --cue or --split-silence");
        return kExitFailed;
    }
    if (!opt.ranges.empty())
        opt.pieces = PieceSource::Ranges;
    else if (parser.isSet("chapters"))
        opt.pieces = PieceSource::Chapters;
    if (parser.isSet("cue")) {
        opt.pieces = PieceSource::Cue;
        opt.cue = BytesFromText(parser.value("cue"));
        if (sources.size() > 1) {
            Error("--cue takes one source only");
            return kExitFailed;
        }
    }
    if (parser.isSet("split-silence")) {
        opt.pieces = PieceSource::Silence;
        const QString value = parser.value("split-silence");
        const QStringList parts = value.split(',');
        bool okDb = true, okSeconds = true;
        if (!value.isEmpty()) {
            opt.silenceDb = parts[0].toDouble(&okDb);
            if (parts.size() > 1)
                opt.shortestSilence = parts[1].toDouble(&okSeconds);
        }
        if (!okDb || !okSeconds || parts.size() > 2 || !(opt.silenceDb < 0 && opt.silenceDb >= -120) ||
            !(opt.shortestSilence > 0 && opt.shortestSilence <= 3600)) {
            Error("--split-silence takes DB,SECONDS: a level below 0 dBFS (down to -120) and a length in "
                  "seconds");
            return kExitFailed;
        }
    }
    if (parser.isSet("audio-track")) {
        bool ok = false;
        opt.track = parser.value("audio-track").toInt(&ok);
        if (!ok || opt.track < 1) {
            Error("--audio-track takes a track number, 1 or more (see --list-tracks)");
            return kExitFailed;
        }
    }
    if (parser.isSet("list-tracks")) {
        int code = kExitOk;
        for (const std::string& source : sources)
            code = std::max(code, ListTracks(source));
        return code;
    }
    bool jobsOk = true;
    int jobs = parser.isSet("jobs") ? parser.value("jobs").toInt(&jobsOk) : 1;
    if (!jobsOk || jobs < 0) {
        Error("--jobs takes a number of conversions, 0 or more");
        return kExitFailed;
    }
    if (jobs == 0)
        jobs = CoreCount();

    // Settings named on the command line are the user's choice: converting with others is no success.
    const bool namedSettings = parser.isSet("settings");
    const std::string settingsPath =
        namedSettings ? BytesFromText(parser.value("settings")) : SettingsFilePath();
    std::string problem;
    const CAudioSettings::FileRead read = g_settings.LoadFrom(settingsPath, &problem);
    if (namedSettings && read != CAudioSettings::FileRead::Read) {
        Error("cannot read the settings file " + settingsPath + " (" + problem + ")");
        return kExitFailed;
    }
    if (read == CAudioSettings::FileRead::Refused)
        Error("cannot read the settings file " + settingsPath + " (" + problem +
              "); this run uses the defaults");
    if (parser.isSet("format")) {
        const int format = FormatFromName(parser.value("format"));
        if (format < 0) {
            Error("--format takes mp3, wav, ogg, wma, flac, opus, m4a or original");
            return kExitFailed;
        }
        g_settings.m_nFormatIndex = format;
    }
    if (std::string error; !ApplySoundCliOptions(parser, g_settings.m_sound, &error)) {
        Error(error);
        return kExitFailed;
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
    // Ctrl+C, kill and a closed terminal all cancel: the temporary WAVs go, then the signal is obeyed.
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    // What runs that were killed outright left behind.
    CTempWavFile::RemoveStale(g_settings.m_szTempPath.str());

    int exitCode = kExitOk;
    if (jobs > 1 && sources.size() > 1) {
        exitCode = ConvertSideBySide(sources, opt, jobs);
    } else {
        for (const std::string& source : sources) {
            const int code = g_signal ? kExitInterrupted : ConvertOne(source, opt);
            exitCode = Worse(exitCode, code);
            if (code == kExitInterrupted)
                break; // the sources left are not converted
        }
    }
    WaitForEncoderThreads();
    // After the clean-up, the program ends by the signal, so a shell loop around it stops as it would
    // for any other program.
    if (const int sig = g_signal.load(); sig != 0) {
        std::fflush(nullptr);
        signal(sig, SIG_DFL);
        raise(sig);
    }
    return exitCode;
}
