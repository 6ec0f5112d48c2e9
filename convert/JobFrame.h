#pragma once

#include "OutputClaim.h"
#include "TempWav.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CSoundShape;

// What presents a job to the user: the Processing dialog, or the command-line converter's terminal.
class IJobView {
public:
    virtual ~IJobView() = default;
    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetStep(const std::string& text) = 0;
    virtual void SetElapsed(const std::string& text) = 0;
    virtual void SetProgressRange(int lower, int upper) = 0;
    // Called from the encoder thread too; must not wait for the GUI thread.
    virtual void SetProgressPos(int pos) = 0;
    // "Time Left:hh:mm:ss" for the whole job, or empty while it cannot be told yet.
    virtual void SetTimeLeft(const std::string& text) { (void)text; }
};

// What a piece of a multi-piece run puts in its tags instead of the single conversion's (OutputTags.h):
// its name as the title, "k/n" as the track, and an album for when the window's field is not set. The
// source's own tags, read once for the whole run rather than once per piece (a long MP4 takes a while to
// open), when not null.
struct SourceTags;
struct PieceTags {
    bool set = false;
    std::string title, track, album;
    std::shared_ptr<const SourceTags> source;
};

// The state one job shares with its encoder thread. It is per job rather than process-wide, so a
// cancelled job's thread that is still finishing its last chunk cannot be revived by the next job's
// reset of the flags.
struct CJobState {
    CJobState(); // counts the job for the cores (BorrowCores)
    ~CJobState();
    CJobState(const CJobState&) = delete;
    CJobState& operator=(const CJobState&) = delete;

    std::string m_strOutputPath;
    std::string m_strTempWavPath;
    std::shared_ptr<CTempWavFile> m_tempWav; // keeps the temporary WAV reserved until both are done
    std::shared_ptr<COutputClaim> m_output;  // the output file's claim, for as long as either writes
    // The source and its audio track, for the tags and cover step 2 carries over.
    std::string m_strSourcePath;
    int m_nAudioTrack = 0;
    // What step 2 does to the sound (gain, fades); null: nothing. Set before the encoder thread starts.
    std::shared_ptr<const CSoundShape> m_sound;
    PieceTags m_pieceTags;

    std::atomic<int> m_bCancelRequested{0};
    std::atomic<int> m_bConvertDone{0};
    std::atomic<int> m_bConvertFailed{0};
    std::atomic<int> m_nLastPosition{0}; // the encoder's last report, in per mille

    // The job's presenter while it shows; cleared when it closes, so a late report goes nowhere.
    void AttachView(IJobView* view);
    // What tells the job at once that its encoder thread has ended (rather than at its next poll), or
    // nothing; cleared as the view is. Called on the encoder thread, so it must only post.
    void AttachWake(std::function<void()> wake);
    void Wake();
    void ReportPosition(int pos);

    // Deletes the temporary WAV (only the file this job reserved).
    void RemoveTempWav();

private:
    std::mutex m_viewMutex;
    IJobView* m_pView = nullptr;
    std::function<void()> m_wake;
};

// Reads the temporary WAV from byte 44 on, in chunks, for the encoders. With a sound shape, what it
// delivers is shaped (the file's samples are 16-bit stereo).
class CTempWavSource {
public:
    CTempWavSource() = default;
    ~CTempWavSource() { Close(); }
    CTempWavSource(const CTempWavSource&) = delete;
    CTempWavSource& operator=(const CTempWavSource&) = delete;

    // shape, when given, must outlive the reading.
    bool Open(const std::string& path, const CSoundShape* shape = nullptr);
    // Moves the reading position to that byte of the samples (0 = the first, at offset 44).
    bool Seek(uint64_t sampleByte);
    int64_t FileSize() const { return m_fileSize; }
    // Whole 16-bit values read (0 at the end); a trailing odd byte is never delivered.
    size_t Read(int16_t* buffer, size_t values);
    // With a shape, whole 16-bit values only (an odd count is read one byte short).
    size_t ReadBytes(void* buffer, size_t bytes);
    void AddConsumed(uint64_t bytes) { m_consumed += bytes; }
    // Consumed bytes against the whole file, header included, in per mille (truncated).
    int GetPerMille() const;
    void Close();

private:
    void Shape(int16_t* values, size_t count);

    FILE* m_file = nullptr;
    int64_t m_fileSize = 0;
    uint64_t m_consumed = 0;
    const CSoundShape* m_shape = nullptr;
    uint64_t m_value = 0; // the index of the next 16-bit value the file gives
};

// The job frame of the encoder threads. They act on the job of the thread that calls them.
CJobState& CurrentJob();
void ReportProgress(int perMille);
bool IsCancelRequested();
// Shows the message (the thread waits until it is dismissed), then marks the job failed. Returns -1.
int FailJob(const std::string& message);
// Deletes the temporary WAV and marks the job done. Returns 0.
int FinishJob();
// The cancel exit: deletes the temporary WAV and sets no flag. Returns -1.
int CancelJob();
// Removes the job's output file, for one that could not be finished so that it plays; true when it
// went. Only the file the job claimed, and only a plain file. kUnfinishedRemoved ends the message.
bool RemoveOutput();
extern const char* const kUnfinishedRemoved;

// The label of the source a thread's job converts ("[2/8] clip.mp4: "), put in front of that job's
// messages when several conversions run side by side; empty otherwise. The encoder thread and the
// workers of a job take the label of the thread that starts them.
void SetJobLabel(const std::string& label);
const std::string& JobLabel();

// Step 2 on several threads: a thread that acts for the calling thread's job (ReportProgress and
// IsCancelRequested work in it). The job's encoder thread joins it before it ends.
std::thread StartJobWorker(std::function<void()> work);

// Progress over input that several threads of a job consume at once: one per-mille value over all of
// them, computed as GetPerMille does, reported only when it grows, so the bar never moves back.
class CSharedProgress {
public:
    explicit CSharedProgress(int64_t fileSize) : m_fileSize(fileSize) {}
    void AddConsumed(uint64_t bytes); // from any thread of the job

private:
    std::mutex m_mutex;
    int64_t m_fileSize;
    uint64_t m_consumed = 0;
    int m_reported = -1;
};

// The cores an encoder may keep busy. Every job alive counts for one core (its step 1 or its encoder
// thread); the cores left over may be borrowed for extra encoder threads of a step 2, so that jobs
// running side by side (quillet-cli -j) never ask for more threads than there are cores.
int CoreCount();             // the CPUs this process may run on
int BorrowCores(int wanted); // 0..wanted, at once
void ReturnCores(int count);

// printf-style formatting for the design's messages ("Error opening %s", "(%lu)").
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// An encoder thread of one job. Threads outlive their job's window when the user cancels; they are
// kept here until they end, and WaitForEncoderThreads joins them all before the program exits.
class CEncoderThread {
public:
    using Proc = int (*)();
    static std::shared_ptr<CEncoderThread> Start(std::shared_ptr<CJobState> job, Proc proc);
    bool IsRunning() const { return m_running.load(); }
    int Result() const { return m_result.load(); }

private:
    std::atomic<bool> m_running{true};
    std::atomic<int> m_result{0};
    friend struct EncoderThreadRegistry;
};

// Joins every encoder thread, handling GUI events meanwhile so that a thread showing a message can
// finish. Call before the program exits.
void WaitForEncoderThreads();
