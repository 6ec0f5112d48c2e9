/* VideoEdit.so: decodes a time range of a media file's audio and writes it as a PCM WAV file.
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
 * FINISHED: only once the file is complete and closed. message is NULL for the other two events.
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

/* Stops promptly, joins, and leaves a closed WAV whose header matches its data; no event after it returns.
 * Does nothing when no extraction runs. */
VE_API void veStopExtraction(VideoEditInstance* ve);

/* Self-check run at every start-up: demuxes, decodes and resamples a short generated clip and writes it
 * as a WAV file into memory. 0 when everything works; a negative code (0x80004005 as a 32-bit value)
 * when it does not. */
VE_API long DllRegisterServer(void);

#ifdef __cplusplus
}
#endif

#endif
