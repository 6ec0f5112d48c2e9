#pragma once

#include "JobFrame.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Step 2 in segments, shared by the lossy encoders (MP3, AAC, Opus, Ogg Vorbis).
//
// The temporary file is complete when step 2 starts, so its frames can be cut into segments that encoders of
// one format and one set of settings encode at the same time, and whose outputs are joined into the one
// stream a single encoder writes: one header, continuous timestamps, the exact length.
//
// Threads and cores: one thread per segment; the first segment runs on the calling thread (the job's encoder
// thread), the others on job workers (StartJobWorker) for which cores are borrowed (BorrowCores), so that
// step 1 of other jobs and quillet-cli -j share them. Fewer free cores give fewer segments; an input too
// short for two segments of the format's minimum stays one (NotTried: the caller encodes with one stream, as
// before). Every call on a segment's encoder is made by one thread at a time.
//
// What a format provides (ISegmentFormat):
//   - where segments may start and how much input they need around their own part (SegmentGrid: the start
//     grid, the warm-up a segment's encoder runs before its own first frame, the tail it runs past its own
//     end, the shortest segment worth making), or a plan of its own (Plan);
//   - an encoder per segment (Open): the first writes the output file, the others their output into a scratch
//     file the joiner made for them; each drops its warm-up;
//   - how two segments join (Join): after every segment has ended, in order, on the calling thread. Where two
//     streams do not meet at the planned point (their frames do not match there), Join may ask for more of
//     the segment before (NeedInput): the joiner feeds that segment's encoder the next chunk and asks again;
//     a segment whose own part the one before has thus covered is dropped, and one that reaches the end of
//     the input is flushed as the last;
//   - how the output ends (Close): complete, or as a cancelled or failed job leaves it.
//
// Temporary files: the scratch files are nameless (O_TMPFILE beside the temporary file, or unlinked at once),
// so they are gone however the job ends, crash included.
//
// Cancel and failure: every segment stops after its current chunk (a cancel request is seen after each chunk,
// as with one encoder). The output then keeps the longest run from the start: the first segment as far as it
// got, then each following one, as far as it got, while the one before it finished; the format closes it as
// it closes a cancelled file. The first failure of any segment is the one reported. The joiner ends neither
// the job nor the caller's files: the caller does, by the result.
//
// Progress: each segment counts the frames of its own part as it encodes them; one per mille over all of
// them is reported, never moving back.

// A segment's part of the input, in frames.
struct SegmentSpan {
    int64_t readFrom = 0; // its encoder is fed from here (a warm-up before ownFrom)
    int64_t ownFrom = 0;  // its output carries the input from here
    int64_t ownTo = 0;    // to here: the next segment's ownFrom, or the input's end for the last
    int64_t readTo = 0;   // its input ends here (past ownTo: a tail where the next segment may meet it)
    bool last = false;    // the last segment: its part ends with the input
};

// A format's numbers for planning, in input frames.
struct SegmentGrid {
    int64_t step = 1;      // readFrom and ownFrom of every segment are multiples of this
    int64_t warmup = 0;    // input fed before a segment's own part (at least; rounded up to the step)
    int64_t tail = 0;      // input fed after a segment's own part
    int64_t minFrames = 0; // the shortest own part worth a segment

    // From a module's record of four 64-bit counts.
    static SegmentGrid Of(uint64_t step, uint64_t warmup, uint64_t tail, uint64_t minFrames) {
        return {static_cast<int64_t>(step), static_cast<int64_t>(warmup), static_cast<int64_t>(tail),
                static_cast<int64_t>(minFrames)};
    }
};

// Near-even shares of the input for at most `count` segments on the grid, each own part at least minFrames
// long; one segment covering everything when the input is too short for two.
std::vector<SegmentSpan> PlanSegments(const SegmentGrid& grid, int64_t frames, int count, int64_t minFrames);

// The temporary file as the segments read it: interleaved frames, each segment through a reader of its own.
class ISegmentInput {
public:
    class Reader {
    public:
        virtual ~Reader() = default;
        // Whole frames read into the buffer (room for `frames`); 0 at the end.
        virtual size_t Read(void* buffer, size_t frames) = 0;
    };
    virtual ~ISegmentInput() = default;
    virtual int64_t Frames() const = 0;
    virtual int Rate() const = 0;
    virtual size_t FrameBytes() const = 0;
    // The byte count against which progress is reported (the file's size, its header included).
    virtual int64_t ProgressBytes() const = 0;
    // A reader positioned at the frame; null when the file cannot be opened again.
    virtual std::unique_ptr<Reader> OpenAt(int64_t frame) const = 0;
};

// The design's temporary WAV: a 44-byte header, then interleaved frames of the given layout. Every
// reader of either input shapes what it reads with `shape` when one is given (it must outlive them).
std::unique_ptr<ISegmentInput> OpenTempWavInput(const std::string& path, int channels, int bytesPerSample,
                                                const CSoundShape* shape = nullptr);
// The hand-over file in the source's own sound (CPcmReader): frames as the reader delivers them.
std::unique_ptr<ISegmentInput> OpenPcmInput(const std::string& path, const CSoundShape* shape = nullptr);

// One segment's encoder.
class ISegmentEncoder {
public:
    virtual ~ISegmentEncoder() = default;
    // Frames it takes per Encode call at most.
    virtual size_t ChunkFrames() const = 0;
    // Encodes frames of interleaved input. "" or the message that fails the job.
    virtual std::string Encode(const void* frames, size_t count) = 0;
    // Its input ended: at the end of the whole input (atEnd: the stream ends here) or at its readTo. More
    // input may follow a call with atEnd false (Join's NeedInput).
    virtual std::string Done(bool atEnd) = 0;
};

enum class JoinResult {
    Joined,    // the next segment's output follows the output; it is now the last one joined
    NeedInput, // the two do not meet in what the last one has encoded: feed it more input
    Failed,
};

class ISegmentFormat {
public:
    virtual ~ISegmentFormat() = default;
    virtual SegmentGrid Grid() const = 0;
    // The segments of an input of `frames` frames: at most `count`, each own part at least minFrames long.
    virtual std::vector<SegmentSpan> Plan(int64_t frames, int count, int64_t minFrames) const {
        return PlanSegments(Grid(), frames, count, minFrames);
    }
    // The encoder of segment `index` of the plan (0 writes the output file, the others into `scratch`).
    // Null with a message, or with none when the format cannot do it after all (then one stream encodes).
    virtual std::unique_ptr<ISegmentEncoder> Open(int index, const SegmentSpan& span, std::FILE* scratch,
                                                  std::string* error) = 0;
    // Appends the output of `next` (which read from its scratch file, where it put it) after the output,
    // whose last segment so far is `last`.
    virtual JoinResult Join(ISegmentEncoder& last, ISegmentEncoder& next, std::FILE* nextScratch,
                            std::string* error) = 0;
    // Finishes the output after `last`, the last segment joined: complete (every segment joined, the last one
    // flushed), or as a cancelled or failed job leaves it. "" or the message that fails the job.
    virtual std::string Close(ISegmentEncoder& last, bool complete) = 0;
};

enum class SegmentsEnd {
    All,       // the output is complete and closed by the format
    Cancelled, // the output keeps the longest run from the start
    Failed,    // likewise; `error` says why
    NotTried,  // nothing written: encode with one stream
};

// Runs on a job's encoder thread; the scratch files go beside the job's temporary file.
SegmentsEnd EncodeInSegments(ISegmentFormat& format, const ISegmentInput& input, std::string* error);

// How the input is cut: at most one segment per core the job may use, each at least minSeconds long and the
// format's minimum. Tests force a number of segments (regardless of the cores) and shorter ones, and watch
// the segments' threads.
struct SegmentPolicy {
    int forcedSegments = 0; // 0: by the cores
    double minSeconds = 20;
    // Called on a segment's thread after each chunk (finished false) and once it finished (true); a message
    // fails the segment.
    std::function<std::string(size_t segment, bool finished)> observe;
};
void SetSegmentPolicy(const SegmentPolicy& policy);
SegmentPolicy GetSegmentPolicy();

// Appends the whole scratch file to the output at its position; false on a read or write error.
bool AppendScratch(std::FILE* to, std::FILE* scratch);
