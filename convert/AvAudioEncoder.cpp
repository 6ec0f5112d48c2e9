// Step 2 for FLAC, Opus and AAC (M4A): the hand-over file through AvAudioEnc.so, which writes the file.
// The file holds the source's own sound or 44100 Hz stereo 16-bit samples, as the format's settings ask;
// CPcmReader reads either.

#include "AudioSettings.h"
#include "AvAudioEnc/AvAudioEnc.h"
#include "AvSegments.h"
#include "ChunkLoop.h"
#include "EncoderLibrary.h"
#include "Encoders.h"
#include "OutputTags.h"
#include "PcmReader.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kChunkFrames = 8192;

const char* CodecName(uint32_t format) {
    return format == AE_FORMAT_FLAC ? "FLAC" : format == AE_FORMAT_OPUS ? "Opus (libopus)" : "AAC";
}

// " (reason)" from the module, or from the code where the module does not tell it.
std::string Reason(AEENCERRORTEXT errorText, AE_ERR err) {
    std::string text = errorText ? errorText() : "";
    if (text.empty() && (err == AE_ERR_DISK_FULL || err == AE_ERR_WRITE_FAULT))
        text = std::strerror(err == AE_ERR_DISK_FULL ? ENOSPC : EIO);
    return text.empty() ? std::string() : " (" + text + ")";
}

std::string OpenFailure(AE_ERR err, const std::string& reason, uint32_t format,
                        const std::string& outputPath) {
    switch (err) {
    case AE_ERR_NO_ENCODER:
        return Format("The %s encoder is missing from this system's FFmpeg libraries.", CodecName(format));
    case AE_ERR_CANNOT_CREATE:
        return Format("Error opening %s", outputPath.c_str()) + reason;
    case AE_ERR_WRITE_FAULT:
    case AE_ERR_DISK_FULL:
        return "Output file write error" + reason;
    case AE_ERR_OUT_OF_MEMORY:
        return "Out of memory";
    default:
        return Format("Failed to open the encoding stream. (%lu)", static_cast<unsigned long>(err)) + reason;
    }
}

uint32_t SampleFormat(PcmSample sample) {
    return sample == PcmSample::Int16     ? AE_SAMPLE_S16
           : sample == PcmSample::Float32 ? AE_SAMPLE_FLOAT
                                          : AE_SAMPLE_S32;
}

// Cores borrowed for the job's extra encoder threads, returned on every way out.
struct BorrowedCores {
    explicit BorrowedCores(int wanted) : count(BorrowCores(wanted)) {}
    ~BorrowedCores() { ReturnCores(count); }
    BorrowedCores(const BorrowedCores&) = delete;
    BorrowedCores& operator=(const BorrowedCores&) = delete;
    const int count;
};

int AvEncode(uint32_t format) {
    CJobState& job = CurrentJob();
    void* module = LoadEncoderModule("AvAudioEnc.so");
    if (!module)
        return FailJob("Error loading AvAudioEnc.so, the FLAC, Opus and AAC encoder module.\n"
                       "Please reinstall Quillet.");
    auto open = reinterpret_cast<AEENCOPEN>(EncoderEntry(module, "aeEncOpen"));
    auto write = reinterpret_cast<AEENCWRITE>(EncoderEntry(module, "aeEncWrite"));
    auto close = reinterpret_cast<AEENCCLOSE>(EncoderEntry(module, "aeEncClose"));
    if (!open || !write || !close)
        return FailJob("Unable to get AvAudioEnc interfaces");
    auto errorText = reinterpret_cast<AEENCERRORTEXT>(EncoderEntry(module, "aeEncErrorText"));

    // The source first: a missing temporary file leaves no output file behind.
    CPcmReader source;
    if (!source.Open(job.m_strTempWavPath, job.m_sound.get()))
        return FailJob(Format("Error opening %s", job.m_strTempWavPath.c_str()));
    const PcmFormat& pcm = source.Format();

    AE_CONFIG config{};
    config.dwStructSize = sizeof config;
    config.dwFormat = format;
    config.dwChannels = static_cast<uint32_t>(pcm.channels);
    config.dwSampleRate = static_cast<uint32_t>(pcm.sampleRate);
    config.dwSampleFormat = SampleFormat(source.Delivered());
    config.dwBitsPerSample = static_cast<uint32_t>(source.Bits());
    config.dwChannelMask = pcm.channelMask;
    config.dwCompression = static_cast<uint32_t>(g_settings.GetFlacCompressionLevel());
    config.dwBitrate = static_cast<uint32_t>(format == AE_FORMAT_OPUS ? g_settings.GetOpusBitrate()
                                                                      : g_settings.GetAacBitrate());
    config.dwOpusApplication = g_settings.m_nOpusApplicationIndex == 1 ? AE_OPUS_VOIP : AE_OPUS_AUDIO;
    // FLAC codes runs of frames on every core no other job is using.
    const BorrowedCores cores(format == AE_FORMAT_FLAC ? CoreCount() - 1 : 0);
    config.dwThreads = static_cast<uint32_t>(1 + cores.count);
    // The texts are read now, while the job's window keeps every other writer of the settings out.
    const std::string fileName = FileNameOf(job.m_strOutputPath);
    const OutputTags texts = JobOutputTags(fileName.substr(0, fileName.rfind('.')));
    AE_TAGS tags{};
    tags.dwStructSize = sizeof tags;
    tags.pszTitle = texts.title.c_str();
    tags.pszArtist = texts.artist.c_str();
    tags.pszAlbum = texts.album.c_str();
    tags.pszYear = texts.year.c_str();
    tags.pszGenre = texts.genre.c_str();
    tags.pszTrack = texts.track.c_str();
    tags.pszComment = texts.comment.c_str();
    if (!texts.cover.data.empty()) {
        tags.pCover = texts.cover.data.data();
        tags.dwCoverSize = static_cast<uint32_t>(texts.cover.data.size());
        tags.dwCoverWidth = static_cast<uint32_t>(texts.cover.width);
        tags.dwCoverHeight = static_cast<uint32_t>(texts.cover.height);
    }

    // Long inputs are encoded in segments on several cores (AAC and Opus); otherwise by one stream.
    // Read right after the call that failed, while the module's reason is the thread's own.
    bool removed = false;
    const auto failure = [&](AE_ERR err) {
        const std::string reason = Reason(errorText, err);
        // Closed as far as it got: a file that cannot be finished would not play.
        if (err == AE_ERR_UNFINISHED) {
            removed = removed || RemoveOutput();
            return "Output file write error" + reason + (removed ? kUnfinishedRemoved : "");
        }
        return err == AE_ERR_ENCODER_FAILED || err == AE_ERR_INVALID_PARAMETER
                   ? Format("aeEncWrite() failed (%lu)", static_cast<unsigned long>(err)) + reason
                   : OpenFailure(err, reason, format, job.m_strOutputPath);
    };
    if (auto segments = format != AE_FORMAT_FLAC
                            ? MakeAvSegmentFormat(module, config, tags, job.m_strOutputPath, failure)
                            : nullptr) {
        std::string error;
        const auto input = OpenPcmInput(job.m_strTempWavPath, job.m_sound.get());
        switch (input ? EncodeInSegments(*segments, *input, &error) : SegmentsEnd::NotTried) {
        case SegmentsEnd::All:
            source.Close();
            return FinishJob();
        case SegmentsEnd::Cancelled:
            source.Close();
            return CancelJob();
        case SegmentsEnd::Failed:
            source.Close();
            // The first failure is the one told; the output may have gone after it, as it was closed.
            if (removed && !error.ends_with(kUnfinishedRemoved))
                error += kUnfinishedRemoved;
            return FailJob(error);
        case SegmentsEnd::NotTried:
            break;
        }
    }
    HAE_STREAM stream = 0;
    if (const AE_ERR err = open(&config, &tags, job.m_strOutputPath.c_str(), &stream);
        err != AE_ERR_SUCCESSFUL) {
        source.Close();
        return FailJob(OpenFailure(err, Reason(errorText, err), format, job.m_strOutputPath));
    }
    std::vector<uint8_t> input(kChunkFrames * static_cast<size_t>(source.DeliveredBytesPerFrame()));
    const auto channels = static_cast<uint32_t>(pcm.channels);
    const ChunkLoopEnd end = RunChunkLoop(
        source, 1, [&] { return source.Read(input.data(), kChunkFrames); },
        [&](size_t frames) {
            const AE_ERR err = write(stream, static_cast<uint32_t>(frames) * channels, input.data());
            if (err == AE_ERR_SUCCESSFUL)
                return true;
            std::string message = err == AE_ERR_DISK_FULL || err == AE_ERR_WRITE_FAULT
                                      ? "Output file write error" + Reason(errorText, err)
                                      : Format("aeEncWrite() failed (%lu)", static_cast<unsigned long>(err)) +
                                            Reason(errorText, err);
            // Finished as far as it got; a file that cannot be finished would not play.
            if (close(stream) == AE_ERR_UNFINISHED && RemoveOutput())
                message += kUnfinishedRemoved;
            source.Close();
            FailJob(message);
            return false;
        });
    if (end == ChunkLoopEnd::Failed)
        return -1;
    const bool readFailed = !source.Error().empty();
    source.Close();
    // A cancelled job's file is finished too, so it plays as far as it got.
    const AE_ERR closed = close(stream);
    if (end == ChunkLoopEnd::Cancelled)
        return CancelJob();
    if (readFailed)
        return FailJob(Format("Error reading %s", job.m_strTempWavPath.c_str()));
    const std::string reason = Reason(errorText, closed);
    if (closed == AE_ERR_UNFINISHED && RemoveOutput())
        return FailJob("Output file write error" + reason + kUnfinishedRemoved);
    if (closed == AE_ERR_DISK_FULL || closed == AE_ERR_WRITE_FAULT || closed == AE_ERR_UNFINISHED)
        return FailJob("Output file write error" + reason);
    if (closed != AE_ERR_SUCCESSFUL)
        return FailJob("Failed to close the encoder stream!" + reason);
    return FinishJob();
}

} // namespace

int FlacEncodeProc() {
    return AvEncode(AE_FORMAT_FLAC);
}

int OpusEncodeProc() {
    return AvEncode(AE_FORMAT_OPUS);
}

int AacEncodeProc() {
    return AvEncode(AE_FORMAT_AAC);
}
