#include "JobHarness.h"

#include "AudioSettings.h"
#include "SystemHelpers.h"

#include <gtest/gtest.h>

void JobTestBase::SetUp() {
    SetAppDirectoryForTesting(QUILLET_BIN_DIR);
    g_settings.LoadFrom(dir.File("no-such-settings.ini"));
}

void JobTestBase::TearDown() {
    WaitForEncoderThreads();
    SetAppDirectoryForTesting("");
}

JobOutcome JobTestBase::Run(const JobRequest& request,
                            const std::function<void(CConversionJob&, RecordingView&)>& during) {
    JobOutcome outcome;
    view.Clear();
    CConversionJob job(view);
    job.m_strSourcePath = request.source;
    job.m_dStartTime = request.start;
    job.m_dEndTime = request.end;
    job.m_strOutputPath = request.output;
    const std::string folder = request.tempFolder.empty() ? dir.Path() : request.tempFolder;
    if (g_settings.m_nFormatIndex != FORMAT_WAV) {
        job.m_tempWav = CTempWavFile::Reserve(folder);
        EXPECT_TRUE(job.m_tempWav);
    }
    job.m_strTempWavPath = job.m_tempWav ? job.m_tempWav->Path() : folder + CTempWavFile::kName;
    outcome.tempWavPath = job.m_strTempWavPath;
    job.Start();
    if (during)
        during(job, view);
    WaitFor([&] { return job.IsEnded(); }, 60000);
    outcome.result = job.Result();
    outcome.failed = job.IsFailed();
    WaitForEncoderThreads();
    return outcome;
}
