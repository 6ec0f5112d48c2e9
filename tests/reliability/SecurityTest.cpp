// What an attacker with a say over the files could try: links planted at the temporary WAV, and
// shells or format strings reached through names. The job writes only where it means to.

#include "AudioSettings.h"
#include "ConversionJob.h"
#include "SystemHelpers.h"
#include "TempWav.h"
#include "TestMedia.h"
#include "TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class NullView : public IJobView {
public:
    void SetCaption(const std::string&) override {}
    void SetStep(const std::string&) override {}
    void SetElapsed(const std::string&) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int pos) override { lastPos = pos; }
    std::atomic<int> lastPos{0};
};

class JobSecurity : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppDirectoryForTesting(QUILLET_BIN_DIR);
        g_settings.LoadFrom(dir.File("none.ini"));
        source = dir.File("source.wav");
        ASSERT_TRUE(MakeTestSource(source, 3.0));
    }
    void TearDown() override {
        WaitForEncoderThreads();
        SetAppDirectoryForTesting("");
    }

    // Runs an MP3 job whose temporary WAV is reserved in the folder; `started` runs right after Start.
    int RunJob(const std::string& folder, const std::function<void(CConversionJob&)>& started) {
        g_settings.m_nFormatIndex = FORMAT_MP3;
        CConversionJob job(view);
        job.m_strSourcePath = source;
        job.m_dEndTime = 3;
        job.m_strOutputPath = dir.File("out.mp3");
        job.m_tempWav = CTempWavFile::Reserve(folder);
        EXPECT_TRUE(job.m_tempWav);
        if (!job.m_tempWav)
            return 0;
        job.m_strTempWavPath = job.m_tempWav->Path();
        job.Start();
        started(job);
        EXPECT_TRUE(WaitFor([&] { return job.IsEnded(); }, 60000));
        failed = job.IsFailed();
        return job.Result();
    }

    TempDir dir;
    std::string source;
    MessageRecorder messages;
    NullView view;
    bool failed = false;
};

} // namespace

TEST_F(JobSecurity, TemporaryWavIsPrivateWhileTheJobWritesIt) {
    const std::string folder = dir.File("tmp/");
    QDir().mkpath(QString::fromStdString(folder));
    mode_t seen = 0;
    const int result = RunJob(folder, [&](CConversionJob& job) {
        WaitFor([&] { return job.IsEnded() || view.lastPos.load() > 0; });
        struct stat st;
        if (lstat(job.m_strTempWavPath.c_str(), &st) == 0)
            seen = st.st_mode;
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(S_ISREG(seen));
    EXPECT_EQ(seen & 0777, 0600u);
}

TEST_F(JobSecurity, ALinkSwappedInForTheTemporaryWavIsNeverWrittenThrough) {
    // Someone who can write to the temporary folder replaces the reserved file by a link to a file of
    // the user's between the reservation and step 1: the victim stays as it was, the job fails.
    const std::string folder = dir.File("shared tmp/");
    QDir().mkpath(QString::fromStdString(folder));
    const std::string victim = dir.File("victim.txt");
    WriteFileText(victim, "precious");
    const int result = RunJob(folder, [&](CConversionJob&) {});
    ASSERT_EQ(result, IDOK); // the folder works

    g_settings.m_nFormatIndex = FORMAT_MP3;
    CConversionJob job(view);
    job.m_strSourcePath = source;
    job.m_dEndTime = 3;
    job.m_strOutputPath = dir.File("out2.mp3");
    job.m_tempWav = CTempWavFile::Reserve(folder);
    ASSERT_TRUE(job.m_tempWav);
    job.m_strTempWavPath = job.m_tempWav->Path();
    ASSERT_EQ(unlink(job.m_strTempWavPath.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), job.m_strTempWavPath.c_str()), 0);
    job.Start();
    ASSERT_TRUE(WaitFor([&] { return job.IsEnded(); }, 60000));
    EXPECT_TRUE(job.IsFailed());
    EXPECT_EQ(ReadFileText(victim), "precious");
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_NE(messages.Texts()[0].find(job.m_strTempWavPath), std::string::npos) << messages.Texts()[0];
    job.m_tempWav.reset();
    // The link is not the job's file: it is left alone, and so is its target.
    struct stat st;
    EXPECT_EQ(lstat(job.m_strTempWavPath.c_str(), &st), 0);
    EXPECT_TRUE(FileExists(victim));
}

TEST(NoShell, NoProgramOrModuleCallsAShell) {
    // Files and addresses are opened without a shell: none of the binaries imports a function that
    // runs one (the hyperlink opener goes through QDesktopServices, which starts xdg-open directly).
    const QStringList binaries =
        QDir(QUILLET_BIN_DIR).entryList({"quillet", "quillet-cli", "*.so"}, QDir::Files);
    ASSERT_GE(binaries.size(), 9) << binaries.join(' ').toStdString();
    for (const QString& name : binaries) {
        std::string out;
        ASSERT_EQ(RunProgram("nm",
                             {"-D", "--undefined-only", std::string(QUILLET_BIN_DIR) + name.toStdString()},
                             &out),
                  0)
            << name.toStdString();
        for (const QString& line : QString::fromStdString(out).split('\n')) {
            const QString symbol = line.section(' ', -1).section('@', 0, 0);
            for (const char* shell : {"system", "popen", "execl", "execlp", "execle", "execvp", "wordexp"})
                EXPECT_NE(symbol, shell) << name.toStdString() << " imports " << shell;
        }
    }
}
