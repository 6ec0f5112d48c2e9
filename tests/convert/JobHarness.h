#pragma once

#include "ConversionJob.h"
#include "TestSupport.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// Records what a job shows. Positions may come from the encoder thread.
class RecordingView : public IJobView {
public:
    void SetCaption(const std::string& text) override { caption = text; }
    void SetStep(const std::string& text) override { steps.push_back(text); }
    void SetElapsed(const std::string&) override {}
    void SetProgressRange(int, int upper) override { this->upper = upper; }
    void SetProgressPos(int pos) override {
        lastPos = pos;
        upperAtLastPos = upper.load();
    }

    std::string caption;
    std::vector<std::string> steps;
    std::atomic<int> upper{0}, lastPos{0}, upperAtLastPos{0};
    // Step 2 has reported at least this per mille (until its first report the bar still holds step 1's
    // count, which is far above 1000).
    bool InStep2(int perMille) const {
        return steps.size() == 2 && lastPos.load() >= perMille && lastPos.load() <= 1000;
    }
};

// Runs jobs as the program does: the program directory is the build's, the settings are the
// defaults (the format and the rest come from g_settings), messages are recorded. The temporary WAV
// is reserved in `temp`.
class JobTestBase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    struct Outcome {
        int result = 0; // IDOK, IDCANCEL, or 0 when the job did not end in time
        bool failed = false;
    };
    // Runs a job to its end. `during` runs once the job has started; it may cancel. Waits for the
    // encoder thread to end too.
    Outcome Run(const std::string& source, double start, double end, const std::string& output,
                const std::function<void(CConversionJob&)>& during = {});
    bool TempFolderEmpty() const { return FilesIn(temp).empty(); }
    std::string LastMessage() const { return messages.Count() ? messages.Texts().back() : ""; }

    TempDir dir;
    std::string temp = dir.File("tmp/");
    MessageRecorder messages;
    RecordingView view;
};
