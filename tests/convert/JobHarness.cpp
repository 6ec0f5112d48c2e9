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

JobOutcome JobTestBase::Run(const JobSpec& spec,
                            const std::function<void(CConversionJob&, RecordingView&)>& during) {
    JobOutcome outcome;
    view.Clear();
    CConversionJob job(view);
    job.m_strSourcePath = spec.source;
    job.m_dStartTime = spec.start;
    job.m_dEndTime = spec.end;
    job.m_strOutputPath = spec.output;
    const std::string folder = spec.tempFolder.empty() ? dir.Path() : spec.tempFolder;
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
