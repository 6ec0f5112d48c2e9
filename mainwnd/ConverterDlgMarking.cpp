// The main window's additions for marking a range: the waveform strip, "Play Selection", the keys,
// typed times, the resizable layout, the status line and the folder the Open dialog starts in.
#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "DialogUnits.h"
#include "MediaProbe.h"
#include "MessageService.h"
#include "SystemHelpers.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QPointer>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QShortcut>
#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <optional>

namespace {

constexpr double kSecondsPerStep = 0.1; // one slider position

const char* const kBadTimeText =
    "Please type the time as h:mm:ss.s, m:ss.s or seconds, for example 1:02:03.5, 2:03.5 or 123.5.";

// "h:mm:ss.s", "m:ss.s" or seconds ("," may stand for "."); nothing for any other text.
std::optional<double> ParseTimeText(const QString& text) {
    const QStringList parts =
        text.trimmed().replace(QLatin1Char(','), QLatin1Char('.')).split(QLatin1Char(':'));
    if (parts.size() > 3)
        return std::nullopt;
    static const QRegularExpression kWhole(QStringLiteral("^\\d{1,9}$"));
    static const QRegularExpression kSeconds(QStringLiteral("^(\\d{1,9}(\\.\\d*)?|\\.\\d+)$"));
    if (!kSeconds.match(parts.back()).hasMatch())
        return std::nullopt;
    double seconds = parts.back().toDouble();
    double unit = 60;
    for (qsizetype i = parts.size() - 2; i >= 0; --i, unit *= 60) {
        if (!kWhole.match(parts[i]).hasMatch())
            return std::nullopt;
        seconds += parts[i].toDouble() * unit;
    }
    // Below the largest field, minutes and seconds stay under 60.
    if (parts.size() >= 2 && parts.back().toDouble() >= 60)
        return std::nullopt;
    if (parts.size() == 3 && parts[1].toInt() >= 60)
        return std::nullopt;
    return seconds;
}

} // namespace

void CConverterDlg::BuildExtraControls(const QFont& font) {
    m_waveform.setObjectName(QString::number(IDC_WAVEFORM));
    m_waveform.setGeometry(DluToPixels(font, 0, 179, 250, 21));
    m_waveform.SetAxis(&m_slider, kSecondsPerStep);
    m_waveform.setToolTip(QStringLiteral("The sound of the file: click or drag to go to a moment; the wheel, "
                                         "+ and - zoom around the position; right-click for the scale"));
    connect(&m_waveform, &CWaveformCtrl::TimePicked, this, [this](double seconds) { SeekTo(seconds); });
    connect(&m_waveform, &CWaveformCtrl::ScaleChosen, this,
            [](int scale) { g_settings.m_nWaveformScale = scale; });
    connect(&m_btnPlaySelection, &QPushButton::clicked, this, &CConverterDlg::OnPlaySelection);

    m_comboTrack.setObjectName(QString::number(IDC_AUDIO_TRACK));
    PlaceTagRows();
    connect(&m_trackChooser, &CTrackChooser::TrackChosen, this, &CConverterDlg::OnTrackChosen);

    m_editMark.setObjectName(QString::number(IDC_MARK_EDIT));
    m_editMark.setGeometry(m_labelStart.geometry());
    m_editMark.hide();
    m_editMark.installEventFilter(this);
    connect(&m_editMark, &QLineEdit::returnPressed, this, &CConverterDlg::CommitMarkEdit);
    for (QLabel* label : {&m_labelStart, &m_labelEnd})
        label->installEventFilter(this);
    // A list keeps its own keys (typing to find an item, Home, End, Space); elsewhere the window's apply.
    for (QComboBox* combo : {&m_comboFormat, &m_comboGenre, &m_comboTrack})
        combo->installEventFilter(this);

    m_status.setObjectName(QString::number(IDC_STATUS));
    m_status.setGeometry(DluToPixels(font, 4, 248, 360, 9));
    m_status.Announce(QStringLiteral("Open a video or audio file to begin"));
}

void CConverterDlg::SetUpKeys() {
    auto key = [this](const QKeySequence& keys, std::function<void()> fn) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, std::move(fn));
    };
    key(Qt::Key_Space, [this] { OnSpace(); });
    key(Qt::Key_I, [this] { OnStartTime(); });
    key(Qt::Key_O, [this] { OnEndTime(); });
    key(Qt::Key_P, [this] { OnPlaySelection(); });
    key(Qt::Key_Left, [this] { SeekBy(-1.0); });
    key(Qt::Key_Right, [this] { SeekBy(1.0); });
    key(Qt::SHIFT | Qt::Key_Left, [this] { SeekBy(-0.1); });
    key(Qt::SHIFT | Qt::Key_Right, [this] { SeekBy(0.1); });
    key(Qt::Key_Home, [this] { SeekTo(0); });
    key(Qt::Key_End, [this] { SeekTo(std::max(m_dDuration, m_player.GetDuration())); });
    key(Qt::CTRL | Qt::Key_O, [this] { OnOpen(); });
    key(Qt::CTRL | Qt::Key_R, [this] { OnRecentFiles(); });
    key(Qt::CTRL | Qt::Key_S, [this] { OnSetting(); });
    key(Qt::SHIFT | Qt::Key_I, [this] { EditMark(1); });
    key(Qt::SHIFT | Qt::Key_O, [this] { EditMark(2); });
    auto zoom = [this](int by) {
        m_waveform.SetZoom(m_waveform.GetZoom() + by);
        m_status.Announce(QStringLiteral("Waveform: ") + m_waveform.Describe());
    };
    for (Qt::Key in : {Qt::Key_Plus, Qt::Key_Equal})
        key(in, [zoom] { zoom(1); });
    key(Qt::Key_Minus, [zoom] { zoom(-1); });
    m_btnOpen.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&m_btnOpen, &QWidget::customContextMenuRequested, this, [this] { OnRecentFiles(); });

    m_btnOpen.SetTooltipText(
        QStringLiteral("Open a video or audio file (Ctrl+O); the files opened last: right-click or Ctrl+R"),
        true);
    m_btnSetting.SetTooltipText(QStringLiteral("Setting (Ctrl+S)"), true);
    m_btnPlay.setToolTip(QStringLiteral("Play (Space)"));
    m_btnPause.setToolTip(QStringLiteral("Pause (Space)"));
    m_btnStartTime.setToolTip(QStringLiteral("Mark the start at the current position (I)"));
    m_btnEndTime.setToolTip(QStringLiteral("Mark the end at the current position (O)"));
    m_btnClear.setToolTip(QStringLiteral("Mark the whole file again"));
    m_btnPlaySelection.setToolTip(QStringLiteral("Play the marked range and pause at its end (P)"));
    m_slider.setToolTip(
        QStringLiteral("Left and Right move 1 s, Shift+Left and Shift+Right 0.1 s; Home and End "
                       "go to the start and the end"));
    m_labelStart.setToolTip(QStringLiteral(
        "Double-click, or Enter here, or Shift+I to type the start (h:mm:ss.s, m:ss.s or seconds)"));
    m_labelEnd.setToolTip(QStringLiteral(
        "Double-click, or Enter here, or Shift+O to type the end (h:mm:ss.s, m:ss.s or seconds)"));
    m_slider.setFocus();
}

void CConverterDlg::SetUpResizing() {
    const QFont font = DialogFont();
    m_baseSize = size();
    setMinimumSize(m_baseSize);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    const QRect toolbar = DluToPixels(font, 0, 0, 150, 50);
    const QRect settings = DluToPixels(font, 252, 0, 1, 180);
    // The preview, the strip and the slider take what the window grows by (the strip a third of the
    // height, so that it is taller in a larger window); the toolbar's right-hand buttons and the settings
    // column keep their sizes at the right edge, the row of buttons, the read-outs and the status line
    // stay at the bottom.
    constexpr double kStripShare = 1.0 / 3;
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isWindow())
            continue;
        const QRect g = w->geometry();
        Anchor a{w, g, 0, 0, 0, 0};
        if (w == &m_player || w == &m_picture) {
            a.growW = 1;
            a.growH = 1 - kStripShare;
        } else if (w == &m_waveform) {
            a.moveY = 1 - kStripShare;
            a.growW = 1;
            a.growH = kStripShare;
        } else if (w == &m_slider || w == &m_status) {
            a.moveY = a.growW = 1;
        } else if (g.bottom() < toolbar.bottom()) {
            a.growW = g.width() > m_baseSize.width() / 2; // the line under the toolbar
            a.moveX = !a.growW && g.left() >= toolbar.right();
        } else if (g.left() >= settings.left()) {
            a.moveX = 1;
            a.moveY = g.top() >= settings.bottom();
        } else {
            a.moveY = 1;
        }
        m_anchors.push_back(a);
    }
}

void CConverterDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (m_baseSize.isEmpty())
        return;
    const int dx = std::max(0, width() - m_baseSize.width());
    const int dy = std::max(0, height() - m_baseSize.height());
    auto share = [](double part, int of) { return static_cast<int>(std::lround(part * of)); };
    for (const Anchor& a : m_anchors) {
        QRect g = a.base.translated(share(a.moveX, dx), share(a.moveY, dy));
        g.setSize(g.size() + QSize(share(a.growW, dx), share(a.growH, dy)));
        if (a.widget)
            a.widget->setGeometry(g);
    }
    ShowPicture();
    if (m_nMarkEditing)
        PlaceMarkEdit();
}

// Over the time of the mark's read-out, so that its name stays in sight.
void CConverterDlg::PlaceMarkEdit() {
    const QLabel& label = m_nMarkEditing == 1 ? m_labelStart : m_labelEnd;
    const QString name = label.text().section(QLatin1Char(':'), 0, 0) + QStringLiteral(": ");
    const int skip = std::min(label.fontMetrics().horizontalAdvance(name), label.width() / 2);
    m_editMark.setGeometry(label.geometry().adjusted(skip, 0, 0, 0));
}

bool CConverterDlg::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonDblClick && (watched == &m_labelStart || watched == &m_labelEnd)) {
        BeginMarkEdit(watched == &m_labelStart ? 1 : 2);
        return true;
    }
    if (watched == &m_editMark) {
        if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            EndMarkEdit();
            return true;
        }
        if (type == QEvent::FocusOut && !m_bMarkMessage && m_nMarkEditing)
            EndMarkEdit();
    }
    if (type == QEvent::ShortcutOverride &&
        (watched == &m_comboFormat || watched == &m_comboGenre || watched == &m_comboTrack) &&
        !(static_cast<QKeyEvent*>(event)->modifiers() & Qt::ControlModifier)) {
        event->accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CConverterDlg::OnSourceSet() {
    EndMarkEdit();
    const std::string folder =
        QFileInfo(QString::fromStdString(m_strSourcePath)).absolutePath().toStdString() + "/";
    // A folder too long for the settings would come back as another one.
    if (CBoundedText::Cut(folder, CAudioSettings::kPathChars).size() == folder.size())
        g_settings.m_szLastFolder = folder;
    m_waveformReader.Start(m_strSourcePath, m_trackChooser.Track());
    m_waveform.SetOverview(m_waveformReader.Overview());
    ShowCopyHint(true);
    OfferPieceTables();
    // The keys work from the slider; a tag field keeps them as text.
    m_slider.setFocus();
}

void CConverterDlg::TellUnreadableTiming() {
    if (m_player.HasReadableTiming())
        return;
    ShowMessage(
        "The timing of this file cannot be read: the preview plays it, but cannot show where it is "
        "or go to a moment of it.\nTo convert a part of it, type its start and end times (Shift+I and "
        "Shift+O, or double-click them).",
        MsgButtons::Ok, this, MsgIcon::Information);
}

void CConverterDlg::ClearWaveform() {
    m_waveformReader.Stop();
    m_waveform.SetOverview(nullptr);
}

QString CConverterDlg::LastOpenFolder() const {
    const QString folder = QString::fromStdString(g_settings.m_szLastFolder.str());
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

void CConverterDlg::SeekTo(double seconds) {
    if (!IsPreviewState(m_player.GetPlayState()))
        return;
    const double duration = std::max(m_dDuration, m_player.GetDuration());
    seconds =
        std::max(0.0, duration > 0 ? std::min(seconds, duration) : seconds); // the length may be unknown
    // Rounded to the microsecond, so that steps of a tenth land on tenths as the slider counts them.
    const double t = std::round(seconds * 1e6) / 1e6;
    m_player.SetCurrentPosition(t);
    m_slider.SetPos(Tenths(t));
    ShowPosition(t);
}

int CConverterDlg::Tenths(double seconds) {
    const double tenths = seconds * 10;
    return tenths > 0 ? static_cast<int>(std::min(tenths, static_cast<double>(INT_MAX))) : 0;
}

void CConverterDlg::SeekBy(double seconds) {
    if (IsPreviewState(m_player.GetPlayState()))
        SeekTo(m_player.GetCurrentPosition() + seconds);
}

void CConverterDlg::OnSpace() {
    if (m_player.GetPlayState() == 2)
        OnPause();
    else
        OnPlay();
}

void CConverterDlg::OnPlaySelection() {
    if (!m_bFileLoaded || !IsPreviewState(m_player.GetPlayState()) || !(m_dEndTime > m_dStartTime))
        return;
    SeekTo(m_dStartTime);
    m_player.SetPauseAt(m_dEndTime);
    m_player.Play();
}

void CConverterDlg::EditMark(int which) {
    BeginMarkEdit(which);
}

void CConverterDlg::BeginMarkEdit(int which) {
    if (!m_bFileLoaded)
        return;
    if (!m_nMarkEditing)
        m_pMarkEditFrom = focusWidget();
    m_nMarkEditing = which;
    m_editMark.setAccessibleName(which == 1 ? QStringLiteral("Start time") : QStringLiteral("End time"));
    PlaceMarkEdit();
    m_editMark.setText(QString::fromStdString(FormatTime(which == 1 ? m_dStartTime : m_dEndTime)));
    m_editMark.show();
    m_editMark.raise();
    m_editMark.setFocus();
    m_editMark.selectAll();
}

void CConverterDlg::CommitMarkEdit() {
    const int which = m_nMarkEditing;
    if (!which || !m_bFileLoaded) {
        EndMarkEdit();
        return;
    }
    std::optional<double> t = ParseTimeText(m_editMark.text());
    const double duration = std::max(m_dDuration, m_player.GetDuration());
    // Without a length to hold it to, a time stays within what the window can show.
    if (t)
        t = std::min(*t, kMaxMediaDuration);
    std::string problem;
    if (!t)
        problem = kBadTimeText;
    else if (duration > 0 && *t > duration)
        problem = "The time lies past the end of the file, " + FormatTime(duration) + ".";
    if (!problem.empty()) {
        // The message takes the focus for a moment; the edit stays, to be corrected or left with Escape.
        m_bMarkMessage = true;
        ShowMessage(problem, MsgButtons::Ok, this, MsgIcon::Warning);
        m_bMarkMessage = false;
        m_editMark.setFocus();
        m_editMark.selectAll();
        return;
    }
    EndMarkEdit();
    if (which == 1)
        SetStartMark(*t);
    else
        SetEndMark(*t);
}

void CConverterDlg::EndMarkEdit() {
    if (!m_nMarkEditing)
        return;
    m_nMarkEditing = 0;
    const bool hadFocus = m_editMark.hasFocus(); // not when the user has clicked elsewhere
    m_editMark.hide();
    // Back where the edit was opened from (a read-out, for the keyboard), else to the slider, so that the
    // keys work on.
    QWidget* back = m_pMarkEditFrom && m_pMarkEditFrom->isVisible() && m_pMarkEditFrom != &m_editMark
                        ? m_pMarkEditFrom.data()
                        : &m_slider;
    if (hadFocus)
        back->setFocus();
}
