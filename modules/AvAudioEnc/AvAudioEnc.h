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
 *   aeEncWrite  -> any number of interleaved values in the configured sample format, native-endian;
 *                  a chunk that ends inside a sample frame keeps that part for the next call (a part
 *                  left at close is dropped)
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
 * Input: 1 to 8 channels at 8000 to 768000 Hz, as 16-bit integers, 32-bit integers (the sample in the
 * high bits; dwBitsPerSample tells how many count, 24 or 32) or 32-bit floats (full scale +-1.0), in
 * the channel order of the WAV channel mask dwChannelMask (0: the usual layout for the count, as
 * FFmpeg's default layouts have it).
 *
 * Formats:
 *   AE_FORMAT_FLAC  FFmpeg's FLAC encoder in a native FLAC file, at the input's rate and channels
 *                   (layouts other than the usual ones are named by a WAVEFORMATEXTENSIBLE_CHANNEL_MASK
 *                   comment, as FFmpeg does), at compression level 0 (fastest) to 8 (smallest).
 *                   16-bit input gives a 16-bit stream, any other a 24-bit one (32-bit integers lose
 *                   their low 8 bits, floats are converted). Lossless: 16 and 24-bit input decodes
 *                   bit for bit. STREAMINFO carries the total sample count and the MD5. With
 *                   dwThreads above 1, runs of frames are coded by that many encoders at once (FLAC
 *                   frames stand on their own) and joined into the very file one encoder makes.
 *   AE_FORMAT_OPUS  libopus through FFmpeg in an Ogg Opus file at 48000 Hz (Opus codes nothing else):
 *                   the input is resampled once (not at all at 48000 Hz), and the stream holds exactly
 *                   round(frames x 48000 / input rate) samples. The header's pre-skip and the last
 *                   page's granule position make decoders drop the encoder's delay and padding. Mono
 *                   and stereo are coded as they are (mapping family 0); 3 to 8 channels with mapping
 *                   family 1 in Vorbis order, side channels of 5.0/5.1 taken as surround ones and
 *                   other layouts mixed into the family's layout for the count. Application audio or
 *                   VoIP.
 *   AE_FORMAT_AAC   FFmpeg's native AAC-LC encoder in an MP4 audio file (.m4a), at the input's rate
 *                   where AAC has it (7350 to 96000 Hz; other rates are resampled to the next one up,
 *                   at most 96000), channels in AAC's layouts (mono, stereo, 3.0, 4.0, 5.0, 5.1, 7.1;
 *                   side channels taken as surround ones, 6.1 mixed to 7.1). The edit list, in units
 *                   of the sample rate, covers exactly the input: decoders that honour it drop the
 *                   1024 samples of priming and the padding of the last frame.
 *   dwBitrate (Opus 6000 to 256000, AAC 64000 to 320000 bits/s) is for a stereo pair: mono and stereo
 *   get it as it is, more channels half of it per channel.
 * Tags: title, artist, album, year, genre, track number and comment texts (UTF-8) become Vorbis
 * comments TITLE, ARTIST, ALBUM, DATE, GENRE, TRACKNUMBER and COMMENT (FLAC, Opus) or the MP4 items
 * ©nam, ©ART, ©alb, ©day, ©gen, trkn and ©cmt (AAC); a null pointer or an empty text adds nothing.
 * A cover (JPEG or PNG bytes) becomes a PICTURE block of type 3, front cover (FLAC), a
 * METADATA_BLOCK_PICTURE comment (Opus) or the covr item (AAC); other bytes are left out.
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

#define AE_MAX_CHANNELS 8

#define AE_SAMPLE_S16 0u   /* 16-bit integers */
#define AE_SAMPLE_S32 1u   /* 32-bit integers, dwBitsPerSample of them counting */
#define AE_SAMPLE_FLOAT 2u /* 32-bit floats */

#pragma pack(push, 1)

/* Settings record, zeroed before use. */
typedef struct AE_CONFIG {
    uint32_t dwStructSize;      /* sizeof(AE_CONFIG) = 44 */
    uint32_t dwFormat;          /* AE_FORMAT_... */
    uint32_t dwChannels;        /* of the input: 1 to 8 */
    uint32_t dwSampleRate;      /* of the input, Hz */
    uint32_t dwCompression;     /* FLAC: 0..8; otherwise not read */
    uint32_t dwBitrate;         /* Opus, AAC: bits per second for a stereo pair; otherwise not read */
    uint32_t dwOpusApplication; /* Opus: AE_OPUS_AUDIO or AE_OPUS_VOIP; otherwise not read */
    uint32_t dwSampleFormat;    /* AE_SAMPLE_... */
    uint32_t dwBitsPerSample;   /* AE_SAMPLE_S32: 24 or 32; otherwise not read */
    uint32_t dwChannelMask;     /* WAV speaker bits of the input's channels, or 0 */
    uint32_t dwThreads;         /* FLAC: encoders working at once (0 or 1: one); otherwise not read */
} AE_CONFIG;

#pragma pack(pop)

/* Tag record, natural alignment (88 bytes on 64-bit systems). The texts and the cover need to stay
 * valid during aeEncOpen only. */
typedef struct AE_TAGS {
    uint32_t dwStructSize; /* sizeof(AE_TAGS) */
    const char* pszTitle;
    const char* pszArtist;
    const char* pszAlbum;
    const char* pszYear;
    const char* pszGenre;
    const char* pszTrack;   /* "3" or "3/12" */
    const char* pszComment; /* may hold line breaks */
    const uint8_t* pCover;  /* JPEG or PNG bytes, or null */
    uint32_t dwCoverSize;
    uint32_t dwCoverWidth; /* pixels, 0 when unknown */
    uint32_t dwCoverHeight;
} AE_TAGS;

#ifdef __cplusplus
#define AE_STATIC_ASSERT static_assert
#else
#define AE_STATIC_ASSERT _Static_assert
#endif
AE_STATIC_ASSERT(sizeof(AE_CONFIG) == 44, "AE_CONFIG is 44 bytes");
AE_STATIC_ASSERT(offsetof(AE_CONFIG, dwBitrate) == 20, "AE_CONFIG layout");
AE_STATIC_ASSERT(offsetof(AE_TAGS, pCover) == 8 * sizeof(void*), "AE_TAGS layout");

/* Opens a stream that writes the file at pszPath (UTF-8). Out: the stream handle (never 0). */
AE_EXPORT AE_ERR aeEncOpen(const AE_CONFIG* pConfig, const AE_TAGS* pTags, const char* pszPath,
                           HAE_STREAM* phStream);

/* Encodes nValues interleaved values of the configured sample format (0 is allowed). */
AE_EXPORT AE_ERR aeEncWrite(HAE_STREAM hStream, uint32_t nValues, const void* pValues);

/* Finishes the file and closes it; the handle is released whatever the result. */
AE_EXPORT AE_ERR aeEncClose(HAE_STREAM hStream);

/* The reason behind the last failure an entry point returned on this thread ("No space left on
 * device", FFmpeg's text), "" when it has none. Valid until the thread's next call into the module. */
AE_EXPORT const char* aeEncErrorText(void);

typedef AE_ERR (*AEENCOPEN)(const AE_CONFIG*, const AE_TAGS*, const char*, HAE_STREAM*);
typedef AE_ERR (*AEENCWRITE)(HAE_STREAM, uint32_t, const void*);
typedef AE_ERR (*AEENCCLOSE)(HAE_STREAM);
typedef const char* (*AEENCERRORTEXT)(void);

#endif /* QUILLET_AVAUDIOENC_H */
