#pragma once

#include "ConversionJob.h"
#include "TestSupport.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

// Records what a job shows.
class RecordingView : public IJobView {
public:
    void SetCaption(const std::string& text) override { caption = text; }
    void SetStep(const std::string& text) override { steps.push_back(text); }
    void SetElapsed(const std::string& text) override { elapsed = text; }
    void SetProgressRange(int lower, int upper) override {
        this->lower = lower;
        this->upper = upper;
    }
    void SetProgressPos(int pos) override {
        lastPos = pos;
        ++reports;
    }

    void Clear() {
        caption.clear();
        elapsed.clear();
        steps.clear();
        lower = upper = lastPos = reports = 0;
    }

    std::string caption, elapsed;
    std::vector<std::string> steps;
    std::atomic<int> lower{0}, upper{0}, lastPos{0}, reports{0};
};

// A job's inputs; the format comes from g_settings as in the program.
struct JobRequest {
    std::string source;
    double start = 0;
    double end = 0;
    std::string output;
    std::string tempFolder; // the temporary WAV is reserved here for formats other than WAV
};

struct JobOutcome {
    int result = 0; // IDOK, IDCANCEL, or 0 when the job did not end in time
    bool failed = false;
    std::string tempWavPath;
};

// Test fixture base: the program directory is the build's, settings are the defaults, messages are
// recorded.
class JobTestBase : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs a job to its end. `during` runs once the job has started, with the job and the view;
    // it may cancel. Waits for the encoder thread to end too.
    JobOutcome Run(const JobRequest& request,
                   const std::function<void(CConversionJob&, RecordingView&)>& during = {});

    TempDir dir;
    MessageRecorder messages;
    RecordingView view;
};
