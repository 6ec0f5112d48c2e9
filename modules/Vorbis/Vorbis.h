/*
 * Vorbis.so: Ogg Vorbis encoder module (libvorbisenc + libogg) with a C interface.
 *
 * The program opens the module with dlopen and resolves the four entry points by name. Records are
 * little-endian with fixed-width numbers; pointer fields have the native width, and each record's size
 * word holds its real size, which the module checks.
 *
 * Driving a stream:
 *   vbEncOpen   -> samples per chunk (16-bit values), output buffer size (bytes), handle
 *   vbEncWrite  -> called with at most "samples per chunk" interleaved 16-bit values per call; the
 *                  output (which may be empty) goes to a buffer of "output buffer size" bytes
 *   vbEncClose  -> ends the stream (last pages, end-of-stream flag) and releases the handle
 * The stream headers (identification, comments, codebooks) come out with the first vbEncWrite, or with
 * vbEncClose when no audio was written; vbEncOpen returns no bytes. Concatenating every call's output
 * gives the complete Ogg Vorbis file. Input is interleaved signed 16-bit native-endian samples; a
 * chunk that ends inside a sample frame keeps that part for the next call (a part left at close is
 * dropped). Each stream may be used from any one thread at a time; different streams are independent.
 *
 * Bitrates (bits per second; 0 = not set):
 *   - none set: quality-based VBR at quality 0.5 (about 160 kbps at 44.1 kHz stereo).
 *   - nominal set: average bitrate management at the nominal. A nominal outside the range that libvorbis
 *     supports for the channel count and sample rate (about 45..500 kbps at 44.1 kHz stereo) becomes
 *     the nearest supported value. A minimum above the nominal is lowered to it and a maximum below
 *     the nominal is raised to it, so the window always contains the nominal (minimum = nominal =
 *     maximum gives a near-constant bitrate).
 *   - only minimum and/or maximum set: bitrate management within those limits, with no average target.
 *     A minimum above the maximum swaps the two. libvorbis chooses its encoding setup from the middle
 *     of the window (0.875 x maximum when only a maximum is set, the minimum when only a minimum is
 *     set); when that lies outside the supported range, the nearest supported setup is used and the
 *     limits still apply.
 *   Only a combination that libvorbis refuses even then makes vbEncOpen fail (VB_ERR_UNSUPPORTED).
 *   libvorbis keeps to the limits as far as its bitrate management reaches: with the hardest input
 *   (full-scale white noise) the rate can end up to about a fifth above a maximum, and a maximum below
 *   the supported range gives the lowest rate libvorbis can make (about 40 kbps for such noise).
 *   The identification header states the window: minimum and maximum (0 or -1 = not set) and the
 *   nominal bitrate of the setup used.
 *   Examples at 44.1 kHz stereo (minimum / nominal / maximum, kbps):
 *     0 / 0 / 0          quality 0.5 VBR
 *     128 / 128 / 128    128 near-constant
 *     0 / 32 / 0         average 45
 *     0 / 32 / 40        average 45, maximum 45
 *     256 / 128 / 64     128 / 128 / 128
 *     350 / 0 / 32       limits 32..350, setup for 191
 *     0 / 0 / 32         limit 32, setup for 45
 *
 * Comments: artist, album, title, comment and track number texts become the Vorbis comments ARTIST,
 * ALBUM, TITLE, COMMENT and TRACKNUMBER; a null pointer or an empty text adds nothing. Texts that are not
 * valid UTF-8 are taken as Latin-1 and converted. The vendor string is libvorbis's own.
 */
#ifndef QUILLET_VORBIS_H
#define QUILLET_VORBIS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define VB_EXTERN_C extern "C"
#else
#define VB_EXTERN_C
#endif
#define VB_EXPORT VB_EXTERN_C __attribute__((visibility("default")))

typedef uint32_t VB_ERR;
typedef uint32_t HVB_STREAM;

#define VB_ERR_SUCCESSFUL 0u
#define VB_ERR_INVALID_PARAMETER 1u /* a null pointer or a value out of range */
#define VB_ERR_INVALID_CONFIG 2u    /* the settings record has another kind or size */
#define VB_ERR_INVALID_COMMENT 3u   /* the comment record has another size */
#define VB_ERR_UNSUPPORTED 4u       /* libvorbis refuses the channels, sample rate and bitrates */
#define VB_ERR_NO_MORE_HANDLES 5u
#define VB_ERR_INVALID_HANDLE 6u
#define VB_ERR_CHUNK_TOO_LARGE 7u /* more values than the samples per chunk */
#define VB_ERR_ENCODER_FAILED 8u  /* libvorbis or libogg failed inside a stream */
#define VB_ERR_OUT_OF_MEMORY 9u
#define VB_ERR_BUFFER_TOO_SMALL 10u /* vbEncClose: the end of the stream does not fit the buffer */

#define VB_CONFIG_VORBIS 1024u

#pragma pack(push, 1)

/* Settings record: 256 bytes of little-endian 32-bit words, zeroed before use. */
typedef struct VB_CONFIG {
    uint32_t dwConfig;         /* VB_CONFIG_VORBIS */
    uint32_t dwFormatFlags;    /* 0; not interpreted */
    uint32_t dwStructSize;     /* sizeof(VB_CONFIG) = 256 */
    uint32_t dwChannels;       /* 1 or 2 */
    uint32_t dwSampleRate;     /* Hz */
    uint32_t dwMinBitrate;     /* bits per second, 0 = not set */
    uint32_t dwNominalBitrate; /* bits per second, 0 = not set */
    uint32_t dwMaxBitrate;     /* bits per second, 0 = not set */
    uint32_t dwFormatVersion;  /* 100; not interpreted */
    uint8_t btReserved[220];
} VB_CONFIG;

#pragma pack(pop)

/* Comment record, natural alignment (80 bytes on 64-bit systems), zeroed before use. The texts are
 * zero-terminated and need to stay valid during vbEncOpen only. */
typedef struct VB_COMMENT {
    uint32_t dwStructSize;   /* sizeof(VB_COMMENT) */
    uint32_t dwTagFormat[4]; /* 1, 1, 44, 1; not interpreted */
    const char* pszArtist;
    const char* pszAlbum;
    const char* pszTitle;
    const char* pszComment;
    uint32_t dwTagFlags[2];     /* 1, 1; not interpreted */
    const char* pszTrackNumber; /* in the first bytes of what the 32-bit layout keeps reserved */
    uint8_t btReserved[12 - sizeof(void*)];
} VB_COMMENT;

/* Version record filled by vbVersion. */
typedef struct VB_VERSION {
    uint32_t dwStructSize;  /* sizeof(VB_VERSION) */
    uint32_t dwModuleMajor; /* this module's interface version */
    uint32_t dwModuleMinor;
    char szLibraryVersion[116]; /* libvorbis's version string, zero-terminated */
} VB_VERSION;

#ifdef __cplusplus
#define VB_STATIC_ASSERT static_assert
#else
#define VB_STATIC_ASSERT _Static_assert
#endif
VB_STATIC_ASSERT(sizeof(VB_CONFIG) == 256, "VB_CONFIG is 256 bytes");
VB_STATIC_ASSERT(offsetof(VB_CONFIG, dwStructSize) == 8, "VB_CONFIG layout");
VB_STATIC_ASSERT(offsetof(VB_CONFIG, dwChannels) == 12, "VB_CONFIG layout");
VB_STATIC_ASSERT(offsetof(VB_CONFIG, dwSampleRate) == 16, "VB_CONFIG layout");
VB_STATIC_ASSERT(offsetof(VB_CONFIG, dwMinBitrate) == 20, "VB_CONFIG layout");
VB_STATIC_ASSERT(offsetof(VB_CONFIG, dwNominalBitrate) == 24, "VB_CONFIG layout");
VB_STATIC_ASSERT(offsetof(VB_CONFIG, dwMaxBitrate) == 28, "VB_CONFIG layout");
VB_STATIC_ASSERT(offsetof(VB_CONFIG, dwFormatVersion) == 32, "VB_CONFIG layout");
VB_STATIC_ASSERT(offsetof(VB_CONFIG, btReserved) == 36, "VB_CONFIG layout");
VB_STATIC_ASSERT(offsetof(VB_COMMENT, dwTagFormat) == 4, "VB_COMMENT layout");
VB_STATIC_ASSERT(offsetof(VB_COMMENT, pszArtist) == (sizeof(void*) == 8 ? 24 : 20), "VB_COMMENT layout");
VB_STATIC_ASSERT(offsetof(VB_COMMENT, pszComment) == offsetof(VB_COMMENT, pszArtist) + 3 * sizeof(void*),
                 "VB_COMMENT layout");
VB_STATIC_ASSERT(offsetof(VB_COMMENT, dwTagFlags) == offsetof(VB_COMMENT, pszArtist) + 4 * sizeof(void*),
                 "VB_COMMENT layout");
VB_STATIC_ASSERT(sizeof(VB_COMMENT) == (sizeof(void*) == 8 ? 80 : 56), "VB_COMMENT size");
VB_STATIC_ASSERT(sizeof(VB_VERSION) == 128, "VB_VERSION size");

/* Opens a stream. Out: samples per chunk (16-bit values, a multiple of the channel count), output
 * buffer size in bytes, stream handle (never 0). */
VB_EXPORT VB_ERR vbEncOpen(const VB_CONFIG* pConfig, const VB_COMMENT* pComment, uint32_t* pdwSamples,
                           uint32_t* pdwBufferSize, HVB_STREAM* phStream);

/* Encodes nValues interleaved 16-bit values (at most the samples per chunk; 0 is allowed) and puts the
 * bytes that became ready into pOutput (output buffer size bytes), their count into *pdwOutput. */
VB_EXPORT VB_ERR vbEncWrite(HVB_STREAM hStream, uint32_t nValues, const int16_t* pValues, uint8_t* pOutput,
                            uint32_t* pdwOutput);

/* Ends the stream: the remaining bytes go to pOutput, their count to *pdwOutput. The handle is released
 * whatever the result. */
VB_EXPORT VB_ERR vbEncClose(HVB_STREAM hStream, uint8_t* pOutput, uint32_t* pdwOutput);

VB_EXPORT VB_ERR vbVersion(VB_VERSION* pVersion);

typedef VB_ERR (*VBENCOPEN)(const VB_CONFIG*, const VB_COMMENT*, uint32_t*, uint32_t*, HVB_STREAM*);
typedef VB_ERR (*VBENCWRITE)(HVB_STREAM, uint32_t, const int16_t*, uint8_t*, uint32_t*);
typedef VB_ERR (*VBENCCLOSE)(HVB_STREAM, uint8_t*, uint32_t*);
typedef VB_ERR (*VBVERSION)(VB_VERSION*);

#endif /* QUILLET_VORBIS_H */
