#include "AudioSettings.h"
#include "ChunkLoop.h"
#include "EncoderLibrary.h"
#include "Encoders.h"
#include "OutputTags.h"
#include "WmaWriter.h"

#include <memory>
#include <vector>

int WmaEncodeProc() {
    CJobState& job = CurrentJob();
    // Destroyed last: finishing and releasing the writer also closes a cancelled job's file properly.
    auto writer = std::make_unique<CWmaWriter>();
    const std::string fileName = FileNameOf(job.m_strOutputPath);
    const OutputTags texts = JobOutputTags(fileName.substr(0, fileName.rfind('.')));
    const CWmaWriter::Tags tags = {
        {"title", texts.title}, {"artist", texts.artist}, {"album", texts.album},    {"date", texts.year},
        {"genre", texts.genre}, {"track", texts.track},   {"comment", texts.comment}};
    if (!writer->Open(job.m_strOutputPath, g_settings.GetWmaBitrate(), 44100, 2, tags)) {
        writer.reset();           // the file is closed before the job hears of the failure
        job.m_bConvertFailed = 1; // Open has shown its message
        return -1;
    }
    CTempWavSource source;
    if (!source.Open(job.m_strTempWavPath, job.m_sound.get())) {
        writer.reset();
        return FailJob(Format("Error opening %s", job.m_strTempWavPath.c_str()));
    }
    std::vector<unsigned char> buffer(2304);
    const ChunkLoopEnd end = RunChunkLoop(
        source, 1, [&] { return source.ReadBytes(buffer.data(), buffer.size()); },
        [&](size_t n) {
            // A writer that cannot write (a full disk) must not end as a completed job.
            if (writer->Write(buffer.data(), static_cast<unsigned>(n)))
                return true;
            const std::string reason = writer->LastReason();
            source.Close();
            writer.reset(); // finishes what was written, so that it plays
            FailJob("Output file write error" + reason);
            return false;
        });
    source.Close();
    if (end == ChunkLoopEnd::Failed)
        return -1;
    if (end == ChunkLoopEnd::Cancelled) {
        CancelJob();
        return -1; // the writer's destruction finishes the partial file
    }
    const bool finished = writer->Close();
    const std::string reason = writer->LastReason();
    writer.reset();
    return finished ? FinishJob() : FailJob("Output file write error" + reason);
}
