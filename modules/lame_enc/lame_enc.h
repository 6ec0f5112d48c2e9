/*
 * lame_enc.so: MP3 encoder module (libmp3lame) with a BladeEnc-style C interface.
 *
 * The program opens the module with dlopen and resolves the six entry points by name. Records are packed
 * and little-endian with fixed-width numbers; the size word of BE_CONFIG holds its real size (331).
 *
 * Driving a stream:
 *   beInitStream     -> samples per chunk (16-bit values), output buffer size (bytes), handle
 *   beEncodeChunk    -> called with at most "samples per chunk" values per call; the MP3 bytes that
 *                       became ready (possibly none) go to a buffer of "output buffer size" bytes
 *   beDeinitStream   -> flushes the last frames into the output buffer
 *   beCloseStream    -> releases the handle
 *   beWriteVBRHeader -> after the caller closed the MP3 file (an ID3v1 tag may follow the frames, an
 *                       ID3v2 tag may precede them), writes the Xing/Info frame with the LAME tag into
 *                       the first frame of that file in place
 * Input is always interleaved stereo, signed 16-bit native-endian (left first), also for mono output,
 * which LAME down-mixes. A chunk that ends between the two values of a sample pair keeps the odd value
 * for the next call (one left at the end is dropped). Each stream may be used from any one thread at a
 * time; different streams are independent.
 *
 * The Xing/Info frame: with bWriteVBRHeader set, the first frame of the stream is a placeholder that
 * beWriteVBRHeader fills with the final Xing ("Info" for constant bitrate) frame and LAME tag, which
 * carry the frame count, the seek table and the encoder delay and padding, so decoders play exactly the
 * input samples. beDeinitStream keeps that frame until beWriteVBRHeader has written it into its file
 * (the 1024 newest are kept for files that never ask); the file named to beWriteVBRHeader is matched to
 * its stream by its contents, so streams of several threads cannot mix up their headers.
 *
 * How the record is applied:
 *   nMode            0 stereo, 1 joint stereo, 2 dual channel, 3 mono
 *   dwBitrate        kbps; the constant bitrate, or the lowest bitrate with VBR (enforced also for
 *                    silence); 0 lets LAME choose
 *   dwMaxBitrate     kbps; the highest bitrate with VBR; 0 = no limit; below dwBitrate = dwBitrate
 *   nPreset          quality of LAME's search (lame_set_quality, 0 best .. 9 fastest):
 *                      LQP_NOPRESET (-1)      LAME's default
 *                      LQP_NORMAL_QUALITY (0) 5, LAME's recommended default
 *                      LQP_LOW_QUALITY (1)    7, fast encoding
 *                      LQP_HIGH_QUALITY (2)   2, near-best quality (LAME's -h)
 *                      LQP_VOICE_QUALITY (3)  5, and a lowpass of at most 12 kHz, so the bits go to the
 *                                             speech band
 *   nQuality         when its high byte is the complement of its low byte, the low byte (0..9) replaces
 *                    the preset's lame_set_quality value; otherwise ignored (0 = ignored)
 *   dwMpegVersion    MPEG_1 (1): output at the input rate if it is 32, 44.1 or 48 kHz; MPEG_2 (0): at
 *                    half of such a rate; other rates: LAME chooses. dwReSampleRate, when not 0, wins.
 *   bEnableVBR       0 constant bitrate; 1 VBR by nVbrMethod: VBR_METHOD_ABR (4) = average bitrate
 *                    dwVbrAbr_bps (bits per second), every other method = LAME's VBR (vbr_mtrh) at
 *                    quality nVBRQuality (0 best .. 9 smallest)
 *   dwPsyModel       ignored (LAME has one model)
 *   dwEmphasis       0 none, 1 50/15 us, 3 CCITT J.17 (2 is reserved and refused)
 *   bPrivate, bCRC, bCopyright, bOriginal, bStrictIso, bNoRes (no bit reservoir): header bits and
 *                    LAME switches of those names
 *
 * Extension: one stream in segments, encoded at the same time. Not part of the BladeEnc set: a caller
 * resolves these three like the others and, when they are missing, encodes with one stream.
 *   bePlanSegments       -> cuts an input whose length is known (a file) into segments on the frame
 *                           grid of the stream one encoder would write
 *   beInitSegmentStream  -> a stream for one segment. Feed it the values qwReadFrom..qwReadTo of the
 *                           input with beEncodeChunk (they start before the segment, so the
 *                           psychoacoustic state and the MDCT overlap are those of one encoder), then
 *                           beDeinitStream; it writes only its own frames, and the first segment also
 *                           the placeholder of the Xing/Info frame. Streams of different segments may
 *                           run on different threads.
 *   beJoinSegmentStreams -> after beDeinitStream of every segment, before beCloseStream: takes the
 *                           streams in order and keeps the Xing/Info frame of the joined stream (their
 *                           outputs one after the other), so beWriteVBRHeader writes it into that file.
 * Frames away from the joins are those one encoder writes; the joined stream has the same frame count,
 * encoder delay and padding, so it decodes to exactly the input samples. Only segments of at least the
 * minimum length are made: a short input, a resampled one or one segment asked for gives one segment
 * covering everything (then beInitSegmentStream behaves as beInitStream).
 */
#ifndef QUILLET_LAME_ENC_H
#define QUILLET_LAME_ENC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define BE_EXTERN_C extern "C"
#else
#define BE_EXTERN_C
#endif
#define BE_EXPORT BE_EXTERN_C __attribute__((visibility("default")))

typedef uint32_t BE_ERR;
typedef uint32_t HBE_STREAM;

#define BE_ERR_SUCCESSFUL 0u
#define BE_ERR_INVALID_FORMAT 1u            /* the record is of another kind, version or size */
#define BE_ERR_INVALID_FORMAT_PARAMETERS 2u /* a field out of range, or a null pointer */
#define BE_ERR_NO_MORE_HANDLES 3u
#define BE_ERR_INVALID_HANDLE 4u
#define BE_ERR_BUFFER_TOO_SMALL 5u /* LAME's output did not fit the output buffer */
#define BE_ERR_ENCODER_INIT 6u     /* LAME refuses the combination of settings */
#define BE_ERR_ENCODER_FAILED 7u   /* LAME failed while encoding or flushing */
#define BE_ERR_CHUNK_TOO_LARGE 8u  /* more values than the samples per chunk */
#define BE_ERR_STREAM_FLUSHED 9u   /* encoding or flushing after beDeinitStream */
#define BE_ERR_OUT_OF_MEMORY 10u
#define BE_ERR_FILE 11u          /* beWriteVBRHeader: the file cannot be opened, read or written */
#define BE_ERR_NO_VBR_HEADER 12u /* beWriteVBRHeader: no flushed stream with a VBR header matches */

#define BE_CONFIG_MP3 0u
#define BE_CONFIG_LAME 256u

#define BE_MP3_MODE_STEREO 0
#define BE_MP3_MODE_JSTEREO 1
#define BE_MP3_MODE_DUALCHANNEL 2
#define BE_MP3_MODE_MONO 3

#define MPEG_2 0u
#define MPEG_1 1u

#define LQP_NOPRESET (-1)
#define LQP_NORMAL_QUALITY 0
#define LQP_LOW_QUALITY 1
#define LQP_HIGH_QUALITY 2
#define LQP_VOICE_QUALITY 3

#define VBR_METHOD_NONE (-1)
#define VBR_METHOD_DEFAULT 0
#define VBR_METHOD_OLD 1
#define VBR_METHOD_NEW 2
#define VBR_METHOD_MTRH 3
#define VBR_METHOD_ABR 4

#define BE_CONFIG_VERSION 1u

#pragma pack(push, 1)

/* The LAME configuration record, version 1: 331 bytes, zeroed before use. */
typedef struct BE_CONFIG {
    uint32_t dwConfig;        /* BE_CONFIG_LAME */
    uint32_t dwStructVersion; /* BE_CONFIG_VERSION */
    uint32_t dwStructSize;    /* sizeof(BE_CONFIG) = 331 */
    uint32_t dwSampleRate;    /* input sample rate, Hz */
    uint32_t dwReSampleRate;  /* output sample rate, Hz; 0 = from dwMpegVersion */
    int32_t nMode;            /* BE_MP3_MODE_... */
    uint32_t dwBitrate;       /* kbps */
    uint32_t dwMaxBitrate;    /* kbps, VBR only */
    int32_t nPreset;          /* LQP_... */
    uint32_t dwMpegVersion;   /* MPEG_1 or MPEG_2 */
    uint32_t dwPsyModel;
    uint32_t dwEmphasis;
    uint32_t bPrivate;
    uint32_t bCRC;
    uint32_t bCopyright;
    uint32_t bOriginal;
    uint32_t bWriteVBRHeader;
    uint32_t bEnableVBR;
    int32_t nVBRQuality;   /* 0..9 */
    uint32_t dwVbrAbr_bps; /* bits per second, VBR_METHOD_ABR only */
    int32_t nVbrMethod;    /* VBR_METHOD_... */
    uint32_t bNoRes;
    uint32_t bStrictIso;
    uint16_t nQuality;
    uint8_t btReserved[237];
} BE_CONFIG;

/* Filled by beVersion. */
typedef struct BE_VERSION {
    uint8_t byDLLMajorVersion; /* this module's interface version */
    uint8_t byDLLMinorVersion;
    uint8_t byMajorVersion; /* LAME's version */
    uint8_t byMinorVersion;
    uint8_t byDay; /* release date of LAME; 0 when not known */
    uint8_t byMonth;
    uint16_t wYear;
    char zHomepage[129]; /* zero-terminated */
    uint8_t byAlphaLevel;
    uint8_t byBetaLevel;
    uint8_t byMMXEnabled;
    uint8_t btReserved[125];
} BE_VERSION;

/* One segment of a stream (bePlanSegments). Offsets count 16-bit values of the whole input. */
typedef struct BE_SEGMENT {
    uint64_t qwReadFrom;   /* the values to feed this segment's stream: from ... */
    uint64_t qwReadTo;     /* ... to (exclusive) */
    uint64_t qwOwnFrom;    /* the values whose audio this segment's frames carry, for progress: the */
    uint64_t qwOwnTo;      /* segments' ranges follow each other from 0 to the end of the input */
    uint32_t dwFirstFrame; /* index of its first audio frame in the joined stream */
    uint32_t dwFrames;     /* its number of frames; 0 for the last segment (up to the end) */
} BE_SEGMENT;

#pragma pack(pop)

#ifdef __cplusplus
#define BE_STATIC_ASSERT static_assert
#else
#define BE_STATIC_ASSERT _Static_assert
#endif
BE_STATIC_ASSERT(sizeof(BE_CONFIG) == 331, "BE_CONFIG is 331 bytes");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, dwStructSize) == 8, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, dwSampleRate) == 12, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, nMode) == 20, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, dwBitrate) == 24, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, nPreset) == 32, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, dwEmphasis) == 44, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, bPrivate) == 48, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, bWriteVBRHeader) == 64, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, nVBRQuality) == 72, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, nVbrMethod) == 80, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, bStrictIso) == 88, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, nQuality) == 92, "BE_CONFIG layout");
BE_STATIC_ASSERT(offsetof(BE_CONFIG, btReserved) == 94, "BE_CONFIG layout");
BE_STATIC_ASSERT(sizeof(BE_VERSION) == 265, "BE_VERSION size");
BE_STATIC_ASSERT(sizeof(BE_SEGMENT) == 40, "BE_SEGMENT size");

/* Opens a stream. Out: samples per chunk (16-bit values, even), output buffer size in bytes, stream
 * handle (never 0). */
BE_EXPORT BE_ERR beInitStream(const BE_CONFIG* pbeConfig, uint32_t* dwSamples, uint32_t* dwBufferSize,
                              HBE_STREAM* phbeStream);

/* Encodes nSamples interleaved stereo 16-bit values (at most the samples per chunk; 0 is allowed). */
BE_EXPORT BE_ERR beEncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, const int16_t* pSamples,
                               uint8_t* pOutput, uint32_t* pdwOutput);

/* Flushes the last frames; afterwards the stream only accepts beCloseStream. */
BE_EXPORT BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t* pOutput, uint32_t* pdwOutput);

BE_EXPORT BE_ERR beCloseStream(HBE_STREAM hbeStream);

BE_EXPORT BE_ERR beVersion(BE_VERSION* pbeVersion);

/* Writes the Xing/Info frame of the flushed stream that produced the file (UTF-8 path). */
BE_EXPORT BE_ERR beWriteVBRHeader(const char* lpszFileName);

/* Extension: at most nMaxSegments segments of at least qwMinSegmentValues values each, for an input of
 * qwValues values, into pSegments (room for nMaxSegments); *pnSegments gets their number (at least 1). */
BE_EXPORT BE_ERR bePlanSegments(const BE_CONFIG* pbeConfig, uint64_t qwValues, uint32_t nMaxSegments,
                                uint64_t qwMinSegmentValues, BE_SEGMENT* pSegments, uint32_t* pnSegments);

/* Extension: opens the stream of one planned segment; the outputs as beInitStream. */
BE_EXPORT BE_ERR beInitSegmentStream(const BE_CONFIG* pbeConfig, const BE_SEGMENT* pSegment,
                                     uint32_t* dwSamples, uint32_t* dwBufferSize, HBE_STREAM* phbeStream);

/* Extension: the Xing/Info frame of the segments' streams joined, in order, for beWriteVBRHeader. */
BE_EXPORT BE_ERR beJoinSegmentStreams(const HBE_STREAM* phbeStreams, uint32_t nStreams);

typedef BE_ERR (*BEINITSTREAM)(const BE_CONFIG*, uint32_t*, uint32_t*, HBE_STREAM*);
typedef BE_ERR (*BEENCODECHUNK)(HBE_STREAM, uint32_t, const int16_t*, uint8_t*, uint32_t*);
typedef BE_ERR (*BEDEINITSTREAM)(HBE_STREAM, uint8_t*, uint32_t*);
typedef BE_ERR (*BECLOSESTREAM)(HBE_STREAM);
typedef BE_ERR (*BEVERSION)(BE_VERSION*);
typedef BE_ERR (*BEWRITEVBRHEADER)(const char*);
typedef BE_ERR (*BEPLANSEGMENTS)(const BE_CONFIG*, uint64_t, uint32_t, uint64_t, BE_SEGMENT*, uint32_t*);
typedef BE_ERR (*BEINITSEGMENTSTREAM)(const BE_CONFIG*, const BE_SEGMENT*, uint32_t*, uint32_t*, HBE_STREAM*);
typedef BE_ERR (*BEJOINSEGMENTSTREAMS)(const HBE_STREAM*, uint32_t);

#endif /* QUILLET_LAME_ENC_H */
