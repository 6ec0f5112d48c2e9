/* VideoEdit.so: decodes a time range of a media file's audio and writes it as a PCM WAV file, or copies
 * the range of one audio track into a file of its own without re-encoding it.
 *
 * The program loads this module with dlopen and resolves the functions below with dlsym; this header is
 * the whole interface. All strings are UTF-8 byte strings (paths are passed to the system unchanged).
 *
 * One instance runs at most one extraction at a time, on a thread of its own. The functions may be
 * called from any thread but are meant for one owning thread; they are safe against the running
 * extraction. The event procedure runs on the extraction thread: it must return quickly and must not
 * wait for the owning thread (which may be joining the extraction thread at that moment). From inside
 * the event procedure only veStopExtraction and veResetExtraction may be called; they then only ask the
 * extraction to stop, without waiting.
 */
#ifndef QUILLET_VIDEOEDIT_H
#define QUILLET_VIDEOEDIT_H

#include <stdint.h>

#if defined(__GNUC__)
#define VE_API __attribute__((visibility("default")))
#else
#define VE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VideoEditInstance VideoEditInstance;

enum { VE_EVENT_EXTRACTION_FINISHED = 1, VE_EVENT_EXTRACTION_PROGRESS = 2, VE_EVENT_EXTRACTION_FAILED = 3 };

/* Called on the extraction thread.
 * PROGRESS: a = seconds written so far, b = seconds of the whole range (the range cut to the source's
 *           length when that is known). About four times a second while writing; the data written so
 *           far is in the file (not in a buffer) when the event arrives.
 * FAILED:   message is a text for the user naming the source (or the WAV file for write errors). No
 *           FINISHED follows. The WAV file, if it was created, is closed with a header matching its data.
 * FINISHED: only once the file is complete and closed. After a copy (veCopyRange), a = the seconds of
 *           the source's audio the copy plays (less than the range when the source ends first) and
 *           message = a note for the user when the copy is not exact to the sample ("whole frames: up
 *           to 32 ms more at each end"), else NULL; after an extraction a = b = 0 and message is NULL.
 *           message is NULL for PROGRESS.
 * Each run ends with exactly one FINISHED or FAILED unless it is stopped first. */
typedef void (*VE_EVENT_PROC)(void* user, int event, double a, double b, const char* message);

/* NULL when out of memory. proc may be NULL (no events). */
VE_API VideoEditInstance* veCreate(VE_EVENT_PROC proc, void* user);

/* Stops and joins any extraction; no event after it returns. NULL is ignored. */
VE_API void veDestroy(VideoEditInstance* ve);

/* Back to idle: stops a running extraction (as veStopExtraction) and forgets the source and range. */
VE_API void veResetExtraction(VideoEditInstance* ve);

/* Selects the source file and the range [startSeconds, endSeconds) in seconds from the start of the
 * source. endSeconds may lie past the end of the source (or be +infinity): the WAV then ends with the
 * audio. Returns 1 when the path is not empty, startSeconds >= 0 and endSeconds >= startSeconds (no NaN);
 * otherwise 0, and a following veExtractToWav fails with a FAILED event. The file is only opened by
 * veExtractToWav. */
VE_API int veSetSourceRange(VideoEditInstance* ve, const char* sourcePath, double startSeconds,
                            double endSeconds);

/* Stops any running extraction, then starts writing the selected range to wavPath on the extraction
 * thread and returns at once. Format: channels 1 or 2; sampleRate 1000 to 384000 Hz (8000 to 48000 are
 * the rates the program uses); bytesPerSample 1 (unsigned 8-bit) or 2 (signed 16-bit little-endian).
 * The WAV holds round((end - start) x sampleRate) sample frames, fewer when the source ends first.
 * Returns 1 when the extraction was started. Returns 0 when the arguments cannot work (no source
 * selected, invalid range, unsupported format, empty path); a FAILED event still follows in that case,
 * so a caller that ignores the result still learns about it. The file is created with mode 0666 before
 * the umask (an existing file keeps its mode); a symbolic link at wavPath is never followed. */
VE_API int veExtractToWav(VideoEditInstance* ve, const char* wavPath, int16_t channels, int32_t sampleRate,
                          int16_t bytesPerSample);

/* Selects the audio track of the following extractions: its number among the source's audio tracks,
 * 1-based in stream order as the program numbers them everywhere (shared/AudioTracks.h), or 0 for the
 * default track (the one the file marks as default, else the first). Kept until veResetExtraction.
 * An extraction of a track that the source does not have fails with a FAILED event naming the track.
 * Returns 0 for a negative number. */
VE_API int veSetAudioTrack(VideoEditInstance* ve, int32_t track);

/* As veExtractToWav, but keeping the track's own sound: its sample rate, its channels (more than 8 are
 * mixed down to 7.1) in their layout, and its depth (16-bit integers for sources of up to 16 bits,
 * 32-bit integers with 24 or 32 valid bits for deeper integer sources, 32-bit floats for sources that
 * decode to floating point, which lossy codecs do). The file is the hand-over file of shared/PcmFile.h
 * (a 104-byte WAVE_FORMAT_EXTENSIBLE header, RF64 once past 4 GB), so there is no 4 GB limit. The
 * samples of a range of a lossless source are the decoder's, bit for bit. PROGRESS reports seconds
 * as for veExtractToWav. */
VE_API int veExtractToSourceWav(VideoEditInstance* ve, const char* wavPath);

/* Whether the following extractions (veExtractToWav, veExtractToSourceWav) also measure the loudness
 * of what they write (ITU-R BS.1770 integrated loudness with EBU R128 gating, and the true peak), on
 * threads of their own beside the writing. The measure runs on over every extraction until
 * veResetExtraction or the next call of this function, so ranges written one after another into one
 * sound are measured as that sound. Returns 0 for a NULL instance. */
VE_API int veSetMeasureLoudness(VideoEditInstance* ve, int32_t on);
typedef struct VE_LOUDNESS {
    uint32_t dwStructSize;  /* sizeof(VE_LOUDNESS), set by the caller */
    int32_t nMeasured;      /* 0: nothing measurable (silence, or under 0.4 s), or not measured */
    double dIntegratedLufs; /* LUFS */
    double dTruePeakDbtp;   /* dBTP, the highest of the channels */
} VE_LOUDNESS;
/* The loudness measured up to the end of the last extraction, valid once its FINISHED event has come
 * (any thread). Returns nMeasured. */
VE_API int veGetLoudness(VideoEditInstance* ve, VE_LOUDNESS* loudness);
/* Stops promptly, joins, and leaves a closed WAV whose header matches its data; no event after it returns.
 * A copy (veCopyRange) is finished as a file that plays up to where it got, or removed when nothing was
 * copied yet. Does nothing when nothing runs. */
VE_API void veStopExtraction(VideoEditInstance* ve);

/* The "original" output: the selected range of one audio track copied without decoding it, in the
 * container that suits its codec, with the container stating exactly which samples to play:
 *   AAC, ALAC -> .m4a   the packets from a little before the start (the decoder's overlap), an edit list
 *                       in units of the sample rate whose start skips to the first sample of the range and
 *                       whose length is the range, and an iTunSMPB tag saying the same;
 *   MP3       -> .mp3   whole frames from two before the start, behind a frame of silence that carries
 *                       their bit reservoir, and a LAME tag whose delay and padding drop the rest;
 *   Opus      -> .opus  packets from 80 ms before the start; the pre-skip drops them (with the source's
 *                       own pre-skip where the copy starts at the beginning), the last granule position
 *                       ends the range (RFC 7845);
 *   Vorbis    -> .ogg   packets from one before the start; the granule positions of the first and the
 *                       last page trim both ends;
 *   FLAC, PCM -> .flac, .wav  decoded and written again losslessly at the source's format (STREAMINFO's
 *                       sample count and MD5 right), so exact by nature;
 *   AC-3, E-AC-3, DTS, MP2 -> .ac3, .eac3, .dts, .mp2, any other codec -> .mka: the whole frames that cover
 *                       the range, never less (FINISHED's note says so).
 * Time 0 and the range are those of veSetSourceRange. The source's own trimming counts: the copy holds
 * the samples its decoder keeps. */
typedef struct VE_COPY_TAGS {
    uint32_t dwStructSize; /* sizeof(VE_COPY_TAGS) */
    const char* pszTitle;  /* UTF-8; NULL or empty adds nothing; needed during veCopyRange only */
    const char* pszArtist;
    const char* pszAlbum;
    const char* pszYear;
    const char* pszGenre;
} VE_COPY_TAGS;

typedef struct VE_COPY_INFO {
    uint32_t dwStructSize; /* sizeof(VE_COPY_INFO), set by the caller */
    int32_t nExact;        /* 1: players play exactly the range; 0: whole frames around it */
    double dFrameSeconds; /* the track's frame length: the most a copy holds beyond each end when not exact */
    char szExtension[16]; /* the output's extension with its dot: ".m4a", ".mp3", ... */
    char szCodec[32];     /* the codec's name as people know it: "AAC", "MP3", "AC-3", "PCM", ... */
} VE_COPY_INFO;

/* What a copy of the track (1-based over the file's audio streams, 0 the default one) gives. Reads the
 * source's headers on the calling thread (any thread; no instance needed). Returns 1 and fills info, or
 * 0 and writes a message for the user into `message` (when not NULL): no such file, no audio, a codec no
 * container here takes. */
VE_API int veDescribeCopy(const char* sourcePath, int32_t track, VE_COPY_INFO* info, char* message,
                          int32_t messageSize);

/* Stops any running extraction, then starts copying the selected range of the track to outputPath on the
 * extraction thread and returns at once; events as for veExtractToWav (PROGRESS counts seconds of the
 * range). The file is created as veExtractToWav creates its WAV; a failed copy leaves no file unless it
 * could still be finished as one that plays. Returns 1 when the copy was started, 0 when the arguments
 * cannot work (a FAILED event follows, as for veExtractToWav). */
VE_API int veCopyRange(VideoEditInstance* ve, const char* outputPath, int32_t track,
                       const VE_COPY_TAGS* tags);

/* Self-check run at every start-up: demuxes, decodes and resamples a short generated clip and writes it
 * as a WAV file into memory. 0 when everything works; a negative code (0x80004005 as a 32-bit value)
 * when it does not. */
VE_API long DllRegisterServer(void);

#ifdef __cplusplus
}
#endif

#endif
