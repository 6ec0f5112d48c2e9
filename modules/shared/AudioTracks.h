#pragma once

// The one numbering of a media file's audio tracks. Every part that takes a track number maps it here:
// the extraction module, the waveform reader, the preview player (mpv's "aid" counts the same way), the
// window's chooser and quillet-cli.
//
// Track n is the n-th audio stream of the file in stream order, counted from 1; video, attached
// pictures, subtitles and data streams are not counted. Track 0 stands for the default track: the
// first audio track the file marks as default, else the first. The numbering is that of the streams
// FFmpeg finds once avformat_find_stream_info has run (which also finds the streams of an MPEG
// transport stream that its header does not list).
//
// Pure functions of an opened context, plus one probe that opens a file with a context of its own;
// they may run on any thread. Nothing here throws except std::bad_alloc.

#include <string>
#include <vector>

struct AVFormatContext;

struct AudioTrack {
    int number = 0;         // 1-based
    int stream = -1;        // the stream's index in the file
    bool isDefault = false; // the file marks it as default
    std::string language;   // as tagged ("deu"); empty when untagged or "und"
    std::string title;      // the track's own name, one line of valid UTF-8; often empty
    std::string codec;      // "AAC", "AC-3", "FLAC", ...
    int sampleRate = 0;     // Hz, 0 when unknown
    int channels = 0;       // 0 when unknown
    std::string layout;     // "mono", "stereo", "5.1", "7.1", or "N ch"; empty when unknown
    double duration = 0;    // seconds; 0 when unknown
};

std::vector<AudioTrack> ListAudioTracks(const AVFormatContext* fmt);

// The number track 0 stands for; 0 when there is no audio track.
int DefaultAudioTrack(const std::vector<AudioTrack>& tracks);

// The stream index of the track (0: the default); -1 when the file has no such track.
int AudioTrackStream(const AVFormatContext* fmt, int number);

// The track as its users know it: "2: deu, AAC stereo, Commentary".
std::string DescribeAudioTrack(const AudioTrack& track);

// Opens a local file as media (no other protocol, not even through a playlist posing as a video) and finds
// its streams as the numbering counts them. Null when it cannot be read as media; the caller closes it
// with avformat_close_input.
AVFormatContext* OpenMediaFile(const std::string& path);

// Opens a local file and lists its audio tracks. False when the file cannot be read as media.
bool ProbeAudioTracks(const std::string& path, std::vector<AudioTrack>& tracks);
