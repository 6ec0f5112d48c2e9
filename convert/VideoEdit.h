#pragma once

#include "ThreadHandOver.h"
#include "VideoEdit/VideoEdit.h" // the interface of the module

#include <QObject>
#include <QString>
#include <atomic>
#include <string>

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
    // Stops the extraction, leaving the WAV file closed; no signal of that run follows.
    void StopExtraction();

signals:
    void ExtractionProgress(double writtenSeconds, double totalSeconds);
    void ExtractionFinished();
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
    // Counts runs; an event carries the number current when it was raised and is dropped on delivery
    // when a stop or reset has moved the number on.
    std::atomic<quint64> m_generation{0};
    CCallReceiver m_calls; // on this object's thread: the window's, or a command-line conversion's
};
