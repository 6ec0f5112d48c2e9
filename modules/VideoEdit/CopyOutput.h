#pragma once

#include "RangeCopy.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

struct AVCodecParameters;
struct AVDictionary;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace videoedit {

// A packet of the copied track on the track's sample clock: a decoder gives the samples [pos, pos + dur).
// The last `trimEnd` of them are not part of the source's audio (its own end trimming).
struct PlacedPacket {
    AVPacket* pkt = nullptr;
    int64_t pos = 0;
    int64_t dur = 0;
    int64_t trimEnd = 0;
    int64_t End() const { return pos + dur; }
};

enum class CopyKind {
    Mp4,         // AAC, ALAC: an edit list and iTunSMPB say which samples play
    Mp3,         // a LAME tag's delay and padding
    OggOpus,     // pre-skip and the last page's granule position
    OggVorbis,   // the granule positions of the first and the last page
    Lossless,    // FLAC and PCM, decoded and written again as they were
    WholeFrames, // no trimming: the frames that cover the range
};

struct CopyPlan {
    CopyKind kind = CopyKind::WholeFrames;
    const char* muxer = "";
    const char* extension = "";
};

// How a track of this codec is copied; false when no container here takes it.
bool PlanCopy(const AVCodecParameters* par, CopyPlan* plan);

// Writes a copy's file. The driver hands it the range [start, end) on the track's clock at Open, the
// first packet it copies with the packets before it at Begin, then every packet in order; the last one
// with the end of the audio to keep. Every call returns "" or a message for the user.
class CopyOutput {
public:
    static std::unique_ptr<CopyOutput> Create(const CopyPlan& plan);
    virtual ~CopyOutput();
    CopyOutput(const CopyOutput&) = delete;
    CopyOutput& operator=(const CopyOutput&) = delete;

    // What a decoder needs before the packet that holds the range's first sample (both must hold), and
    // how many packets before the first copied one it reads bytes from (MP3's bit reservoir).
    virtual int PrerollPackets() const { return 0; }
    virtual int64_t PrerollSamples() const { return 0; }
    virtual int HistoryPackets() const { return 0; }

    // Creates the file (never through a symbolic link, never over the source itself) and the muxer.
    std::string Open(const std::string& path, const std::string& sourcePath, const AVStream* source, int rate,
                     const CopyTags& tags, int64_t start, int64_t end);
    // Writes the header; `history` are the packets before `first`, oldest first.
    std::string Begin(const PlacedPacket& first, const std::vector<const PlacedPacket*>& history);
    std::string Write(const PlacedPacket& packet, bool last, int64_t end);
    // Completes the file. Without a Begin (nothing copied) the file is removed instead.
    std::string Finish();
    // Removes the file (a failed copy that cannot be finished): the one this copy opened, when the path
    // still names it. A name claimed for the copy beforehand goes too.
    void Abandon();

    // The source's stream after the source was opened again.
    void Rebind(const AVStream* source) { m_source = source; }

    bool Begun() const { return m_begun; }
    // The longest packet copied, in samples.
    int64_t LongestPacket() const { return m_longest; }

protected:
    CopyOutput() = default;

    // The output stream's parameters, from the source's; the header is written after.
    virtual std::string SetUpStream(const PlacedPacket& first,
                                    const std::vector<const PlacedPacket*>& history);
    virtual void HeaderOptions(AVDictionary** options);
    virtual std::string Copy(const PlacedPacket& packet, bool last, int64_t end);
    virtual std::string Drain() { return ""; }    // before the trailer
    virtual std::string Complete() { return ""; } // after the trailer, on the closed muxer's file
    virtual bool TagsOnStream() const { return false; }

    // Writes a packet whose times are on the clock relative to the range's start, in samples.
    std::string Mux(AVPacket* pkt);
    // Writes the packet's data with these times, and the samples to drop at its end (none: -1).
    std::string MuxAt(const PlacedPacket& packet, int64_t pts, int64_t duration, int64_t discardEnd = -1);
    std::string WriteError(int averror) const;

    const AVStream* m_source = nullptr;
    AVStream* m_stream = nullptr;
    AVFormatContext* m_mux = nullptr;
    int m_fd = -1;
    int m_rate = 0;
    int64_t m_start = 0;
    int64_t m_end = 0;
    std::string m_path;

private:
    static int WriteToFile(void* opaque, uint8_t* data, int size);
    static int64_t SeekInFile(void* opaque, int64_t offset, int whence);
    void CloseFile();

    const char* m_muxer = "";
    AVIOContext* m_io = nullptr;
    CopyTags m_tags;
    bool m_opened = false; // the file below is this copy's
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    bool m_begun = false;
    int m_errno = 0;
    int64_t m_longest = 0;
};

} // namespace videoedit
