// Step 2 for FLAC, Opus and AAC (M4A): the temporary WAV through AvAudioEnc.so, which writes the file.

#include "AudioSettings.h"
#include "AvAudioEnc/AvAudioEnc.h"
#include "ChunkLoop.h"
#include "EncoderLibrary.h"
#include "Encoders.h"
#include "Genres.h"

#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kChunkValues = 16384; // 8192 stereo sample frames

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

// Tags are UTF-8; a text that is not (an old settings file, a file name in Latin-1) is taken as Latin-1.
std::string TagText(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(QByteArray::fromStdString(text));
    return (utf8.hasError() ? QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())) : decoded)
        .toStdString();
}

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

    AE_CONFIG config{};
    config.dwStructSize = sizeof config;
    config.dwFormat = format;
    config.dwChannels = 2;
    config.dwSampleRate = 44100;
    config.dwCompression = static_cast<uint32_t>(g_settings.GetFlacCompressionLevel());
    config.dwBitrate = static_cast<uint32_t>(format == AE_FORMAT_OPUS ? g_settings.GetOpusBitrate()
                                                                      : g_settings.GetAacBitrate());
    config.dwOpusApplication = g_settings.m_nOpusApplicationIndex == 1 ? AE_OPUS_VOIP : AE_OPUS_AUDIO;
    // The texts are read now, while the job's window keeps every other writer of the settings out.
    const std::string fileName = FileNameOf(job.m_strOutputPath);
    const std::string title = TagText(fileName.substr(0, fileName.rfind('.')));
    const std::string artist = TagText(g_settings.m_szArtist.str());
    const std::string album = TagText(g_settings.m_szAlbum.str());
    const std::string year = TagText(g_settings.m_szYear.str());
    AE_TAGS tags{};
    tags.dwStructSize = sizeof tags;
    tags.pszTitle = title.c_str();
    tags.pszArtist = artist.c_str();
    tags.pszAlbum = album.c_str();
    tags.pszYear = year.c_str();
    tags.pszGenre = kGenreNames[g_settings.m_nGenreIndex];

    // The source first: a missing temporary WAV leaves no output file behind.
    CTempWavSource source;
    if (!source.Open(job.m_strTempWavPath))
        return FailJob(Format("Error opening %s", job.m_strTempWavPath.c_str()));
    HAE_STREAM stream = 0;
    if (const AE_ERR err = open(&config, &tags, job.m_strOutputPath.c_str(), &stream);
        err != AE_ERR_SUCCESSFUL) {
        source.Close();
        return FailJob(OpenFailure(err, Reason(errorText, err), format, job.m_strOutputPath));
    }
    std::vector<int16_t> input(kChunkValues);
    const ChunkLoopEnd end = RunChunkLoop(
        source, 2, [&] { return source.Read(input.data(), input.size()); },
        [&](size_t n) {
            const AE_ERR err = write(stream, static_cast<uint32_t>(n), input.data());
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
    source.Close();
    // A cancelled job's file is finished too, so it plays as far as it got.
    const AE_ERR closed = close(stream);
    if (end == ChunkLoopEnd::Cancelled)
        return CancelJob();
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
