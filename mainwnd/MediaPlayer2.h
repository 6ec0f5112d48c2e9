#pragma once

#include "MediaTimeline.h"
#include "SeekLanding.h"

#include <QBasicTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>

struct mpv_handle;
struct mpv_render_context;

// The preview player (control 1007 of the main window): plays one source file with libmpv and draws
// its video into this widget through mpv's software renderer. Every call and every signal happens on
// the GUI thread; mpv's own threads only ever post work to it.
class CMediaPlayer2 : public QWidget {
    Q_OBJECT

public:
    enum PlayState {
        kStopped = 0, // at the end of the file; the position stays at the end
        kPaused = 1,
        kPlaying = 2,
        kWaiting = 3, // a file is opening
        kClosed = 6,  // nothing loaded, or the last file failed to open
    };

    explicit CMediaPlayer2(QWidget* parent = nullptr);
    ~CMediaPlayer2() override;
    CMediaPlayer2(const CMediaPlayer2&) = delete;
    CMediaPlayer2& operator=(const CMediaPlayer2&) = delete;

    // The audio output of players created afterwards: "null" for none (tests), empty for the
    // system's default output.
    static void SetAudioOutputForTesting(const std::string& ao);

    // Opens a file (UTF-8 path; relative to the current folder if not absolute) and plays it as soon
    // as it is loaded, whether or not Play follows. The duration is read from the file's headers
    // before this returns. A file that cannot be played ends in Error.
    void SetFileName(const std::string& utf8Path);
    // Times are seconds on the file's timeline (MediaTimeline.h), as the waveform and the extraction
    // count them. Seconds; 0 while unknown. A file whose headers tell none (a stream written to a pipe, a
    // header that lies) is scanned in the background; DurationChanged tells when the duration becomes known.
    double GetDuration() const;
    // Seconds, within 0 and the duration; the duration itself once stopped at the end. Right after
    // SetCurrentPosition, the requested position until the seek has completed.
    double GetCurrentPosition() const;
    // An exact seek. From the stopped end, playback goes on from the new position.
    void SetCurrentPosition(double seconds);
    // One of PlayState.
    int GetPlayState() const;
    // False for a file whose audio timestamps do not advance (MediaTimeline.h): mpv then can neither
    // tell the position nor seek, and the position reads as 0 or the target of the last seek.
    bool HasReadableTiming() const { return !m_timeline.stalled; }
    // Whether a seek is still on its way.
    bool IsSeeking() const { return m_seekPending; }
    // Width of the source's picture; 0 for audio, also when the only picture is embedded cover art.
    int GetPictureWidth() const;
    // The audio track to play, by its number (AudioTracks.h numbering, which is mpv's "aid"); 0 lets the
    // player choose. Taken at once while a file plays, and by the files opened after.
    void SetAudioTrack(int number);
    // The number of the audio track playing, 0 when none (or none chosen yet).
    int GetAudioTrack() const;
    // Play at the stopped end plays again from the start.
    void Play();
    void Pause();

    // The AutoSize property and property 1056 of the player control. The main window sets both as it
    // goes away; the player always fits its picture to its window, so they are kept but change nothing.
    void SetAutoSizeProperty(bool value) { m_bAutoSize = value; }
    bool GetAutoSizeProperty() const { return m_bAutoSize; }
    void SetProperty1056(bool value) { m_bProperty1056 = value; }
    bool GetProperty1056() const { return m_bProperty1056; }

    // Pauses once playback reaches the time (seconds) and shows that very moment; a negative time,
    // Pause, a seek or another file cancels it.
    void SetPauseAt(double seconds);
    double GetPauseAt() const { return m_pauseAt; }

signals:
    void PlayStateChange(int oldState, int newState);
    // A file that cannot be opened or has nothing to play; once per failed file.
    void Error();
    // The duration of the current file became known after SetFileName.
    void DurationChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    enum class Phase { Closed, Opening, Starting, Loaded, Ended };
    struct Notice {
        enum Kind { kState, kError, kDuration } kind;
        int oldState;
        int newState;
    };
    struct FrameBuffer;

    static void OnMpvWakeup(void* self);
    static void OnRenderUpdate(void* self);
    void DrainEvents();
    void RenderFrame(bool force);
    void RequestRedraw();
    bool IsShownOnScreen() const;

    void StartLoad(bool paused);
    void RefreshPlayFlags();
    void RefreshPlaybackProperties();
    void UpdateState();
    void FailLoad();
    void Notify(const Notice& notice);
    void DeliverNotices();
    void Seek(double seconds);
    double FrameSeconds() const;
    void SetMpvDuration(double seconds);
    void StartScan();
    void StopScan();

    mpv_handle* m_mpv = nullptr;
    mpv_render_context* m_render = nullptr;
    std::atomic<bool> m_drainQueued{false};
    std::atomic<bool> m_renderQueued{false};

    std::string m_path;
    Phase m_phase = Phase::Closed;
    int64_t m_entryId = -1;     // mpv's playlist entry of the current file
    int64_t m_activeEntry = -1; // the entry mpv's events are about
    uint64_t m_loadSerial = 0;
    uint64_t m_failedSerial = 0;
    MediaTimeline m_timeline; // of the current file; mpv's positions are its own timestamps
    double m_probedDuration = 0;
    double m_mpvDuration = 0;
    double m_timePos = 0;
    bool m_paused = false;
    bool m_eofReached = false;
    int m_state = kClosed;

    // A seek in flight: its target answers for the position until mpv has finished it.
    bool m_seekPending = false;
    bool m_seekIssued = false;
    bool m_seekAcknowledged = false;
    bool m_bHoldTarget = false; // a seek has completed and nothing has played since
    double m_seekTarget = 0;
    uint64_t m_seekSerial = 0;
    CSeekLanding m_landing;
    double m_lead = 0; // the lead mpv has been given

    std::deque<Notice> m_notices;
    bool m_deliveryQueued = false;

    std::unique_ptr<FrameBuffer> m_frame;
    bool m_hasFrame = false;  // m_frame holds a picture of the current file
    bool m_videoSeen = false; // mpv has delivered video for the current file
    bool m_redrawQueued = false;

    std::thread m_scan;
    std::atomic<bool> m_scanStop{false};
    bool m_durationAnnounced = false;

    void CheckPauseAt();
    double m_pauseAt = -1;
    double m_pauseAtSeenPos = -1;
    std::chrono::steady_clock::time_point m_pauseAtSeenTime;
    QBasicTimer m_pauseAtTimer;

    bool m_bAutoSize = false;
    bool m_bProperty1056 = false;
    int m_audioTrack = 0; // for the files loaded next; 0 lets mpv choose
};
