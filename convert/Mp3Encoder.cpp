#include "AudioSettings.h"
#include "ChunkLoop.h"
#include "EncoderLibrary.h"
#include "Encoders.h"
#include "Id3v1Tag.h"
#include "Id3v2Tag.h"
#include "Mp3Segments.h"
#include "OutputTags.h"

#include <cstring>
#include <functional>
#include <new>
#include <vector>

namespace {

enum class Mp3Written {
    All,      // every frame is in the output file; the stream is closed
    Ended,    // failed or cancelled: the job has ended, its files are closed
    NotTried, // segments not worth it: encode with one stream
};

using Mp3Fail = std::function<int(const std::string&)>;

// One stream over the whole WAV, chunk by chunk.
Mp3Written EncodeMp3Whole(const Mp3Entries& api, const BE_CONFIG& config, CTempWavSource& source,
                          std::FILE*& file, const Mp3Fail& fail) {
    uint32_t samples = 0, bufferSize = 0, written = 0;
    HBE_STREAM stream = 0;
    const BE_ERR initErr = api.init(&config, &samples, &bufferSize, &stream);
    if (initErr != BE_ERR_SUCCESSFUL) {
        fail(Format("Error opening encoding stream (%lu)", static_cast<unsigned long>(initErr)));
        return Mp3Written::Ended;
    }
    std::vector<uint8_t> output;
    std::vector<int16_t> input;
    try {
        output.resize(bufferSize);
        input.resize(samples);
    } catch (const std::bad_alloc&) {
        api.close(stream);
        fail("Out of memory");
        return Mp3Written::Ended;
    }

    const ChunkLoopEnd end = RunChunkLoop(
        source, 2, [&] { return source.Read(input.data(), input.size()); },
        [&](size_t n) {
            const BE_ERR err =
                api.encode(stream, static_cast<uint32_t>(n), input.data(), output.data(), &written);
            if (err != BE_ERR_SUCCESSFUL) {
                api.close(stream);
                fail(Format("beEncodeChunk() failed (%lu)", static_cast<unsigned long>(err)));
                return false;
            }
            if (!WriteAll(file, output.data(), written)) {
                const std::string reason = SystemReason();
                api.close(stream);
                fail("Output file write error" + reason);
                return false;
            }
            return true;
        });
    if (end == ChunkLoopEnd::Failed)
        return Mp3Written::Ended;
    if (end == ChunkLoopEnd::Cancelled) {
        // Not flushed and without a tag: the partial file keeps what was written so far.
        api.close(stream);
        source.Close();
        CloseOutput(file);
        CancelJob();
        return Mp3Written::Ended;
    }
    const BE_ERR err = api.deinit(stream, output.data(), &written);
    if (err != BE_ERR_SUCCESSFUL) {
        api.close(stream);
        fail(Format("beExitStream failed (%lu)", static_cast<unsigned long>(err)));
        return Mp3Written::Ended;
    }
    api.close(stream);
    if (!WriteAll(file, output.data(), written)) {
        fail("Output file write error" + SystemReason());
        return Mp3Written::Ended;
    }
    return Mp3Written::All;
}

} // namespace

int Mp3EncodeProc() {
    CJobState& job = CurrentJob();
    void* module = LoadEncoderModule("lame_enc.so");
    if (!module)
        return FailJob("Error loading lame_enc.DLL");
    auto init = reinterpret_cast<BEINITSTREAM>(EncoderEntry(module, "beInitStream"));
    auto encode = reinterpret_cast<BEENCODECHUNK>(EncoderEntry(module, "beEncodeChunk"));
    auto deinit = reinterpret_cast<BEDEINITSTREAM>(EncoderEntry(module, "beDeinitStream"));
    auto closeStream = reinterpret_cast<BECLOSESTREAM>(EncoderEntry(module, "beCloseStream"));
    auto writeVbrHeader = reinterpret_cast<BEWRITEVBRHEADER>(EncoderEntry(module, "beWriteVBRHeader"));
    if (!init || !encode || !deinit || !closeStream || !writeVbrHeader || !EncoderEntry(module, "beVersion"))
        return FailJob("Unable to get LAME interfaces");

    // Everything taken from the settings is read now, while the job's window keeps other writers out.
    const std::array<char, kId3v1Size> tag =
        BuildId3v1Tag(FileNameOf(job.m_strOutputPath), g_settings.m_szArtist.str(),
                      g_settings.m_szAlbum.str(), g_settings.m_szYear.str(), g_settings.m_nGenreIndex);
    // The source's tags and cover in an ID3v2 tag at the start; the design's ID3v1 tag ends the file.
    const std::vector<uint8_t> id3v2 =
        BuildId3v2Tag(JobOutputTags(Mp3FileTitle(FileNameOf(job.m_strOutputPath))));
    BE_CONFIG config;
    std::memset(&config, 0, sizeof config);
    config.dwConfig = BE_CONFIG_LAME;
    config.dwStructVersion = 1;
    config.dwStructSize = sizeof config;
    config.dwSampleRate = 44100;
    config.dwReSampleRate = 0;
    config.nMode = g_settings.m_nMp3ChannelIndex;
    config.dwBitrate = static_cast<uint32_t>(g_settings.GetMp3Bitrate());
    config.dwMaxBitrate = static_cast<uint32_t>(g_settings.GetMp3MaxBitrate());
    config.nPreset = g_settings.m_nMp3QualityIndex;
    config.dwMpegVersion = MPEG_1;
    config.bPrivate = 1;
    config.bCRC = 1;
    config.bCopyright = 1;
    config.bOriginal = 1;
    config.bWriteVBRHeader = 1;
    config.bEnableVBR = g_settings.m_nMp3VbrQualityIndex != 0 ? 1 : 0;
    // The list reads "0-Best" to "9-Lowest" at indices 1 to 10: the encoder's scale is one less.
    config.nVBRQuality = g_settings.m_nMp3VbrQualityIndex > 0 ? g_settings.m_nMp3VbrQualityIndex - 1 : 0;
    config.nVbrMethod = VBR_METHOD_DEFAULT;
    config.bNoRes = 1;

    CTempWavSource source;
    if (!source.Open(job.m_strTempWavPath, job.m_sound.get()))
        return FailJob(Format("Error opening %s", job.m_strTempWavPath.c_str()) + SystemReason());
    std::FILE* file = std::fopen(job.m_strOutputPath.c_str(), "w+b");
    if (!file) {
        const std::string reason = SystemReason();
        source.Close();
        return FailJob(Format("Error opening %s", job.m_strOutputPath.c_str()) + reason);
    }
    auto fail = [&](const std::string& message) {
        source.Close();
        CloseOutput(file);
        FailJob(message);
        return -1;
    };
    if (!WriteAll(file, id3v2.data(), id3v2.size()))
        return fail("Output file write error");

    // Long inputs are encoded in segments on several cores; otherwise, or without the module's
    // extension, by one stream as designed.
    Mp3Entries entries{module, init, encode, deinit, closeStream};
    Mp3Written done = Mp3Written::NotTried;
    if (auto format = MakeMp3SegmentFormat(entries, config, file)) {
        if (auto input = OpenTempWavInput(job.m_strTempWavPath, 2, 2, job.m_sound.get())) {
            std::string error;
            switch (EncodeInSegments(*format, *input, &error)) {
            case SegmentsEnd::All:
                done = Mp3Written::All;
                break;
            case SegmentsEnd::Cancelled:
                // The longest run of segments from the start, not flushed and without a tag.
                source.Close();
                CloseOutput(file);
                return CancelJob();
            case SegmentsEnd::Failed:
                return fail(error);
            case SegmentsEnd::NotTried:
                break;
            }
        }
    }
    if (done == Mp3Written::NotTried)
        done = EncodeMp3Whole(entries, config, source, file, fail);
    if (done != Mp3Written::All)
        return -1; // failed or cancelled; the job has ended
    if (std::fseek(file, 0, SEEK_END) != 0 || !WriteAll(file, tag.data(), tag.size()) || !CloseOutput(file))
        return fail("Output file write error" + SystemReason());
    source.Close();
    // Without its header the first frame stays the placeholder: the file would play a frame of
    // silence first and misreport its length.
    if (const BE_ERR err = writeVbrHeader(job.m_strOutputPath.c_str()); err != BE_ERR_SUCCESSFUL)
        return FailJob(Format("beWriteVBRHeader() failed (%lu)", static_cast<unsigned long>(err)) +
                       (err == BE_ERR_FILE ? SystemReason() : std::string()));
    return FinishJob();
}
