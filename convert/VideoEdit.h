#pragma once

#include "ThreadHandOver.h"
#include "VideoEdit/VideoEdit.h" // the interface of the module

#include <QObject>
#include <QString>
#include <atomic>
#include <string>

// What a copy of a source's audio track without re-encoding ("original") gives.
struct CCopyInfo {
    bool exact = false;      // players play exactly the range; else whole frames around it
    double frameSeconds = 0; // the track's frame length
    std::string extension;   // of the output, with its dot
    std::string codec;
};

// The loudness step 1 measured (see veGetLoudness).
struct CMeasuredLoudness {
    bool measured = false; // false: nothing measurable (silence, or under 0.4 s)
    double integratedLufs = 0;
    double truePeakDbtp = 0;
};

// The tag texts a copy writes (UTF-8; empty ones add nothing).
struct CCopyTags {
    std::string title, artist, album, year, genre;
};

// The extraction control of the job dialog: drives VideoEdit.so, loaded from the program directory.
// Its events arrive as signals on the thread that owns this object, never from a run that was stopped
// or reset meanwhile.
class CVideoEdit : public QObject {
    Q_OBJECT
public:
    explicit CVideoEdit(QObject* parent = nullptr);
    ~CVideoEdit() override; // stops and joins a running extraction

    // False when VideoEdit.so or one of its functions is missing; the operations then do nothing,
    // except ExtractToWav, which reports the failure.
    bool IsLoaded() const { return m_instance != nullptr; }

    // Stops any extraction and forgets the source: the first call of every job.
    void ResetExtraction();
    bool SetSourceRange(const std::string& path, double start, double end);
    // The audio track to extract (AudioTracks.h numbering; 0 the default), until the next reset.
    bool SetAudioTrack(int track);
    // Starts writing the range as a PCM WAV file and returns at once; ExtractionFinished or
    // ExtractionFailed follows (also when this returns false).
    bool ExtractToWav(const std::string& wavPath, short channels, int sampleRate, short bytesPerSample);
    // The same in the track's own sound, as the hand-over file of PcmFile.h.
    bool ExtractToSourceWav(const std::string& wavPath);
    // Starts copying the range of the audio track (1-based, 0 the default one) to outputPath without
    // re-encoding it, and returns at once; ExtractionFinished (with a note for the user when the copy is
    // not exact to the sample) or ExtractionFailed follows, also when this returns false.
    bool CopyRange(const std::string& outputPath, int track, const CCopyTags& tags);
    // Whether the following extractions measure the loudness of what they write, until the next reset.
    bool SetMeasureLoudness(bool on);
    // The last extraction's measure, once ExtractionFinished has come.
    CMeasuredLoudness MeasuredLoudness() const;
    // Stops the extraction, leaving the WAV file closed (a copy finished as far as it got); no signal of
    // that run follows.
    void StopExtraction();

    // What a copy of the source's track gives, read from its headers on the calling thread (any thread).
    // False, with a message for the user, when it cannot be copied or VideoEdit.so is missing.
    static bool DescribeCopy(const std::string& sourcePath, int track, CCopyInfo* info,
                             std::string* message = nullptr);

signals:
    void ExtractionProgress(double writtenSeconds, double totalSeconds);
    // After a copy: the seconds of audio it holds, and a note for the user (or empty); 0 and empty after
    // an extraction.
    void ExtractionFinished(double copiedSeconds, QString note);
    void ExtractionFailed(QString message);

private:
    static void EventProc(void* user, int event, double a, double b, const char* message);
    bool FailUnloaded();
    void Deliver(quint64 generation, int event, double a, double b, const QString& message);
    void NextGeneration() { m_generation.fetch_add(1); }

    void* m_library = nullptr;
    VideoEditInstance* m_instance = nullptr;
    decltype(&veCreate) m_create = nullptr;
    decltype(&veDestroy) m_destroy = nullptr;
    decltype(&veResetExtraction) m_reset = nullptr;
    decltype(&veSetSourceRange) m_setSourceRange = nullptr;
    decltype(&veExtractToWav) m_extractToWav = nullptr;
    decltype(&veSetAudioTrack) m_setAudioTrack = nullptr;
    decltype(&veExtractToSourceWav) m_extractToSourceWav = nullptr;
    decltype(&veStopExtraction) m_stop = nullptr;
    decltype(&veCopyRange) m_copyRange = nullptr;
    decltype(&veSetMeasureLoudness) m_setMeasureLoudness = nullptr;
    decltype(&veGetLoudness) m_getLoudness = nullptr;
    // Counts runs; an event carries the number current when it was raised and is dropped on delivery
    // when a stop or reset has moved the number on.
    std::atomic<quint64> m_generation{0};
    CCallReceiver m_calls; // on this object's thread: the window's, or a command-line conversion's
};
