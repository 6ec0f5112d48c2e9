#include "VideoEdit.h"

#include "Extractor.h"
#include "RangeCopy.h"
#include "WavWriter.h"

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

using videoedit::ExtractionJob;
using videoedit::ExtractionOutcome;
using videoedit::ExtractionResult;

struct VideoEditInstance {
    VE_EVENT_PROC proc = nullptr;
    void* user = nullptr;

    std::mutex mutex; // serialises the calls of the owning side
    std::string source;
    double start = 0;
    double end = 0;
    bool sourceSet = false;
    std::string rangeProblem;
    int track = 0;
    bool measureLoudness = false;
    // The meter of the extractions since the last reset, which write one sound (a range, or ranges
    // joined one after another).
    std::shared_ptr<videoedit::MeterSlot> meter;
    // What it measured by the end of the last extraction; its own lock, as the worker sets it while the
    // owner may hold `mutex` to join it.
    std::mutex loudnessMutex;
    videoedit::Loudness loudness;

    std::thread worker;
    std::atomic<std::thread::id> workerId{};
    std::atomic<bool> stop{false};
};

namespace {

bool OnWorker(const VideoEditInstance* ve) {
    return ve->workerId.load() == std::this_thread::get_id();
}

void Emit(VideoEditInstance* ve, int event, double a, double b, const char* message) {
    // A stop request silences the run at once, even before the join.
    if (ve->proc && !ve->stop.load())
        ve->proc(ve->user, event, a, b, message);
}

// One run on the extraction thread: an extraction or a copy.
using Run =
    std::function<ExtractionResult(const std::atomic<bool>& stop, const videoedit::ProgressFn& progress)>;

void Work(VideoEditInstance* ve, const Run& run, const std::string& sourcePath) {
    ve->workerId.store(std::this_thread::get_id());
    try {
        const auto result = run(
            ve->stop, [ve](double a, double b) { Emit(ve, VE_EVENT_EXTRACTION_PROGRESS, a, b, nullptr); });
        if (result.outcome == ExtractionOutcome::Finished)
            Emit(ve, VE_EVENT_EXTRACTION_FINISHED, result.seconds, 0,
                 result.message.empty() ? nullptr : result.message.c_str());
        else if (result.outcome == ExtractionOutcome::Failed)
            Emit(ve, VE_EVENT_EXTRACTION_FAILED, 0, 0, result.message.c_str());
    } catch (const std::exception&) {
        Emit(ve, VE_EVENT_EXTRACTION_FAILED, 0, 0,
             ("Out of memory while extracting the audio of \"" + sourcePath + "\".").c_str());
    }
}

// Caller holds ve->mutex and is not the worker. Even an unworkable job runs, only to report its failure
// the way every other failure arrives.
int StartLocked(VideoEditInstance* ve, Run run, const std::string& sourcePath, bool workable) {
    try {
        ve->worker = std::thread(Work, ve, std::move(run), sourcePath);
        ve->workerId.store(ve->worker.get_id());
    } catch (const std::exception&) {
        if (ve->proc)
            ve->proc(ve->user, VE_EVENT_EXTRACTION_FAILED, 0, 0, "Cannot start the extraction thread.");
        return 0;
    }
    return workable ? 1 : 0;
}

void CopyText(const std::string& text, char* out, size_t size) {
    if (!out || size == 0)
        return;
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// Caller holds ve->mutex and is not the worker.
void StopLocked(VideoEditInstance* ve) {
    if (ve->worker.joinable()) {
        ve->stop.store(true);
        ve->worker.join();
    }
    ve->workerId.store(std::thread::id{});
    ve->stop.store(false);
}

// Starts the extraction job on the extraction thread; the caller holds ve->mutex.
int StartLocked(VideoEditInstance* ve, ExtractionJob job) {
    StopLocked(ve);
    job.sourcePath = ve->source;
    job.start = ve->start;
    job.end = ve->end;
    job.track = ve->track;
    if (ve->measureLoudness && !ve->meter)
        ve->meter = std::make_shared<videoedit::MeterSlot>();
    job.meter = ve->measureLoudness ? ve->meter : nullptr;
    {
        std::lock_guard lock(ve->loudnessMutex);
        ve->loudness = {};
    }
    if (!ve->sourceSet)
        job.presetError = "No source file was chosen for the extraction.";
    else if (!ve->rangeProblem.empty())
        job.presetError = ve->rangeProblem;
    else
        job.presetError = videoedit::ValidateJob(job);
    const bool workable = job.presetError.empty();
    const std::string source = job.sourcePath;
    return StartLocked(
        ve,
        [ve, job = std::move(job)](const std::atomic<bool>& stop, const videoedit::ProgressFn& progress) {
            auto result = videoedit::RunExtraction(job, stop, progress);
            std::lock_guard lock(ve->loudnessMutex);
            ve->loudness = result.loudness; // before FINISHED tells the owner to look
            return result;
        },
        source, workable);
}

} // namespace

extern "C" {

VE_API VideoEditInstance* veCreate(VE_EVENT_PROC proc, void* user) {
    // Failures reach the user as the FAILED event's text; FFmpeg's own notes stay out of the terminal.
    av_log_set_level(AV_LOG_QUIET);
    auto* ve = new (std::nothrow) VideoEditInstance;
    if (ve) {
        ve->proc = proc;
        ve->user = user;
    }
    return ve;
}

VE_API void veDestroy(VideoEditInstance* ve) {
    if (!ve || OnWorker(ve))
        return; // the worker cannot wait for itself; destroying from the event procedure is not allowed
    {
        std::lock_guard lock(ve->mutex);
        StopLocked(ve);
    }
    delete ve;
}

VE_API void veStopExtraction(VideoEditInstance* ve) {
    if (!ve)
        return;
    if (OnWorker(ve)) {
        ve->stop.store(true);
        return;
    }
    std::lock_guard lock(ve->mutex);
    StopLocked(ve);
}

VE_API void veResetExtraction(VideoEditInstance* ve) {
    veStopExtraction(ve);
    if (!ve || OnWorker(ve))
        return;
    std::lock_guard lock(ve->mutex);
    ve->source.clear();
    ve->start = ve->end = 0;
    ve->sourceSet = false;
    ve->rangeProblem.clear();
    ve->track = 0;
    ve->meter.reset();
}

VE_API int veSetAudioTrack(VideoEditInstance* ve, int32_t track) {
    if (!ve || OnWorker(ve) || track < 0)
        return 0;
    std::lock_guard lock(ve->mutex);
    ve->track = track;
    return 1;
}

VE_API int veSetSourceRange(VideoEditInstance* ve, const char* sourcePath, double startSeconds,
                            double endSeconds) {
    if (!ve || OnWorker(ve))
        return 0;
    std::lock_guard lock(ve->mutex);
    ve->source = sourcePath ? sourcePath : "";
    ve->start = startSeconds;
    ve->end = endSeconds;
    ve->sourceSet = !ve->source.empty();
    ExtractionJob probe;
    probe.sourcePath = ve->source;
    probe.start = startSeconds;
    probe.end = endSeconds;
    probe.wavPath = "-";
    ve->rangeProblem = videoedit::ValidateJob(probe);
    return ve->sourceSet && ve->rangeProblem.empty() ? 1 : 0;
}

VE_API int veExtractToWav(VideoEditInstance* ve, const char* wavPath, int16_t channels, int32_t sampleRate,
                          int16_t bytesPerSample) {
    if (!ve || OnWorker(ve))
        return 0;
    std::lock_guard lock(ve->mutex);
    ExtractionJob job;
    job.wavPath = wavPath ? wavPath : "";
    job.channels = channels;
    job.sampleRate = sampleRate;
    job.bytesPerSample = bytesPerSample;
    return StartLocked(ve, std::move(job));
}

VE_API int veExtractToSourceWav(VideoEditInstance* ve, const char* wavPath) {
    if (!ve || OnWorker(ve))
        return 0;
    std::lock_guard lock(ve->mutex);
    ExtractionJob job;
    job.wavPath = wavPath ? wavPath : "";
    job.sourceFormat = true;
    return StartLocked(ve, std::move(job));
}

VE_API int veSetMeasureLoudness(VideoEditInstance* ve, int32_t on) {
    if (!ve || OnWorker(ve))
        return 0;
    std::lock_guard lock(ve->mutex);
    ve->measureLoudness = on != 0;
    ve->meter.reset();
    return 1;
}

VE_API int veGetLoudness(VideoEditInstance* ve, VE_LOUDNESS* loudness) {
    if (!ve || !loudness || loudness->dwStructSize != sizeof(VE_LOUDNESS))
        return 0;
    std::lock_guard lock(ve->loudnessMutex);
    loudness->nMeasured = ve->loudness.measured ? 1 : 0;
    loudness->dIntegratedLufs = ve->loudness.integratedLufs;
    loudness->dTruePeakDbtp = ve->loudness.truePeakDbtp;
    return ve->loudness.measured ? 1 : 0;
}

VE_API int veDescribeCopy(const char* sourcePath, int32_t track, VE_COPY_INFO* info, char* message,
                          int32_t messageSize) {
    const size_t room = messageSize > 0 ? static_cast<size_t>(messageSize) : 0;
    if (!sourcePath || !*sourcePath || !info || info->dwStructSize != sizeof(VE_COPY_INFO)) {
        CopyText("No source file was chosen.", message, room);
        return 0;
    }
    videoedit::CopyDescription d;
    const std::string problem = videoedit::DescribeCopy(sourcePath, track, &d);
    CopyText(problem, message, room);
    if (!problem.empty())
        return 0;
    info->nExact = d.exact ? 1 : 0;
    info->dFrameSeconds = d.frameSeconds;
    CopyText(d.extension, info->szExtension, sizeof info->szExtension);
    CopyText(d.codec, info->szCodec, sizeof info->szCodec);
    return 1;
}

VE_API int veCopyRange(VideoEditInstance* ve, const char* outputPath, int32_t track,
                       const VE_COPY_TAGS* tags) {
    if (!ve || OnWorker(ve))
        return 0;
    std::lock_guard lock(ve->mutex);
    StopLocked(ve);
    videoedit::CopyJob job;
    job.sourcePath = ve->source;
    job.start = ve->start;
    job.end = ve->end;
    job.track = track;
    job.outputPath = outputPath ? outputPath : "";
    if (tags && tags->dwStructSize == sizeof(VE_COPY_TAGS)) {
        auto text = [](const char* t) { return std::string(t ? t : ""); };
        job.tags = {text(tags->pszTitle), text(tags->pszArtist), text(tags->pszAlbum), text(tags->pszYear),
                    text(tags->pszGenre)};
    }
    std::string preset;
    if (!ve->sourceSet)
        preset = "No source file was chosen for the extraction.";
    else if (!ve->rangeProblem.empty())
        preset = ve->rangeProblem;
    else if (job.outputPath.empty())
        preset = "No output file was given for the audio of \"" + job.sourcePath + "\".";
    const std::string source = job.sourcePath;
    return StartLocked(
        ve,
        [job = std::move(job), preset](const std::atomic<bool>& stop, const videoedit::ProgressFn& progress) {
            if (!preset.empty())
                return ExtractionResult{ExtractionOutcome::Failed, preset, 0, {}};
            return videoedit::RunCopy(job, stop, progress);
        },
        source, preset.empty());
}

VE_API long DllRegisterServer(void) {
    constexpr long kFailure = static_cast<int32_t>(0x80004005u);
    // A tenth of a second of a 440 Hz tone, 8000 Hz mono, as a WAV file in memory...
    constexpr int kRate = 8000, kSamples = 800;
    std::vector<uint8_t> source(videoedit::WavWriter::kHeaderBytes + kSamples * 2);
    videoedit::WavWriter::BuildHeader(source.data(), 1, kRate, 2, kSamples * 2);
    for (int i = 0; i < kSamples; ++i) {
        const auto v = static_cast<int16_t>(std::lround(8000 * std::sin(2 * M_PI * 440 * i / kRate)));
        source[videoedit::WavWriter::kHeaderBytes + 2 * i] = static_cast<uint8_t>(v & 0xFF);
        source[videoedit::WavWriter::kHeaderBytes + 2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
    // ...demuxed, decoded, resampled to 44100 Hz stereo and written by the WAV writer into memory.
    int fd = memfd_create("VideoEdit self-check", MFD_CLOEXEC);
    if (fd < 0) {
        FILE* f = tmpfile();
        if (!f)
            return kFailure;
        fd = dup(fileno(f));
        fclose(f);
        if (fd < 0)
            return kFailure;
    }
    const int readFd = dup(fd);
    if (readFd < 0) {
        close(fd);
        return kFailure;
    }
    ExtractionJob job;
    job.sourcePath = "self-check.wav";
    job.sourceData = source.data();
    job.sourceSize = source.size();
    job.start = 0;
    job.end = 0.1;
    job.wavPath = "self-check output";
    job.wavFd = fd;
    std::atomic<bool> stop{false};
    const auto result = videoedit::RunExtraction(job, stop, nullptr);

    constexpr int kFrames = 4410;
    std::vector<uint8_t> out(videoedit::WavWriter::kHeaderBytes + kFrames * 4 + 1);
    const ssize_t n = pread(readFd, out.data(), out.size(), 0);
    close(readFd);
    if (result.outcome != ExtractionOutcome::Finished || n != static_cast<ssize_t>(out.size() - 1))
        return kFailure;
    uint8_t header[videoedit::WavWriter::kHeaderBytes];
    videoedit::WavWriter::BuildHeader(header, 2, 44100, 2, kFrames * 4);
    if (std::memcmp(header, out.data(), sizeof header) != 0)
        return kFailure;
    int peak = 0;
    for (int i = 0; i < kFrames; ++i) {
        const uint8_t* p = out.data() + videoedit::WavWriter::kHeaderBytes + 4 * i;
        const int left = static_cast<int16_t>(p[0] | p[1] << 8),
                  right = static_cast<int16_t>(p[2] | p[3] << 8);
        if (left != right)
            return kFailure;
        peak = std::max(peak, std::abs(left));
    }
    // Mono spreads to both channels at -3 dB.
    return std::abs(peak - 8000 * M_SQRT1_2) < 400 ? 0 : kFailure;
}

} // extern "C"
