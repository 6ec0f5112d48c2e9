#include "JobHarness.h"

#include "AudioSettings.h"
#include "SystemHelpers.h"

void JobTestBase::SetUp() {
    SetAppDirectoryForTesting(QUILLET_BIN_DIR);
    g_settings.LoadFrom(dir.File("no-such-settings.ini"));
    ASSERT_TRUE(CreateDirectoryPath(temp));
}

void JobTestBase::TearDown() {
    WaitForEncoderThreads();
    SetAppDirectoryForTesting("");
}

JobTestBase::Outcome JobTestBase::Run(const std::string& source, double start, double end,
                                      const std::string& output,
                                      const std::function<void(CConversionJob&)>& during) {
    view.caption.clear();
    view.steps.clear();
    view.upper = view.lastPos = view.upperAtLastPos = 0;
    CConversionJob job(view);
    job.m_strSourcePath = source;
    job.m_dStartTime = start;
    job.m_dEndTime = end;
    job.m_strOutputPath = output;
    if (g_settings.m_nFormatIndex != FORMAT_WAV) {
        job.m_tempWav = CTempWavFile::Reserve(temp);
        EXPECT_TRUE(job.m_tempWav);
    }
    job.m_strTempWavPath = job.m_tempWav ? job.m_tempWav->Path() : temp + CTempWavFile::kName;
    job.Start();
    if (during)
        during(job);
    EXPECT_TRUE(WaitFor([&] { return job.IsEnded(); }, 120000)) << "the job did not end";
    const Outcome outcome{job.Result(), job.IsFailed()};
    job.m_tempWav.reset();
    WaitForEncoderThreads();
    return outcome;
}
