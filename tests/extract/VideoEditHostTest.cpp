#include "MediaSupport.h"
#include "SystemHelpers.h"
#include "TestSupport.h"
#include "VideoEdit.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// Records the signals of a CVideoEdit, and whether each came on the thread that owns it.
struct HostEvents {
    explicit HostEvents(CVideoEdit& ve) {
        QObject::connect(&ve, &CVideoEdit::ExtractionProgress, [this, &ve](double a, double b) {
            Record(ve, "progress " + std::to_string(static_cast<int>(a)) + "/" +
                           std::to_string(static_cast<int>(b)));
        });
        QObject::connect(&ve, &CVideoEdit::ExtractionFinished, [this, &ve] { Record(ve, "finished"); });
        QObject::connect(&ve, &CVideoEdit::ExtractionFailed, [this, &ve](const QString& message) {
            Record(ve, "failed: " + message.toStdString());
        });
    }
    void Record(const CVideoEdit& ve, const std::string& what) {
        events.push_back(what);
        onOwnerThread = onOwnerThread && QThread::currentThread() == ve.thread();
    }
    bool Ended() const {
        for (const auto& e : events)
            if (e == "finished" || e.rfind("failed", 0) == 0)
                return true;
        return false;
    }

    std::vector<std::string> events;
    bool onOwnerThread = true;
};

class CVideoEditHost : public ::testing::Test {
protected:
    void TearDown() override { SetAppDirectoryForTesting(""); }
};

TEST_F(CVideoEditHost, RealModuleExtractsAndReportsOnItsOwnThread) {
    SetAppDirectoryForTesting(QUILLET_BIN_DIR);
    TempDir dir;
    const std::string source = dir.File("clip.flac");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", ChirpSource(48000, 3), QString::fromStdString(source)}));
    CVideoEdit ve;
    ASSERT_TRUE(ve.IsLoaded());
    HostEvents events(ve);

    ve.ResetExtraction();
    EXPECT_TRUE(ve.SetSourceRange(source, 0.5, 1.5));
    EXPECT_TRUE(ve.ExtractToWav(dir.File("out.wav"), 2, 44100, 2));
    ASSERT_TRUE(WaitFor([&] { return events.Ended(); }));
    EXPECT_EQ(events.events.back(), "finished");
    EXPECT_TRUE(events.onOwnerThread);
    EXPECT_EQ(ReadWavData(dir.File("out.wav"), 2, 2).Frames(), 44100);

    events.events.clear();
    const std::string missing = dir.File("gone.avi");
    ve.StopExtraction();
    ve.SetSourceRange(missing, 0, 1);
    ve.ExtractToWav(dir.File("out2.wav"), 2, 44100, 2);
    ASSERT_TRUE(WaitFor([&] { return events.Ended(); }));
    ASSERT_EQ(events.events.size(), 1u);
    EXPECT_NE(events.events[0].find("failed: Cannot open the source file \"" + missing + "\""),
              std::string::npos)
        << events.events[0];
    EXPECT_TRUE(events.onOwnerThread);
}

TEST_F(CVideoEditHost, EventsComeQueuedAndThoseOfAStoppedRunAreDropped) {
    SetAppDirectoryForTesting(FAKE_MODULE_DIR);
    CVideoEdit ve;
    ASSERT_TRUE(ve.IsLoaded());
    HostEvents events(ve);

    // The fake raised its events on another thread before returning: they wait in the queue.
    ve.ExtractToWav("out.wav", 2, 44100, 2);
    EXPECT_TRUE(events.events.empty());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(events.events, (std::vector<std::string>{"progress 1/2", "finished"}));
    EXPECT_TRUE(events.onOwnerThread);

    events.events.clear();
    ve.ExtractToWav("out.wav", 2, 44100, 2);
    ve.StopExtraction();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(events.events.empty());

    ve.ExtractToWav("out.wav", 2, 44100, 2);
    ve.ResetExtraction();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(events.events.empty());

    // A new run also silences the one before it.
    ve.ExtractToWav("out.wav", 2, 44100, 2);
    ve.ExtractToWav("fail", 2, 44100, 2);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(events.events, (std::vector<std::string>{"progress 1/2", "failed: fake failure äö"}));
}

TEST_F(CVideoEditHost, MissingModuleOrFunctionFailsWithAMessage) {
    TempDir empty;
    for (const std::string& dir : {empty.Path(), std::string(INCOMPLETE_MODULE_DIR)}) {
        SCOPED_TRACE(dir);
        SetAppDirectoryForTesting(dir);
        CVideoEdit ve;
        EXPECT_FALSE(ve.IsLoaded());
        HostEvents events(ve);
        ve.ResetExtraction();
        EXPECT_FALSE(ve.SetSourceRange("/tmp/clip.avi", 0, 1));
        EXPECT_FALSE(ve.ExtractToWav("/tmp/out.wav", 2, 44100, 2));
        EXPECT_TRUE(events.events.empty()) << "the failure must arrive like any event, queued";
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(events.events, std::vector<std::string>{"failed: Error loading VideoEdit.so"});

        events.events.clear();
        ve.ExtractToWav("/tmp/out.wav", 2, 44100, 2);
        ve.StopExtraction();
        QCoreApplication::sendPostedEvents();
        EXPECT_TRUE(events.events.empty());
    }
}

TEST_F(CVideoEditHost, DestroyingDuringARunStopsItAndDropsItsEvents) {
    SetAppDirectoryForTesting(QUILLET_BIN_DIR);
    TempDir dir;
    const std::string source = MakeLongSource(dir.Path());
    const std::string wav = dir.File("out.wav");

    auto* ve = new CVideoEdit;
    int progress = 0;
    QObject::connect(ve, &CVideoEdit::ExtractionProgress, [&] { ++progress; });
    ve->SetSourceRange(source, 0, 3600);
    ASSERT_TRUE(ve->ExtractToWav(wav, 1, 8000, 1));
    ASSERT_TRUE(WaitFor([&] { return progress > 0; }, 60000));
    delete ve;
    QCoreApplication::sendPostedEvents(); // whatever was queued died with the object
    EXPECT_FALSE(ProcessHoldsOpen(wav));
    const std::string written = ReadFileText(wav);
    ASSERT_GE(written.size(), 44u);
    const uint32_t data = ReadLE32(written, 40);
    EXPECT_EQ(44 + data + (data & 1), written.size()); // odd 8-bit mono data gets a pad byte
}

} // namespace
