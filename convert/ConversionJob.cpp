#include "ConversionJob.h"

#include "AudioSettings.h"
#include "EncoderLibrary.h"
#include "Encoders.h"
#include "Genres.h"
#include "MessageService.h"
#include "PcmFile.h"
#include "PcmReader.h"
#include "PieceList.h"
#include "SoundShape.h"
#include "SourceTags.h"
#include "SystemHelpers.h"

#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTimerPeriodMs = 100;
constexpr int kTempBytesPerSecond = 176400; // 44100 Hz x 2 channels x 2 bytes
constexpr int kWavHeaderBytes = 46;         // counted as header in step-1 progress

double NowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

const char* const kStep1Text = "[Step 1] - Extract WAV audio from source file.  ";
const char* const kMeasureText = "[Step 1] - Extract WAV audio from source file and measure its loudness.  ";
const char* const kCopyText = "[Step 1] - Copy the original audio from source file.  ";
const char* const kCopyUnchanged = "Loudness and fades: the original's sound is copied as it is, unchanged.";

// Step 2's caption says what changes in the sound: [loudness, fades] -> of the Wav file / added to an
// encoder's step.
const char* const kShapeWavText[2][2] = {
    {"", "[Step 2] - Fade the edges of the Wav file"},
    {"[Step 2] - Change the loudness of the Wav file",
     "[Step 2] - Change the loudness and fade the edges of the Wav file"}};
const char* const kShapeSuffix[2][2] = {
    {"", ", fading its edges"}, {", changing its loudness", ", changing its loudness and fading its edges"}};
const char* const kNoAudioInRange = "There is no audio to convert in the marked range.";
constexpr int64_t kWavDataOffset = 44;
// Containers often tell a length a little beyond the end of their audio (the picture runs on for a
// frame, the last audio frame is padded); only a shortfall beyond that says the source gave out.
constexpr double kShortTolerance = 0.5;

// The data size a WAV header gives, or -1.
int64_t WavDataBytes(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return -1;
    unsigned char b[4];
    const bool ok = std::fseek(f, 40, SEEK_SET) == 0 && std::fread(b, 1, 4, f) == 4;
    std::fclose(f);
    return ok ? int64_t{b[0]} | int64_t{b[1]} << 8 | int64_t{b[2]} << 16 | int64_t{b[3]} << 24 : -1;
}

// A source cut shorter (truncated, or rewritten from the start) or put in another file's place while it
// was read gives an output that silently misses what the user chose.
bool SourceChanged(const std::string& path, const struct stat& before, bool outputShort) {
    struct stat now;
    if (stat(path.c_str(), &now) != 0 || now.st_dev != before.st_dev || now.st_ino != before.st_ino)
        return true;
    const bool rewritten =
        now.st_mtim.tv_sec != before.st_mtim.tv_sec || now.st_mtim.tv_nsec != before.st_mtim.tv_nsec;
    return now.st_size < before.st_size || (rewritten && outputShort);
}

struct Step2 {
    const char* text;
    CEncoderThread::Proc proc;
};

const Step2& Step2For(int format) {
    static const Step2 kMp3{"[Step 2] - Convert Wav audio to mp3 file", &Mp3EncodeProc};
    static const Step2 kOgg{"[Step 2] - Convert Wav audio to ogg file", &OggEncodeProc};
    static const Step2 kWma{"[Step 2] - Convert Wav audio to wma file", &WmaEncodeProc};
    static const Step2 kFlac{"[Step 2] - Convert Wav audio to flac file", &FlacEncodeProc};
    static const Step2 kOpus{"[Step 2] - Convert Wav audio to opus file", &OpusEncodeProc};
    static const Step2 kM4a{"[Step 2] - Convert Wav audio to m4a file", &AacEncodeProc};
    switch (format) {
    case FORMAT_MP3:
        return kMp3;
    case FORMAT_OGG:
        return kOgg;
    case FORMAT_FLAC:
        return kFlac;
    case FORMAT_OPUS:
        return kOpus;
    case FORMAT_M4A:
        return kM4a;
    default:
        return kWma;
    }
}

} // namespace

CConversionJob::CConversionJob(IJobView& view, QObject* parent)
    : QObject(parent), m_view(view), m_state(std::make_shared<CJobState>()) {
    m_timer.setInterval(kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &CConversionJob::OnTimer);
    connect(&m_videoEdit, &CVideoEdit::ExtractionProgress, this, &CConversionJob::OnExtractionProgress);
    connect(&m_videoEdit, &CVideoEdit::ExtractionFinished, this, &CConversionJob::OnExtractionFinished);
    connect(&m_videoEdit, &CVideoEdit::ExtractionFailed, this, &CConversionJob::OnExtractionFailed);
}

CConversionJob::~CConversionJob() {
    m_state->AttachWake(nullptr);
    m_state->AttachView(nullptr);
    // A job torn down while its encoder runs must not leave the thread working for nobody.
    if (!IsEnded())
        m_state->m_bCancelRequested = 1;
}

const char* CConversionJob::CaptionPrefix(int format) {
    switch (format) {
    case FORMAT_MP3:
        return "Convert to Mp3 : ";
    case FORMAT_WAV:
        return "Convert to Wav : ";
    case FORMAT_OGG:
        return "Convert to Ogg : ";
    case FORMAT_FLAC:
        return "Convert to Flac : ";
    case FORMAT_OPUS:
        return "Convert to Opus : ";
    case FORMAT_M4A:
        return "Convert to M4a : ";
    case FORMAT_ORIGINAL:
        return "Copy Original Audio : ";
    default:
        return "Convert to Wma : ";
    }
}

std::string CConversionJob::CurrentWavPath() const {
    return m_nFormat == FORMAT_WAV ? m_strOutputPath : m_strTempWavPath;
}

// Tags are UTF-8; a text that is not (an old settings file, a file name in Latin-1) is taken as Latin-1.
static std::string TagText(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(QByteArray::fromStdString(text));
    return (utf8.hasError() ? QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())) : decoded)
        .toStdString();
}

void CConversionJob::StartCopy() {
    // The window's fields, read now while the job's window keeps every other writer of the settings out.
    const std::string fileName = FileNameOf(m_strOutputPath);
    CCopyTags tags;
    tags.title = TagText(fileName.substr(0, fileName.rfind('.')));
    tags.artist = TagText(g_settings.m_szArtist.str());
    tags.album = TagText(g_settings.m_szAlbum.str());
    tags.year = TagText(g_settings.m_szYear.str());
    tags.genre = kGenreNames[g_settings.m_nGenreIndex];
    if (m_pieceTags.set) {
        tags.title = TagText(m_pieceTags.title);
        const std::string window = CleanTagText(g_settings.m_szAlbum.str(), CAudioSettings::kTagChars);
        if (window.empty() || window == "Unknown Album")
            tags.album = TagText(m_pieceTags.album);
    }
    m_videoEdit.CopyRange(m_strOutputPath, m_nAudioTrack, tags);
}

void CConversionJob::Start() {
    m_nFormat = g_settings.m_nFormatIndex;
    m_sound = g_settings.m_sound;
    std::string refusal;
    if (!m_output)
        m_output = COutputClaim::ClaimExact(m_strOutputPath, m_strSourcePath, true, &refusal);
    m_state->m_output = m_output;
    m_state->m_strOutputPath = m_strOutputPath;
    m_state->m_strTempWavPath = m_strTempWavPath;
    m_state->m_tempWav = m_tempWav;
    m_state->m_strSourcePath = m_strSourcePath;
    m_state->m_nAudioTrack = m_nAudioTrack;
    m_state->m_pieceTags = m_pieceTags;
    m_state->AttachView(&m_view);
    if (m_bEndPromptly)
        m_state->AttachWake([this] {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!IsEnded())
                        OnTimer();
                },
                Qt::QueuedConnection);
        });
    if (!m_output) {
        ShowMessage(refusal, MsgButtons::Ok, nullptr, MsgIcon::Warning);
        m_state->m_bConvertFailed = 1;
        End(IDCANCEL);
        return;
    }
    if (Joined() && m_nFormat == FORMAT_ORIGINAL) {
        ShowMessage(
            "Pieces are joined by encoding them: choose a format other than \"original\" to join them.",
            MsgButtons::Ok, nullptr, MsgIcon::Warning);
        m_state->m_bConvertFailed = 1;
        End(IDCANCEL);
        return;
    }
    m_nRange = 0;
    m_dDoneSeconds = 0;
    if (Joined()) {
        m_dStartTime = m_joinRanges[0].start;
        m_dEndTime = m_joinRanges[0].end;
    }

    stat(m_strSourcePath.c_str(), &m_sourceAtStart);
    m_videoEdit.ResetExtraction();
    m_videoEdit.SetSourceRange(m_strSourcePath, m_dStartTime, m_dEndTime);
    m_videoEdit.SetAudioTrack(m_nAudioTrack);
    m_videoEdit.SetMeasureLoudness(m_sound.normalize && m_nFormat != FORMAT_ORIGINAL);
    // A range that runs to the end of a source of unknown length has no expected size.
    const double total = TotalSeconds();
    const double seconds = std::isfinite(total) ? total : 0;
    m_dSeconds = seconds;
    m_bSourceSound = m_nFormat != FORMAT_ORIGINAL && g_settings.KeepsSourceSound(m_nFormat);
    if (m_nFormat == FORMAT_ORIGINAL) {
        StartCopy();
        m_nExpectedBytes = 0;
    } else if (m_bSourceSound || Joined()) {
        // The size depends on the source's format, which only the extraction learns (or on ranges written
        // into several files): progress goes by the seconds written.
        StartExtraction(CurrentWavPath());
        m_nExpectedBytes = 1000;
    } else if (m_nFormat == FORMAT_WAV) {
        StartExtraction(m_strOutputPath);
        m_nExpectedBytes = static_cast<int64_t>(
            seconds * static_cast<double>(g_settings.GetWavSampleRate() * g_settings.GetWavBytesPerSample() *
                                          g_settings.GetWavChannels()));
    } else {
        StartExtraction(m_strTempWavPath);
        m_nExpectedBytes = static_cast<int64_t>(seconds * kTempBytesPerSecond);
    }
    m_view.SetCaption(CaptionPrefix(m_nFormat) + m_strOutputPath);
    m_view.SetStep(Step1Text());
    if (m_nFormat == FORMAT_ORIGINAL)
        m_view.SetProgressRange(0, 1000);
    m_dwStartTick = GetTickCount32();
    const bool oneStep = (m_nFormat == FORMAT_WAV && !m_sound.ChangesSound()) || m_nFormat == FORMAT_ORIGINAL;
    m_timeLeft.Begin(oneStep ? 1 : 2, seconds, ExpectedStep2Pace(m_nFormat), NowSeconds());
    m_state->m_bConvertDone = 0;
    m_state->m_bConvertFailed = 0;
    m_timer.start();
}

void CConversionJob::StartExtraction(const std::string& wavPath) {
    if (m_bSourceSound)
        m_videoEdit.ExtractToSourceWav(wavPath);
    else if (m_nFormat == FORMAT_WAV)
        m_videoEdit.ExtractToWav(wavPath, static_cast<short>(g_settings.GetWavChannels()),
                                 g_settings.GetWavSampleRate(),
                                 static_cast<short>(g_settings.GetWavBytesPerSample()));
    else
        m_videoEdit.ExtractToWav(wavPath, 2, 44100, 2);
}

double CConversionJob::TotalSeconds() const {
    if (!Joined())
        return m_dEndTime - m_dStartTime;
    double total = 0;
    for (const Piece& range : m_joinRanges)
        total += range.end - range.start;
    return total;
}

bool CConversionJob::JoinNextRange() {
    std::string problem;
    if (m_nRange > 0 && !AppendWavData(CurrentWavPath(), m_partWav->Path(), problem)) {
        Fail(problem);
        return false;
    }
    const Piece& done = m_joinRanges[m_nRange];
    if (std::isfinite(done.end))
        m_dDoneSeconds += done.end - done.start;
    if (++m_nRange >= m_joinRanges.size()) {
        m_partWav.reset();
        return true;
    }
    if (!m_partWav) {
        const std::string folder = m_strTempWavPath.substr(0, m_strTempWavPath.rfind('/') + 1);
        m_partWav = CTempWavFile::Reserve(folder);
        if (!m_partWav) {
            Fail("Cannot create a temporary file in " + folder + " (" + std::strerror(errno) + ").");
            return false;
        }
    }
    const Piece& next = m_joinRanges[m_nRange];
    m_videoEdit.StopExtraction();
    m_videoEdit.SetSourceRange(m_strSourcePath, next.start, next.end);
    StartExtraction(m_partWav->Path());
    return false;
}

void CConversionJob::Fail(const std::string& message) {
    m_timer.stop();
    m_videoEdit.StopExtraction();
    m_partWav.reset();
    ShowMessage(message, MsgButtons::Ok, nullptr, MsgIcon::Warning);
    m_state->m_bConvertFailed = 1;
    m_state->RemoveTempWav();
    End(IDCANCEL);
}

void CConversionJob::OnExtractionProgress(double writtenSeconds, double totalSeconds) {
    if (IsEnded())
        return;
    if (m_nFormat == FORMAT_ORIGINAL) {
        // The copy counts seconds of the range; its output's size says nothing of that.
        m_dStep1Fraction = totalSeconds > 0 ? std::clamp(writtenSeconds / totalSeconds, 0.0, 1.0) : 0;
        m_view.SetProgressPos(static_cast<int>(m_dStep1Fraction * 1000));
        return;
    }
    if (m_bSourceSound || Joined()) {
        const double seconds = m_dSeconds > 0 ? m_dSeconds : totalSeconds;
        m_dStep1Fraction =
            seconds > 0 ? std::clamp((m_dDoneSeconds + writtenSeconds) / seconds, 0.0, 1.0) : 0;
        m_view.SetProgressRange(0, 1000);
        m_view.SetProgressPos(static_cast<int>(m_dStep1Fraction * 1000));
        return;
    }
    const int shift = Step1Shift();
    m_view.SetProgressRange(0, static_cast<int>(m_nExpectedBytes >> shift));
    const int64_t written = GetFileSize64(CurrentWavPath()) - kWavHeaderBytes;
    const int64_t pos = written >> shift;
    if (m_nExpectedBytes > 0)
        m_dStep1Fraction = static_cast<double>(written) / static_cast<double>(m_nExpectedBytes);
    m_view.SetProgressPos(static_cast<int>(std::min<int64_t>(pos, INT_MAX)));
}

// The bar counts in 32 bits; ranges of more than 2 GiB are shown at a coarser scale.
int CConversionJob::Step1Shift() const {
    int shift = 0;
    while ((m_nExpectedBytes >> shift) > INT_MAX)
        ++shift;
    return shift;
}

void CConversionJob::OnExtractionFinished(double copiedSeconds, const QString& note) {
    if (IsEnded())
        return;
    if (m_nFormat == FORMAT_ORIGINAL) {
        // The copy is the whole job; a range without audio has failed in the module already.
        m_view.SetProgressPos(1000);
        m_videoEdit.StopExtraction();
        m_dWrittenSeconds = copiedSeconds;
        if (FailIfSourceChanged())
            return;
        m_timer.stop();
        m_strClosingNote = note.toStdString();
        if (m_sound.ChangesSound())
            m_strClosingNote += (m_strClosingNote.empty() ? "" : "\n") + std::string(kCopyUnchanged);
        End(IDOK);
        return;
    }
    if (Joined() && !JoinNextRange())
        return;
    m_view.SetProgressPos(static_cast<int>(m_nExpectedBytes >> Step1Shift()));
    if (m_pEncoderThread) {
        if (m_pEncoderThread->IsRunning())
            return; // at most one encoder thread per job
        m_pEncoderThread.reset();
    }
    m_state->m_bConvertDone = 0;
    m_view.SetProgressRange(0, 1000);
    m_videoEdit.StopExtraction();

    const int bytesPerSecond =
        m_nFormat == FORMAT_WAV
            ? g_settings.GetWavSampleRate() * g_settings.GetWavBytesPerSample() * g_settings.GetWavChannels()
            : kTempBytesPerSecond;
    CPcmReader handedOver; // in the source's own rate and depth
    int64_t frames = 0;
    int rate = m_nFormat == FORMAT_WAV ? g_settings.GetWavSampleRate() : 44100;
    if (!m_bSourceSound) {
        const int64_t bytes = WavDataBytes(CurrentWavPath());
        m_dWrittenSeconds = static_cast<double>(bytes) / bytesPerSecond;
        frames = std::max<int64_t>(bytes, 0) / (bytesPerSecond / rate);
    } else if (handedOver.Open(CurrentWavPath()) && handedOver.Format().sampleRate > 0) {
        rate = handedOver.Format().sampleRate;
        frames = handedOver.Frames();
        m_dWrittenSeconds = static_cast<double>(frames) / rate;
    }
    if (FailIfSourceChanged())
        return;

    // A range of zero length, or one that lies wholly past the end of the audio, gives a WAV without
    // a single sample: an "output" of it would be a file that plays nothing, or none at all.
    if (GetFileSize64(CurrentWavPath()) <=
        (m_bSourceSound ? static_cast<int64_t>(kPcmHeaderBytes) : kWavDataOffset)) {
        m_timer.stop();
        ShowMessage(kNoAudioInRange, MsgButtons::Ok, nullptr, MsgIcon::Warning);
        m_state->m_bConvertFailed = 1;
        m_state->RemoveTempWav();
        End(IDCANCEL);
        return;
    }

    PlanSound(frames, rate);
    const CSoundShape* shape = m_state->m_sound.get();
    const bool shaping = shape != nullptr;
    const int loud = shaping && shape->Gain() != 1 ? 1 : 0;
    const int fades = shaping && (shape->FadeInFrames() > 0 || shape->FadeOutFrames() > 0) ? 1 : 0;
    if (m_nFormat == FORMAT_WAV && !shaping) {
        m_timer.stop();
        End(IDOK);
        return;
    }
    if (m_nFormat == FORMAT_WAV) {
        m_view.SetStep(kShapeWavText[loud][fades]);
        m_timeLeft.StartStep(2, NowSeconds());
        m_pEncoderThread = CEncoderThread::Start(m_state, &WavShapeProc);
        return;
    }
    const Step2& step2 = Step2For(m_nFormat);
    m_view.SetStep(std::string(step2.text) + kShapeSuffix[loud][fades]);
    m_timeLeft.StartStep(2, NowSeconds());
    m_pEncoderThread = CEncoderThread::Start(m_state, step2.proc);
}

const char* CConversionJob::Step1Text() const {
    if (m_nFormat == FORMAT_ORIGINAL)
        return kCopyText;
    return m_sound.normalize ? kMeasureText : kStep1Text;
}

void CConversionJob::PlanSound(int64_t frames, int rate) {
    if (!m_sound.ChangesSound())
        return;
    const CSoundShape::Plan plan = CSoundShape::Make(m_sound, m_videoEdit.MeasuredLoudness(), frames, rate);
    m_state->m_sound = plan.shape;
    m_strClosingNote = plan.note;
}

bool CConversionJob::FailIfSourceChanged() {
    if (!SourceChanged(m_strSourcePath, m_sourceAtStart, IsShort()))
        return false;
    m_timer.stop();
    ShowMessage("The source file " + m_strSourcePath +
                    " was changed while it was read (cut shorter, rewritten or replaced); what was "
                    "read of it is not the range that was asked for.",
                MsgButtons::Ok, nullptr, MsgIcon::Warning);
    m_state->m_bConvertFailed = 1;
    m_state->RemoveTempWav();
    End(IDCANCEL);
    return true;
}

bool CConversionJob::IsShort() const {
    const double total = TotalSeconds();
    return m_dWrittenSeconds >= 0 && std::isfinite(total) && m_dWrittenSeconds < total - kShortTolerance;
}

std::string CConversionJob::ShortWarning() const {
    return "Warning: the source ended before the range did. The output holds " +
           FormatTime(std::max(m_dWrittenSeconds, 0.0)) + " of the " + FormatTime(TotalSeconds()) +
           " asked for.";
}

void CConversionJob::OnExtractionFailed(const QString& message) {
    if (IsEnded())
        return;
    m_timer.stop();
    m_videoEdit.StopExtraction();
    ShowMessage(message.toStdString(), MsgButtons::Ok, nullptr, MsgIcon::Warning);
    m_state->m_bConvertFailed = 1;
    m_state->RemoveTempWav();
    End(IDCANCEL);
}

void CConversionJob::OnTimer() {
    const uint32_t elapsed = GetTickCount32() - m_dwStartTick;
    const uint32_t s = elapsed / 1000;
    m_view.SetElapsed(
        Format("Time Elapsed:%02u:%02u:%02u.%u", s / 3600, (s % 3600) / 60, s % 60, (elapsed % 1000) / 100));
    const double now = NowSeconds();
    m_timeLeft.Update(m_pEncoderThread ? m_state->m_nLastPosition.load() / 1000.0 : m_dStep1Fraction, now);
    m_view.SetTimeLeft(CTimeLeftEstimator::Text(m_timeLeft.SecondsLeft(now)));
    if (m_pEncoderThread)
        RememberStep2Pace(m_nFormat, m_timeLeft.Step2Pace(now));
    if (m_state->m_bConvertDone.load() == 1) {
        End(IDOK);
    } else if (m_state->m_bConvertFailed.load() == 1) {
        m_state->RemoveTempWav();
        End(IDCANCEL);
    }
}

void CConversionJob::Cancel() {
    if (IsEnded())
        return;
    m_timer.stop();
    m_videoEdit.StopExtraction();
    m_partWav.reset();
    m_state->m_bCancelRequested = 1;
    End(IDCANCEL);
}

void CConversionJob::End(int result) {
    if (IsEnded())
        return;
    m_nResult = result;
    m_timer.stop();
    m_state->AttachWake(nullptr);
    m_state->AttachView(nullptr);
    // What a failed or cancelled job wrote stays: a long conversion that breaks off near its end keeps
    // the part it finished. A WAV output without a single sample is no part of anything, and an output
    // that step 2 never wrote is removed when the claim is let go.
    if (result != IDOK && m_nFormat == FORMAT_WAV && m_output && m_output->Created() &&
        GetFileSize64(m_strOutputPath) <= kWavDataOffset)
        m_output->Remove();
    emit Ended(result);
}
