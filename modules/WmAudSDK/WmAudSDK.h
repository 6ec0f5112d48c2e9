#pragma once

// WmAudSDK.so: a Windows Media audio writer. It takes 16-bit PCM and writes a WMA (WMA v2 in ASF) file.
// This header is the module's whole ABI.
//
// Use: WMAudioCreateWriter(path) -> SetInputFormat -> SetOutputFormat -> WriteSamples... -> Finish ->
// Release. Release without Finish finishes the file first, so a cancelled file is still playable.
// A writer is used from one thread at a time.
//
// Profiles: the writer chooses the coded sample rate and channel count from the requested bitrate.
// The requested sample rate and channel count are upper limits, and so is the input's sample rate.
//
//   requested bits/s      coded as
//   below 32000           24000 bits/s, 22050 Hz, mono (24000 is the WMA v2 encoder's floor: 22000 and
//                         other lower requests get it)
//   32000 to 47999        the requested rate, 32000 Hz, stereo (32000, 36000, 40000)
//   48000 to 320000       the requested rate, 44100 Hz, stereo (48000, 64000, ..., 160000)
//
// Coded frames are 2048 samples (1024 at 22050 Hz). The stream starts with one frame of silence and
// ends with one more, so FFmpeg-based players decode the first and last samples intact and in place:
// decoded sample n is input sample n, and 1 to 2 frames of silence follow the input's end.
// Tags: none, unless given through the writer's IWMAudioWriterTags interface (QueryInterface) before
// SetOutputFormat; they go into the ASF header.

#include <cstdint>

#if defined(WMAUDSDK_BUILD)
#define WMAUDSDK_API extern "C" __attribute__((visibility("default")))
#else
#define WMAUDSDK_API extern "C"
#endif

// Result codes: 32-bit, negative on failure (HRESULT values where one fits).
using WMRESULT = int32_t;
constexpr WMRESULT WM_S_OK = 0;
constexpr WMRESULT WM_E_NOTIMPL = static_cast<WMRESULT>(0x80004001);
constexpr WMRESULT WM_E_NOINTERFACE = static_cast<WMRESULT>(0x80004002);
constexpr WMRESULT WM_E_POINTER = static_cast<WMRESULT>(0x80004003);
constexpr WMRESULT WM_E_FAIL = static_cast<WMRESULT>(0x80004005);
constexpr WMRESULT WM_E_UNEXPECTED = static_cast<WMRESULT>(0x8000FFFF); // call out of order
constexpr WMRESULT WM_E_OUTOFMEMORY = static_cast<WMRESULT>(0x8007000E);
constexpr WMRESULT WM_E_INVALIDARG = static_cast<WMRESULT>(0x80070057);     // bad path, bitrate, ...
constexpr WMRESULT WM_E_CANNOT_CREATE = static_cast<WMRESULT>(0x8007006E);  // output file not created
constexpr WMRESULT WM_E_WRITE_FAULT = static_cast<WMRESULT>(0x8007001D);    // output file write failed
constexpr WMRESULT WM_E_DISK_FULL = static_cast<WMRESULT>(0x80070070);      // no space or size limit
constexpr WMRESULT WM_E_INVALID_FORMAT = static_cast<WMRESULT>(0xC00D0BB8); // input format refused
constexpr WMRESULT WM_E_ENCODER = static_cast<WMRESULT>(0xC00D0BBA);        // codec or muxer failed

// The Windows record, packed to its 18 bytes.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX must keep the Windows layout");

constexpr uint16_t WAVE_FORMAT_PCM = 1;

struct WMGUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

// {00000000-0000-0000-C000-000000000046}
constexpr WMGUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {3A9F2C64-5E1B-4D7A-9C2E-51B8F0D4A7E3}
constexpr WMGUID IID_IWMAudioWriter = {
    0x3A9F2C64, 0x5E1B, 0x4D7A, {0x9C, 0x2E, 0x51, 0xB8, 0xF0, 0xD4, 0xA7, 0xE3}};

// A COM-style interface: the virtual methods below are the method table, in this order, and nothing
// else is in it (no virtual destructor: the object deletes itself in Release).
class IWMAudioWriter {
public:
    // 0: IID_IUnknown or IID_IWMAudioWriter give this writer with one more reference.
    virtual WMRESULT QueryInterface(const WMGUID* iid, void** object) = 0;
    // 1, 2: the new reference count. Release at 0 finishes the file if needed and frees the writer.
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    // 3: not used; WM_E_NOTIMPL.
    virtual WMRESULT Unused3() = 0;
    // 4: 16-bit PCM (WAVE_FORMAT_PCM), 1 or 2 channels, 8000 to 192000 Hz, with consistent block align
    // and byte rate; anything else gives WM_E_INVALID_FORMAT. Only before SetOutputFormat.
    virtual WMRESULT SetInputFormat(const WAVEFORMATEX* format) = 0;
    // 5: bits per second (1 to 320000), sample rate (8000 to 48000 Hz) and channels (1 or 2) as upper
    // limits, reserved 0. Picks the profile (see above) and writes the file header.
    virtual WMRESULT SetOutputFormat(uint32_t bitrate, uint32_t sampleRate, uint32_t channels,
                                     uint32_t reserved) = 0;
    // 6: not used; WM_E_NOTIMPL.
    virtual WMRESULT Unused6() = 0;
    // 7: any byte count; a partial sample frame is kept for the next call. A write error of the file
    // (WM_E_DISK_FULL, WM_E_WRITE_FAULT) sticks: later calls and Finish return it too.
    virtual WMRESULT WriteSamples(const uint8_t* data, uint32_t bytes) = 0;
    // 8: encodes what is buffered, writes the index and closes the file. A partial sample frame left
    // at the end is dropped. Later calls return the same result.
    virtual WMRESULT Finish() = 0;

protected:
    ~IWMAudioWriter() = default;
};

// {8C41D0E2-7B35-4F19-A6D4-2E9B13C7F058}
constexpr WMGUID IID_IWMAudioWriterTags = {
    0x8C41D0E2, 0x7B35, 0x4F19, {0xA6, 0xD4, 0x2E, 0x9B, 0x13, 0xC7, 0xF0, 0x58}};

// The writer's texts for the ASF header, an interface of the same object (reached by QueryInterface).
class IWMAudioWriterTags {
public:
    virtual WMRESULT QueryInterface(const WMGUID* iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    // 3: a text (UTF-8) for one of "title", "artist", "album", "date", "genre", "track", "comment",
    // which the header holds as Title, Author, WM/AlbumTitle, WM/Year, WM/Genre, WM/TrackNumber and
    // Description. Only before SetOutputFormat (WM_E_UNEXPECTED after); other names give
    // WM_E_INVALIDARG; an empty text removes the name's.
    virtual WMRESULT SetTag(const char* name, const char* text) = 0;

protected:
    ~IWMAudioWriterTags() = default;
};

// Creates the output file (replacing one of that name) and a writer for it with one reference.
// The path is wide characters (UTF-32 code points here), zero-terminated. A file name's byte that is
// not part of UTF-8 comes as U+DC80..U+DCFF (0xDC00 + the byte), so any name reaches the file system
// as its bytes are.
// A writer that met a write error (a full disk) finishes its file as far as it got, so that it plays:
// the file is cut back to its last whole packet and the header's sizes are rewritten in place.
WMAUDSDK_API long WMAudioCreateWriter(const wchar_t* path, IWMAudioWriter** writer);

// The system's or FFmpeg's reason for the last failure a call into the module returned on this thread,
// "" when it has none; valid until the thread's next call. Optional: older modules lack it.
WMAUDSDK_API const char* WMAudioErrorText();

using PFN_WMAudioCreateWriter = long (*)(const wchar_t* path, IWMAudioWriter** writer);
using PFN_WMAudioErrorText = const char* (*)();
