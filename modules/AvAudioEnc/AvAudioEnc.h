/*
 * AvAudioEnc.so: FLAC, Opus and AAC (M4A) writer module on FFmpeg's libraries, with a C interface.
 * This header is the module's whole ABI.
 *
 * The program opens the module with dlopen and resolves the three entry points by name. Records are
 * little-endian with fixed-width numbers; pointer fields have the native width, and each record's size
 * word holds its real size, which the module checks.
 *
 * Driving a stream:
 *   aeEncOpen   -> creates the output file (replacing one of that name), writes its header, and gives
 *                  a handle
 *   aeEncWrite  -> any number of interleaved signed 16-bit native-endian values; a chunk that ends
 *                  inside a sample frame keeps that part for the next call (a part left at close is
 *                  dropped)
 *   aeEncClose  -> encodes what is buffered, writes the end of the file, closes it and releases the
 *                  handle. A stream closed early (a cancelled job) is finished the same way, so its
 *                  file plays as far as it got.
 * The module writes the file itself; a write error (a full disk) sticks: later calls return it too.
 * aeEncClose after a write error still finishes the file as far as it got, so that it plays: the file
 * is cut back to its last whole packet and its header rewritten in place (FLAC: STREAMINFO gives the
 * samples kept, with no MD5; Opus: whole Ogg pages). An MP4 cannot be finished that way (its index goes
 * at the end, where there is no room): aeEncClose then returns AE_ERR_UNFINISHED, and the caller should
 * remove the file, which does not play.
 * aeEncErrorText (optional: resolve it like the others, and do without it when it is missing) gives
 * the system's or FFmpeg's reason behind the last failure any entry point returned on the calling
 * thread, as dlerror() does.
 * Each stream may be used from any one thread at a time; different streams are independent.
 *
 * Formats (the input may be 1 or 2 channels at 8000 to 192000 Hz):
 *   AE_FORMAT_FLAC  FFmpeg's FLAC encoder in a native FLAC file, at the input's rate and channels, at
 *                   compression level 0 (fastest) to 8 (smallest). Lossless: decoding gives the input's
 *                   samples bit for bit. STREAMINFO carries the total sample count and the MD5.
 *   AE_FORMAT_OPUS  libopus through FFmpeg in an Ogg Opus file at 48000 Hz (Opus codes nothing else):
 *                   the input is resampled once, and the stream holds exactly
 *                   round(frames x 48000 / input rate) samples. The header's pre-skip and the last
 *                   page's granule position make decoders drop the encoder's delay and padding.
 *                   Bitrate 6000 to 256000 bits/s per stream (VBR), application audio or VoIP.
 *   AE_FORMAT_AAC   FFmpeg's native AAC-LC encoder in an MP4 audio file (.m4a), at the input's rate and
 *                   channels, 64000 to 320000 bits/s. The edit list, in units of the sample rate,
 *                   covers exactly the input: decoders that honour it drop the 1024 samples of
 *                   priming and the padding of the last frame.
 * Tags: title, artist, album, year and genre texts (UTF-8) become Vorbis comments TITLE, ARTIST,
 * ALBUM, DATE and GENRE (FLAC, Opus) or the MP4 items ©nam, ©ART, ©alb, ©day and ©gen (AAC); a null
 * pointer or an empty text adds nothing.
 */
#ifndef QUILLET_AVAUDIOENC_H
#define QUILLET_AVAUDIOENC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define AE_EXTERN_C extern "C"
#else
#define AE_EXTERN_C
#endif
#define AE_EXPORT AE_EXTERN_C __attribute__((visibility("default")))

typedef uint32_t AE_ERR;
typedef uint32_t HAE_STREAM;

#define AE_ERR_SUCCESSFUL 0u
#define AE_ERR_INVALID_PARAMETER 1u /* a null pointer or a value out of range */
#define AE_ERR_INVALID_CONFIG 2u    /* a record has another size, or an unknown format */
#define AE_ERR_NO_ENCODER 3u        /* the FFmpeg libraries lack the format's encoder or muxer */
#define AE_ERR_CANNOT_CREATE 4u     /* the output file cannot be created */
#define AE_ERR_WRITE_FAULT 5u       /* writing the output file failed */
#define AE_ERR_DISK_FULL 6u         /* no space left, or the file size limit reached */
#define AE_ERR_ENCODER_FAILED 7u    /* the encoder or the muxer failed inside a stream */
#define AE_ERR_NO_MORE_HANDLES 8u
#define AE_ERR_INVALID_HANDLE 9u
#define AE_ERR_OUT_OF_MEMORY 10u
#define AE_ERR_UNFINISHED 11u /* aeEncClose: the stream failed before and its file cannot be finished */

#define AE_FORMAT_FLAC 1u
#define AE_FORMAT_OPUS 2u
#define AE_FORMAT_AAC 3u

#define AE_OPUS_AUDIO 0u /* music and mixed content */
#define AE_OPUS_VOIP 1u  /* speech */

#pragma pack(push, 1)

/* Settings record, zeroed before use. */
typedef struct AE_CONFIG {
    uint32_t dwStructSize;      /* sizeof(AE_CONFIG) = 28 */
    uint32_t dwFormat;          /* AE_FORMAT_... */
    uint32_t dwChannels;        /* of the input: 1 or 2 */
    uint32_t dwSampleRate;      /* of the input, Hz */
    uint32_t dwCompression;     /* FLAC: 0..8; otherwise not read */
    uint32_t dwBitrate;         /* Opus, AAC: bits per second; otherwise not read */
    uint32_t dwOpusApplication; /* Opus: AE_OPUS_AUDIO or AE_OPUS_VOIP; otherwise not read */
} AE_CONFIG;

#pragma pack(pop)

/* Tag record, natural alignment (48 bytes on 64-bit systems). The texts need to stay valid during
 * aeEncOpen only. */
typedef struct AE_TAGS {
    uint32_t dwStructSize; /* sizeof(AE_TAGS) */
    const char* pszTitle;
    const char* pszArtist;
    const char* pszAlbum;
    const char* pszYear;
    const char* pszGenre;
} AE_TAGS;

#ifdef __cplusplus
#define AE_STATIC_ASSERT static_assert
#else
#define AE_STATIC_ASSERT _Static_assert
#endif
AE_STATIC_ASSERT(sizeof(AE_CONFIG) == 28, "AE_CONFIG is 28 bytes");
AE_STATIC_ASSERT(offsetof(AE_CONFIG, dwBitrate) == 20, "AE_CONFIG layout");
AE_STATIC_ASSERT(sizeof(AE_TAGS) == 6 * sizeof(void*), "AE_TAGS size");

/* Opens a stream that writes the file at pszPath (UTF-8). Out: the stream handle (never 0). */
AE_EXPORT AE_ERR aeEncOpen(const AE_CONFIG* pConfig, const AE_TAGS* pTags, const char* pszPath,
                           HAE_STREAM* phStream);

/* Encodes nValues interleaved 16-bit values (0 is allowed). */
AE_EXPORT AE_ERR aeEncWrite(HAE_STREAM hStream, uint32_t nValues, const int16_t* pValues);

/* Finishes the file and closes it; the handle is released whatever the result. */
AE_EXPORT AE_ERR aeEncClose(HAE_STREAM hStream);

/* The reason behind the last failure an entry point returned on this thread ("No space left on
 * device", FFmpeg's text), "" when it has none. Valid until the thread's next call into the module. */
AE_EXPORT const char* aeEncErrorText(void);

typedef AE_ERR (*AEENCOPEN)(const AE_CONFIG*, const AE_TAGS*, const char*, HAE_STREAM*);
typedef AE_ERR (*AEENCWRITE)(HAE_STREAM, uint32_t, const int16_t*);
typedef AE_ERR (*AEENCCLOSE)(HAE_STREAM);
typedef const char* (*AEENCERRORTEXT)(void);

#endif /* QUILLET_AVAUDIOENC_H */
