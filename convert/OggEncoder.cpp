#include "AudioSettings.h"
#include "ChunkLoop.h"
#include "EncoderLibrary.h"
#include "Encoders.h"
#include "OggSegments.h"
#include "OutputTags.h"
#include "Vorbis/Vorbis.h"

#include <cstring>
#include <new>
#include <vector>

int OggEncodeProc() {
    CJobState& job = CurrentJob();
    void* module = LoadEncoderModule("Vorbis.so");
    if (!module)
        return FailJob("Error loading Vorbis.DLL");
    auto open = reinterpret_cast<VBENCOPEN>(EncoderEntry(module, "vbEncOpen"));
    auto write = reinterpret_cast<VBENCWRITE>(EncoderEntry(module, "vbEncWrite"));
    auto close = reinterpret_cast<VBENCCLOSE>(EncoderEntry(module, "vbEncClose"));
    if (!open || !write || !close || !EncoderEntry(module, "vbVersion"))
        return FailJob("Unable to get Vorbis interfaces");

    // The texts are read now, while the job's window keeps every other writer of the settings out. The
    // source's title and track number join the design's comments.
    const OutputTags texts = JobOutputTags(
        std::string(CBoundedText::Cut(FileNameOf(job.m_strOutputPath), CAudioSettings::kTagChars)));
    const std::string& artist = texts.artist;
    const std::string& album = texts.album;
    const std::string& title = texts.title;
    const std::string comment = "Quillet";

    VB_CONFIG config;
    std::memset(&config, 0, sizeof config);
    config.dwConfig = VB_CONFIG_VORBIS;
    config.dwStructSize = sizeof config;
    config.dwChannels = 2;
    config.dwSampleRate = 44100;
    config.dwMinBitrate = static_cast<uint32_t>(g_settings.GetOggMinBitrate());
    config.dwNominalBitrate = static_cast<uint32_t>(g_settings.GetOggNominalBitrate());
    config.dwMaxBitrate = static_cast<uint32_t>(g_settings.GetOggMaxBitrate());
    config.dwFormatVersion = 100;
    VB_COMMENT tags;
    std::memset(&tags, 0, sizeof tags);
    tags.dwStructSize = sizeof tags;
    tags.dwTagFormat[0] = 1;
    tags.dwTagFormat[1] = 1;
    tags.dwTagFormat[2] = 44;
    tags.dwTagFormat[3] = 1;
    tags.pszArtist = artist.c_str();
    tags.pszAlbum = album.c_str();
    tags.pszTitle = title.c_str();
    tags.pszComment = comment.c_str();
    tags.pszTrackNumber = texts.track.c_str();
    tags.dwTagFlags[0] = 1;
    tags.dwTagFlags[1] = 1;

    uint32_t samples = 0, bufferSize = 0;
    HVB_STREAM stream = 0;
    if (open(&config, &tags, &samples, &bufferSize, &stream) != VB_ERR_SUCCESSFUL)
        return FailJob("Failed to open the encoding stream.");
    std::vector<uint8_t> output;
    std::vector<int16_t> input;
    uint32_t written = 0;
    try {
        output.resize(bufferSize);
        input.resize(samples);
    } catch (const std::bad_alloc&) {
        close(stream, nullptr, &written);
        return FailJob("Out of memory");
    }
    // The stream is released on every way out; its bytes only count on the way of success.
    auto release = [&] {
        if (stream)
            close(stream, output.data(), &written);
        stream = 0;
    };

    CTempWavSource source;
    if (!source.Open(job.m_strTempWavPath, job.m_sound.get())) {
        const std::string reason = SystemReason();
        release();
        return FailJob(Format("Error opening %s", job.m_strTempWavPath.c_str()) + reason);
    }
    std::FILE* file = std::fopen(job.m_strOutputPath.c_str(), "w+b");
    if (!file) {
        const std::string reason = SystemReason();
        release();
        source.Close();
        return FailJob(Format("Error opening %s", job.m_strOutputPath.c_str()) + reason);
    }
    auto fail = [&](const std::string& message) {
        release();
        source.Close();
        CloseOutput(file);
        FailJob(message);
        return false;
    };

    // Long inputs are encoded in segments on several cores; otherwise by the one stream opened above.
    if (auto segments = MakeOggSegmentFormat(module, config, tags, file)) {
        std::string error;
        const auto input = OpenTempWavInput(job.m_strTempWavPath, 2, 2, job.m_sound.get());
        switch (input ? EncodeInSegments(*segments, *input, &error) : SegmentsEnd::NotTried) {
        case SegmentsEnd::All:
            release();
            source.Close();
            if (!CloseOutput(file)) {
                fail("Output file write error." + SystemReason());
                return -1;
            }
            return FinishJob();
        case SegmentsEnd::Cancelled:
            release();
            source.Close();
            CloseOutput(file);
            return CancelJob();
        case SegmentsEnd::Failed:
            fail(error);
            return -1;
        case SegmentsEnd::NotTried:
            break;
        }
    }
    const ChunkLoopEnd end = RunChunkLoop(
        source, 2, [&] { return source.Read(input.data(), input.size()); },
        [&](size_t n) {
            const VB_ERR err = write(stream, static_cast<uint32_t>(n), input.data(), output.data(), &written);
            if (err != VB_ERR_SUCCESSFUL)
                return fail(Format("vbEncWrite() failed (%lu)", static_cast<unsigned long>(err)));
            if (!WriteAll(file, output.data(), written))
                return fail("Output file write error" + SystemReason());
            return true;
        });
    if (end == ChunkLoopEnd::Failed)
        return -1;
    if (end == ChunkLoopEnd::Cancelled) {
        // The partial file keeps what was written, without the stream's end.
        release();
        source.Close();
        CloseOutput(file);
        return CancelJob();
    }
    const VB_ERR err = close(stream, output.data(), &written);
    stream = 0;
    if (err != VB_ERR_SUCCESSFUL) {
        fail("Failed to close the encoder stream!");
        return -1;
    }
    if (!WriteAll(file, output.data(), written) || !CloseOutput(file)) {
        fail("Output file write error." + SystemReason());
        return -1;
    }
    source.Close();
    return FinishJob();
}
