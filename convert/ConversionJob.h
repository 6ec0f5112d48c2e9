#pragma once

#include "JobFrame.h"
#include "OutputClaim.h"
#include "PieceSources.h"
#include "SoundOptions.h"
#include "TimeLeft.h"
#include "VideoEdit.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

// One conversion from source to output: step 1 through the extraction stage, then for every format
// but WAV step 2 on an encoder thread; the "original" format is one step, the copy stage of the
// extraction module, without a temporary WAV. It reports through an IJobView and ends with Ended().
class CConversionJob : public QObject {
    Q_OBJECT
public:
    explicit CConversionJob(IJobView& view, QObject* parent = nullptr);
    ~CConversionJob() override;

    // Inputs, set before Start.
    std::string m_strSourcePath;
    double m_dStartTime = 0;
    double m_dEndTime = 0;
    std::string m_strOutputPath;
    std::string m_strTempWavPath;
    std::shared_ptr<CTempWavFile> m_tempWav; // the reservation behind m_strTempWavPath, if any
    // The claim behind m_strOutputPath. Without one, Start claims the path as it is (an existing file
    // is written over, but never the source).
    std::shared_ptr<COutputClaim> m_output;
    int m_nAudioTrack = 0; // AudioTracks.h numbering; 0 the default track
    // Joined pieces: with more than one range here, step 1 writes them one after another into one WAV
    // (their samples back to back, each range exact as a single one), which step 2 then encodes once;
    // m_dStartTime and m_dEndTime are not read. Not for "original", which is not decoded.
    std::vector<Piece> m_joinRanges;
    PieceTags m_pieceTags; // a piece of a multi-piece run: its tags (JobFrame.h)

    // A piece of a run: the job ends as soon as its encoder thread does, so the next piece starts at
    // once; a single conversion ends at its dialog's next timer tick, as the design has it.
    bool m_bEndPromptly = false;

    void Start();
    // The confirmed Cancel: stops the extraction, asks the encoder to stop, ends the job.
    void Cancel();

    bool IsEnded() const { return m_nResult != 0; }
    int Result() const { return m_nResult; } // IDOK or IDCANCEL once ended
    bool IsFailed() const { return m_state->m_bConvertFailed.load() == 1; }
    bool IsCancelRequested() const { return m_state->m_bCancelRequested.load() == 1; }

    static const char* CaptionPrefix(int format);
    // After a job that ended with IDOK: what the user should know of the output beyond its name ("whole
    // frames: ..." for a copy that is not exact to the sample, the loudness measured and reached), else "".
    const std::string& ClosingNote() const { return m_strClosingNote; }

    // Once step 1 has ended: whether the source gave out before the range did (the audio written is
    // more than half a second shorter than the range asked for; a range that runs to the end of a
    // source of unknown length is never short), and the warning that says how much was written.
    bool IsShort() const;
    std::string ShortWarning() const;

signals:
    void Ended(int result);

private slots:
    void OnExtractionProgress(double written, double total);
    void OnExtractionFinished(double copiedSeconds, const QString& note);
    void OnExtractionFailed(const QString& message);
    void OnTimer();

private:
    void End(int result);
    std::string CurrentWavPath() const;
    int Step1Shift() const;
    void StartCopy();
    // After step 1: what step 2 does to the sound (the job state's shape) and the note that tells it.
    void PlanSound(int64_t frames, int rate);
    const char* Step1Text() const;
    // Starts step 1 of the current range into the WAV at the path, in the format the output needs.
    void StartExtraction(const std::string& wavPath);
    bool Joined() const { return m_joinRanges.size() > 1; }
    double TotalSeconds() const; // of every range; +infinity when one runs to an unknown end
    // After a joined range's step 1: appends it and starts the next range; true once all are in.
    bool JoinNextRange();
    void Fail(const std::string& message);
    // Fails the job when the source was rewritten while it was read; true then.
    bool FailIfSourceChanged();

    IJobView& m_view;
    CVideoEdit m_videoEdit;
    QTimer m_timer;
    std::shared_ptr<CJobState> m_state;
    std::shared_ptr<CEncoderThread> m_pEncoderThread;
    uint32_t m_dwStartTick = 0;
    int64_t m_nExpectedBytes = 0;
    int m_nFormat = 0;
    int m_nResult = 0;
    bool m_bSourceSound = false; // step 1 hands over the source's own sound (PcmFile.h)
    double m_dSeconds = 0;       // of the range, 0 when its end is not known
    CTimeLeftEstimator m_timeLeft;
    double m_dStep1Fraction = 0;
    double m_dWrittenSeconds = -1; // the audio step 1 wrote, once it has ended
    struct stat m_sourceAtStart = {};
    std::string m_strClosingNote;
    SoundOptions m_sound;                    // read at Start
    size_t m_nRange = 0;                     // the joined range step 1 writes
    double m_dDoneSeconds = 0;               // of the joined ranges written before it
    std::shared_ptr<CTempWavFile> m_partWav; // where joined ranges after the first are written
};
