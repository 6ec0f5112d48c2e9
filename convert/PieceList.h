#pragma once

// Several pieces of one source in one run: each piece converted as a single job of its own (its range,
// its output, its tags), one after another, or all pieces joined into one output.
//
// Naming: "<base> - NN - <piece name>.<ext>", NN the piece's number with as many digits as the count
// needs (at least two), so the files sort in order; characters a file name cannot hold on the file
// systems users copy to ('/', '\\', ':', '*', '?', '"', '<', '>', '|', control characters) become '_'.
// A name that is taken is numbered as the design numbers names (COutputClaim::ClaimFirstFree).
//
// Threads and lifetimes: CPieceRun lives on one thread with an event loop (the window's, or a
// command-line conversion's) and runs one CConversionJob at a time on it; its view is told of every
// piece. Errors are the jobs' own (their messages); the run stops at the first piece that fails or is
// cancelled, the pieces finished before it stay.

#include "ConversionJob.h"
#include "OutputClaim.h"
#include "PieceSources.h" // app: Piece and where pieces come from

#include <QObject>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CPeakOverview;

// The piece's name as part of a file name (see above); "Piece <number>" when it is empty.
std::string PieceNamePart(const std::string& name, int number);
// "<base> - NN - <name>" without folder and extension.
std::string PieceFileStem(const std::string& base, int number, int count, const std::string& name);
// The first free name for the piece in the folder (ending with '/'), created at once (OutputClaim.h).
std::shared_ptr<COutputClaim> ClaimPieceOutput(const std::string& folder, const std::string& base, int number,
                                               int count, const std::string& name, const std::string& ext,
                                               std::string* error);
// A name pattern of the command line: %b the source's base name, %n the number (as NN above), %t the
// piece's name (as above), %% a percent sign.
std::string ExpandPiecePattern(const std::string& pattern, const std::string& base, int number, int count,
                               const std::string& name);

// Appends the samples of the WAV file `from` to the WAV file `into` and makes `into`'s header count
// them: the design's canonical 44-byte header or the 104-byte hand-over header (PcmFile.h). Both must
// hold the same format. False with a message naming the file otherwise, or on a write error.
bool AppendWavData(const std::string& into, const std::string& from, std::string& problem);

// Pieces between silences read from the waveform's peak overview (PieceSources.h, SplitAtSilence), at
// the overview's own resolution or 10 ms, whichever is coarser.
std::vector<Piece> SplitOverviewAtSilence(const CPeakOverview& overview, double thresholdDb,
                                          double shortestSilence);

class CPieceRun : public QObject {
    Q_OBJECT
public:
    explicit CPieceRun(IJobView& view, QObject* parent = nullptr);
    ~CPieceRun() override; // a job still running is cancelled

    // Inputs, set before Start.
    std::string m_strSourcePath;
    int m_nAudioTrack = 0;
    std::vector<Piece> m_pieces; // in order; at least one
    // The pieces' album where the window's Album is not set: the source's title, or its file name.
    std::string m_strAlbum;
    bool m_bJoin = false;
    // One claimed output per piece, or one when joined.
    std::vector<std::shared_ptr<COutputClaim>> m_outputs;
    std::string m_strTempFolder; // ends with '/'

    void Start();
    // The confirmed Cancel: stops the current piece (as a cancelled job), starts no other.
    void Cancel();

    bool IsEnded() const { return m_nResult != 0; }
    int Result() const { return m_nResult; } // IDOK once every piece is written, else IDCANCEL
    bool IsFailed() const { return m_bFailed; }
    // The outputs written so far, in order.
    const std::vector<std::string>& Written() const { return m_written; }
    // Warnings of pieces whose source ended before their range did, and closing notes of copies.
    const std::vector<std::string>& Notes() const { return m_notes; }
    bool IsShort() const { return m_bShort; }

signals:
    void Ended(int result);

private:
    class View;
    void StartPiece();
    void OnJobEnded(int result);
    void End(int result);

    IJobView& m_outer;
    std::unique_ptr<View> m_view;
    std::unique_ptr<CConversionJob> m_job;
    size_t m_nPiece = 0;
    int m_nResult = 0;
    bool m_bFailed = false;
    bool m_bShort = false;
    std::shared_ptr<const SourceTags> m_sourceTags;
    std::vector<std::string> m_written;
    std::vector<std::string> m_notes;
};

// The album a run's pieces carry by default: the source's title tag, else its base name.
std::string DefaultPieceAlbum(const std::string& sourcePath, int track);
