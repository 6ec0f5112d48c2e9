/* The one timeline of a media file. The preview and its slider, the marks, the waveform, the duration
 * and the extraction all count seconds on it, so a time the user sees, marks or types means the same
 * moment everywhere.
 *
 * Time 0 is the container's start: the earliest first timestamp over all of the file's streams (video
 * included), as libavformat sets AVFormatContext::start_time once the streams have been probed
 * (avformat_find_stream_info; without the probe many demuxers leave it unset, so every reader probes).
 * It is not the first audio sample: audio that begins after the picture sits at its own later time, with
 * silence before it, and codec priming before the picture lies just before 0. This is also where
 * `ffmpeg -ss` counts from. A file that tells no start counts from its timestamp 0.
 *
 * The length runs from time 0 to the end of the last stream. Matroska and QuickTime/MP4 give their
 * duration from their own zero (the segment's, the movie's), so a file that starts late (a cut stream at
 * 30 s, an MP4 with an empty edit of 5 s) has the start taken off; MPEG-PS/TS and the others give it
 * from the first timestamp already.
 *
 * The preview player (mpv) runs with rebase-start-time=no, so that its positions are the file's own
 * timestamps in seconds for every demuxer (by default it takes off a start of its own, which for MP4
 * is 0 because it skips the stream probe there); PlayerSeconds and FromPlayerSeconds map between the two.
 *
 * Audio whose timestamps stop advancing (RealMedia files whose packets are all stamped 0) cannot be
 * placed by them: after kStalledPackets packets in a row that do not move on, readers count samples
 * instead, from the stream's first packet placed at its own timestamp.
 *
 * Plain functions and values, no state shared between threads; any thread may use them. */
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

struct AVFormatContext;
struct AVPacket;

struct MediaTimeline {
    int64_t startUs = 0;  // the container's start on the file's own clock, in AV_TIME_BASE units
    double length = 0;    // seconds from time 0 to the end; 0 when the file does not tell it
    bool stalled = false; // the audio's timestamps do not advance (AudioClockStalls)

    double StartSeconds() const { return static_cast<double>(startUs) / 1e6; }
    // A stream's timestamp as seconds on the timeline.
    double Seconds(int64_t ts, AVRational timeBase) const;
    // The player's position for a time on the timeline, and back.
    double PlayerSeconds(double seconds) const { return seconds + StartSeconds(); }
    double FromPlayerSeconds(double playerSeconds) const { return playerSeconds - StartSeconds(); }
};

// The timeline of a file opened with libavformat whose streams have been probed.
MediaTimeline TimelineOf(const AVFormatContext* ctx);

// Reads the first audio packets of a file just opened (they are gone afterwards; seek or reopen): true
// when their timestamps do not advance. Other streams should be discarded first.
bool AudioClockStalls(AVFormatContext* ctx, int audio, AVPacket* pkt);

// Watches an audio stream's packet timestamps, in reading order.
class StalledClock {
public:
    static constexpr int kStalledPackets = 3;
    // Takes the next packet's timestamp (AV_NOPTS_VALUE and empty packets tell nothing); true once
    // kStalledPackets packets in a row have not moved past the one before them.
    bool Take(int64_t pts, int size);
    void Reset() { *this = StalledClock(); }

private:
    int64_t m_last = INT64_MIN;
    int m_stalls = 0;
};
