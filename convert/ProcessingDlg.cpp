#include "ProcessingDlg.h"

#include "DialogUnits.h"
#include "MessageService.h"

#include <QCloseEvent>

CProcessingDlg::CProcessingDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_progress(this),
      m_caption(this), m_elapsed(QStringLiteral("Please Wait"), this), m_timeLeft(this),
      m_step(QStringLiteral("[Step 1] - Extract WAV audio from source file.  "), this),
      m_cancel(QStringLiteral("Cancel"), this) {
    setWindowTitle(QStringLiteral("Processing"));
    setObjectName(QString::number(IDD));
    setModal(true);
    const QFont font = DialogFont();
    setFont(font);
    setFixedSize(DluSizeToPixels(font, 232, 69));
    m_cancel.setObjectName("2");
    m_cancel.setGeometry(DluToPixels(font, 172, 40, 46, 14));
    m_cancel.setAutoDefault(false);
    m_progress.setObjectName(QString::number(IDC_PROGRESS));
    m_progress.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_progress.setGeometry(DluToPixels(font, 5, 23, 220, 11));
    m_step.setObjectName(QString::number(IDC_STEP));
    m_step.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_step.setGeometry(DluToPixels(font, 5, 58, 220, 10));
    m_elapsed.setObjectName(QString::number(IDC_ELAPSED));
    m_elapsed.setGeometry(DluToPixels(font, 5, 42, 132, 8));
    m_timeLeft.setObjectName(QString::number(IDC_TIME_LEFT));
    m_timeLeft.setGeometry(DluToPixels(font, 5, 50, 132, 8));
    m_caption.setObjectName(QString::number(IDC_CAPTION));
    m_caption.setGeometry(DluToPixels(font, 5, 5, 220, 17));
    m_caption.setWordWrap(true);
    m_caption.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_caption.setTextFormat(Qt::PlainText);
    connect(&m_cancel, &QPushButton::clicked, this, &CProcessingDlg::OnCancel);
}

CProcessingDlg::~CProcessingDlg() {
    m_pieceRun.reset(); // before the controls its view writes to
}

int CProcessingDlg::exec() {
    OnInitDialog();
    if (m_pieceRun && m_pieceRun->IsEnded())
        return m_pieceRun->Result();
    // The job may have ended already (a source that fails at once).
    if (m_job && m_job->IsEnded())
        return m_job->Result();
    return QDialog::exec();
}

bool CProcessingDlg::OnInitDialog() {
    if (m_pieceRun) {
        connect(m_pieceRun.get(), &CPieceRun::Ended, this, [this](int result) { done(result); });
        m_pieceRun->Start();
        return true;
    }
    m_job = std::make_unique<CConversionJob>(*this);
    m_job->m_strSourcePath = m_strSourcePath;
    m_job->m_dStartTime = m_dStartTime;
    m_job->m_dEndTime = m_dEndTime;
    m_job->m_strOutputPath = m_strOutputPath;
    m_job->m_strTempWavPath = m_strTempWavPath;
    m_job->m_tempWav = m_tempWav;
    m_job->m_output = m_output;
    m_job->m_nAudioTrack = m_nAudioTrack;
    connect(m_job.get(), &CConversionJob::Ended, this, [this](int result) { done(result); });
    m_job->Start();
    return true;
}

void CProcessingDlg::OnCancel() {
    const bool ended = m_pieceRun ? m_pieceRun->IsEnded() : !m_job || m_job->IsEnded();
    if (ended || m_bAsking)
        return;
    m_bAsking = true;
    const int answer = ShowMessage("Are you sure? ", MsgButtons::YesNo, this, MsgIcon::Question);
    m_bAsking = false;
    // The job may have finished while the question was open; then it stays finished.
    if (answer == IDYES)
        CancelWithoutAsking();
}

void CProcessingDlg::CancelWithoutAsking() {
    if (m_pieceRun)
        m_pieceRun->Cancel();
    if (m_job)
        m_job->Cancel();
}

void CProcessingDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnCancel();
}

void CProcessingDlg::SetCaption(const std::string& text) {
    m_caption.setText(QString::fromStdString(text));
}

void CProcessingDlg::SetStep(const std::string& text) {
    m_step.setText(QString::fromStdString(text));
}

void CProcessingDlg::SetElapsed(const std::string& text) {
    m_elapsed.setText(QString::fromStdString(text));
}

void CProcessingDlg::SetTimeLeft(const std::string& text) {
    m_timeLeft.setText(QString::fromStdString(text));
}

void CProcessingDlg::SetProgressRange(int lower, int upper) {
    m_progress.SetRange(lower, upper);
}

void CProcessingDlg::SetProgressPos(int pos) {
    m_progress.SetPos(pos);
}
