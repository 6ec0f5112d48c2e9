#pragma once

#include "ConversionJob.h"
#include "JobFrame.h"
#include "PercentProgressCtrl.h"
#include "PieceList.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <memory>
#include <string>

// The modal "Processing" dialog: shows one conversion job and lets the user cancel it. Its run ends
// with IDOK (1) when the output file was made, IDCANCEL (2) when the job was cancelled or failed.
class CProcessingDlg : public QDialog, public IJobView {
    Q_OBJECT
public:
    enum {
        IDD = 144,
        IDC_PROGRESS = 1045,
        IDC_STEP = 1047,
        IDC_ELAPSED = 1024,
        IDC_CAPTION = 1046,
        IDC_TIME_LEFT = 1048, // under the elapsed time
    };

    explicit CProcessingDlg(QWidget* parent = nullptr);
    ~CProcessingDlg() override;

    // Inputs, set by the caller before exec().
    std::string m_strOutputPath;
    double m_dEndTime = 0;
    double m_dStartTime = 0;
    std::string m_strSourcePath;
    std::string m_strTempWavPath;
    std::shared_ptr<CTempWavFile> m_tempWav;
    std::shared_ptr<COutputClaim> m_output; // the claim behind m_strOutputPath
    int m_nAudioTrack = 0;                  // AudioTracks.h numbering; 0 the default track
    // Several pieces instead of the one range above: a run made with this dialog as its view and set up
    // by the caller; the dialog starts it, shows it and cancels it.
    std::unique_ptr<CPieceRun> m_pieceRun;

    int exec() override;
    // After the run: whether the job failed (as opposed to being cancelled).
    bool IsFailed() const { return m_pieceRun ? m_pieceRun->IsFailed() : m_job && m_job->IsFailed(); }
    // After a run that ended with IDOK: a note for the closing message, or "" (CConversionJob::ClosingNote).
    std::string ClosingNote() const { return m_job ? m_job->ClosingNote() : std::string(); }
    // After a run that made its output: whether the source ended before the range, and what to say.
    bool IsShort() const { return m_job && m_job->IsShort(); }
    std::string ShortWarning() const { return m_job ? m_job->ShortWarning() : std::string(); }

    CPercentProgressCtrl m_progress;

    // IJobView
    void SetCaption(const std::string& text) override;
    void SetStep(const std::string& text) override;
    void SetElapsed(const std::string& text) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int pos) override;
    void SetTimeLeft(const std::string& text) override;

public slots:
    void OnCancel();

public:
    // Cancels as a confirmed Cancel does, without the question: the program is closing.
    void CancelWithoutAsking();

protected:
    void accept() override {} // Enter does nothing
    void reject() override { OnCancel(); }
    void closeEvent(QCloseEvent* event) override;

private:
    bool OnInitDialog();

    QLabel m_caption;
    QLabel m_elapsed;
    QLabel m_timeLeft;
    QLabel m_step;
    QPushButton m_cancel;
    std::unique_ptr<CConversionJob> m_job;
    bool m_bAsking = false;
};
