#include "ConverterDlg.h"

#include "AboutDlg.h"
#include "AccessibleControls.h"
#include "AudioSettings.h"
#include "ByteText.h"
#include "CopyHint.h"
#include "CoverArt.h"
#include "DialogUnits.h"
#include "FileDialogEx.h"
#include "FileManager.h"
#include "Genres.h"
#include "HelpWindow.h"
#include "HyperlinkLabel.h"
#include "MediaProbe.h"
#include "MessageService.h"
#include "OutputClaim.h"
#include "PiecesPanel.h"
#include "ProcessingDlg.h"
#include "RecentFiles.h"
#include "SettingsSheet.h"
#include "Skin.h"
#include "SystemHelpers.h"
#include "TempWav.h"
#include "WaitIndicator.h"
#include "WindowAccess.h"
#include "WindowPlacement.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QMimeData>
#include <QRegularExpressionValidator>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct ToolbarButton {
    CImageButton CConverterDlg::*button;
    int id;
    const char* caption;
    int icon;
    const char* tooltip;
    QRect dlu;
};

// In the order of the toolbar.
const ToolbarButton kToolbar[] = {
    {&CConverterDlg::m_btnOpen,
     CConverterDlg::IDC_OPEN,
     "Open",
     131,
     "Open a video or audio file",
     {2, 1, 42, 42}},
    {&CConverterDlg::m_btnConvert,
     CConverterDlg::IDC_CONVERT,
     "Convert",
     132,
     "Start converting now",
     {46, 1, 42, 42}},
    {&CConverterDlg::m_btnSetting, CConverterDlg::IDC_SETTING, "Setting", 139, "Setting", {90, 1, 42, 42}},
    {&CConverterDlg::m_btnAbout, CConverterDlg::IDC_ABOUT, "About", 134, "About", {184, 1, 42, 42}},
    {&CConverterDlg::m_btnHomepage,
     CConverterDlg::IDC_HOMEPAGE,
     "Homepage",
     137,
     "Visit our homepage",
     {228, 1, 42, 42}},
    {&CConverterDlg::m_btnHelp, CConverterDlg::IDC_HELP, "Help", 135, "Help", {272, 1, 42, 42}},
    {&CConverterDlg::m_btnExit, CConverterDlg::IDC_EXIT, "Exit", 136, "Exit", {322, 1, 42, 42}},
};

const char* const kFormatNames[] = {"mp3", "wav", "ogg", "wma", "flac", "opus", "m4a", "original"};

constexpr const char* kZeroPosition = " 00:00:00.0 / 00:00:00.0 ";
constexpr const char* kZeroStart = " Start Time: 00:00:00.0";

// The one local file a drag carries, or "" (the window holds one source, so several are refused).
std::string DraggedFile(const QMimeData* data) {
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return {};
    // The URL's bytes, not its text: a name that is not UTF-8 stays the name it is.
    const std::string path =
        QByteArray::fromPercentEncoding(urls.front().path(QUrl::FullyEncoded).toLatin1()).toStdString();
    return SourceFileProblem(path).empty() ? path : std::string();
}

// A file's name as the user reads it (the path holds the bytes the file system has).
QString DisplayName(const std::string& path) {
    return QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).fileName();
}

// End minus start, rounded to the microsecond: 50.3 - 20.3 is 29.999999999999996 in doubles, which the
// tenths (truncated) would show as 29.9.
double MarkedLength(double start, double end) {
    return std::round((end - start) * 1e6) / 1e6;
}

} // namespace

CConverterDlg::CConverterDlg(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_picture(this), m_editYear(this), m_editArtist(this), m_editAlbum(this), m_comboGenre(this),
      m_comboFormat(this), m_slider(this), m_btnSetting(this), m_btnOpen(this), m_btnHomepage(this),
      m_btnHelp(this), m_btnExit(this), m_btnConvert(this), m_btnAbout(this), m_player(this),
      m_btnPlay(QStringLiteral("Play"), this), m_btnPause(QStringLiteral("Pause"), this),
      m_btnStartTime(QStringLiteral("Start Time"), this), m_btnEndTime(QStringLiteral("End Time"), this),
      m_btnClear(QStringLiteral("Clear"), this), m_labelPosition(this), m_labelStart(this), m_labelEnd(this),
      m_labelMarked(this), m_waveform(this), m_btnPlaySelection(QStringLiteral("Play Selection"), this),
      m_editMark(this), m_status(this), m_labelTrack(QStringLiteral("Track :"), this), m_comboTrack(this),
      m_trackChooser(this, m_labelTrack, m_comboTrack) {
    m_hIcon = QIcon(QStringLiteral(":/icons/128.svg"));
    if (m_hIcon.isNull())
        m_hIcon = QIcon(QStringLiteral(":/icons/128.png"));
    BuildControls();
    OnInitDialog();
    setAcceptDrops(true);
    SetUpKeys();
    SetUpResizing();
    BuildPiecesPanel();
    m_pAccess = new CWindowAccess(*this);
    RestoreWindowPlace(*this, g_settings.m_window);
}

CConverterDlg::~CConverterDlg() {
    OnDestroy();
}

void CConverterDlg::BuildControls() {
    setObjectName(QString::number(IDD));
    ShowTitle(false);
    const QFont font = DialogFont();
    setFont(font);
    // The template's area and the status line under it; also the smallest size (SetUpResizing).
    resize(DluSizeToPixels(font, 368, 260));

    for (const ToolbarButton& b : kToolbar) {
        CImageButton& button = this->*b.button;
        button.setObjectName(QString::number(b.id));
        button.setText(QString::fromLatin1(b.caption));
        button.setGeometry(DluToPixels(font, b.dlu.x(), b.dlu.y(), b.dlu.width(), b.dlu.height()));
        button.setFocusPolicy(Qt::TabFocus);
        button.setAutoDefault(false); // no default button: Enter presses only a focused one
    }
    auto separator = [&](QFrame::Shape shape, int x, int y, int w, int h) {
        auto* line = new CSeparatorLine(shape, this);
        line->setGeometry(DluToPixels(font, x, y, w, h));
    };
    separator(QFrame::VLine, 135, 3, 1, 39);
    separator(QFrame::VLine, 317, 3, 1, 39);
    separator(QFrame::HLine, 2, 46, 359, 1);

    // The waveform strip takes the bottom of the preview's area (BuildExtraControls).
    const QRect preview = DluToPixels(font, 3, 54, 244, 124);
    m_player.setObjectName(QString::number(IDC_PLAYER));
    m_player.setGeometry(preview);
    m_picture.setObjectName(QString::number(IDC_PICTURE));
    m_picture.setGeometry(preview);
    m_picture.setAlignment(Qt::AlignCenter);
    // The same dark screen as the player's, so picture and video sit in one frame.
    m_picture.setAutoFillBackground(true);
    QPalette screen = m_picture.palette();
    screen.setColor(QPalette::Window, Qt::black);
    m_picture.setPalette(screen);

    m_slider.setObjectName(QString::number(IDC_SLIDER));
    m_slider.setGeometry(DluToPixels(font, 0, 200, 250, 24));
    m_slider.SetTickSide(CDrawnSliderCtrl::TickSide::Top);

    struct Push {
        QPushButton* button;
        int id;
        QRect dlu;
    };
    // Closer together than in the first layout, to make room for "Play Selection" at the end of the row.
    for (const Push& p :
         {Push{&m_btnPlay, IDC_PLAY, {3, 227, 26, 14}}, Push{&m_btnPause, IDC_PAUSE, {31, 227, 30, 14}},
          Push{&m_btnStartTime, IDC_START_TIME, {66, 227, 45, 14}},
          Push{&m_btnEndTime, IDC_END_TIME, {113, 227, 42, 14}},
          Push{&m_btnClear, IDC_CLEAR, {157, 227, 28, 14}},
          Push{&m_btnPlaySelection, IDC_PLAY_SELECTION, {190, 227, 57, 14}}}) {
        p.button->setObjectName(QString::number(p.id));
        p.button->setGeometry(DluToPixels(font, p.dlu.x(), p.dlu.y(), p.dlu.width(), p.dlu.height()));
        p.button->setAutoDefault(false);
    }

    auto* group = new QGroupBox(QStringLiteral(" Settings "), this);
    group->setGeometry(DluToPixels(font, 254, 53, 110, 120));
    group->lower();

    auto label = [&](const char* text, int x, int y, int w, QWidget* field) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setGeometry(DluToPixels(font, x, y, w, 8));
        l->setBuddy(field);
        return l;
    };
    label("Audio Format:", 259, 71, 52, &m_comboFormat);
    m_comboFormat.setObjectName(QString::number(IDC_FORMAT));
    // Wider than the first layout's 46 units, so "original" shows whole.
    m_comboFormat.setGeometry(DluToPixels(font, 308, 68, 54, 13));
    for (const char* name : kFormatNames)
        m_comboFormat.addItem(QString::fromLatin1(name));
    m_comboFormat.setItemData(FORMAT_ORIGINAL, DescribeCopyHint("", 0).text, Qt::ToolTipRole);
    m_tagLabels[0] = label("Artist:", 259, 91, 30, &m_editArtist);
    m_tagLabels[1] = label("Album :", 259, 112, 30, &m_editAlbum);
    m_tagLabels[2] = label("Year  :", 259, 133, 30, &m_editYear);
    m_tagLabels[3] = label("Genre :", 259, 154, 30, &m_comboGenre);
    struct Edit {
        QLineEdit* edit;
        int id;
        int y;
        int maxLength;
    };
    for (const Edit& e : {Edit{&m_editArtist, IDC_ARTIST, 88, 30}, Edit{&m_editAlbum, IDC_ALBUM, 109, 30},
                          Edit{&m_editYear, IDC_YEAR, 130, 4}}) {
        e.edit->setObjectName(QString::number(e.id));
        e.edit->setGeometry(DluToPixels(font, 290, e.y, 68, 13));
        e.edit->setMaxLength(e.maxLength);
    }
    m_editYear.setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,4}")), this));
    m_comboGenre.setObjectName(QString::number(IDC_GENRE));
    m_comboGenre.setGeometry(DluToPixels(font, 290, 151, 68, 13));
    m_comboGenre.setMaxVisibleItems(20);

    struct Label {
        QLabel* label;
        int id;
        int y;
    };
    for (const Label& l :
         {Label{&m_labelPosition, IDC_POSITION_LABEL, 181}, Label{&m_labelStart, IDC_START_LABEL, 197},
          Label{&m_labelEnd, IDC_END_LABEL, 213}, Label{&m_labelMarked, IDC_MARKED_LABEL, 229}}) {
        l.label->setObjectName(QString::number(l.id));
        l.label->setGeometry(DluToPixels(font, 254, l.y, 109, 10));
        l.label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l.label->setTextFormat(Qt::PlainText);
    }
    m_labelPosition.setAlignment(Qt::AlignCenter);
    m_labelPosition.setText(QString::fromLatin1(kZeroPosition));
    m_labelStart.setText(QString::fromLatin1(kZeroStart));
    m_labelEnd.setText(QStringLiteral(" End Time:  00:00:00.0"));
    m_labelMarked.setText(QStringLiteral(" Marked Time:00:00:00.0"));
    BuildExtraControls(font);

    connect(&m_btnOpen, &QPushButton::clicked, this, &CConverterDlg::OnOpen);
    connect(&m_btnConvert, &QPushButton::clicked, this, &CConverterDlg::OnConvert);
    connect(&m_btnSetting, &QPushButton::clicked, this, &CConverterDlg::OnSetting);
    connect(&m_btnAbout, &QPushButton::clicked, this, &CConverterDlg::OnAbout);
    connect(&m_btnHomepage, &QPushButton::clicked, this, &CConverterDlg::OnHomepage);
    connect(&m_btnHelp, &QPushButton::clicked, this, &CConverterDlg::OnHelp);
    connect(&m_btnExit, &QPushButton::clicked, this, &CConverterDlg::OnExit);
    connect(&m_btnPlay, &QPushButton::clicked, this, &CConverterDlg::OnPlay);
    connect(&m_btnPause, &QPushButton::clicked, this, &CConverterDlg::OnPause);
    connect(&m_btnStartTime, &QPushButton::clicked, this, &CConverterDlg::OnStartTime);
    connect(&m_btnEndTime, &QPushButton::clicked, this, &CConverterDlg::OnEndTime);
    connect(&m_btnClear, &QPushButton::clicked, this, &CConverterDlg::OnClear);
    connect(&m_slider, &CDrawnSliderCtrl::HScroll, this, &CConverterDlg::OnHScroll);
    connect(&m_player, &CMediaPlayer2::PlayStateChange, this, &CConverterDlg::OnPlayStateChange);
    connect(&m_player, &CMediaPlayer2::Error, this, &CConverterDlg::OnPlayerError);
    connect(&m_player, &CMediaPlayer2::DurationChanged, this, &CConverterDlg::OnDurationChanged);
    m_positionTimer.setInterval(100);
    connect(&m_positionTimer, &QTimer::timeout, this, &CConverterDlg::OnTimer);
}

bool CConverterDlg::OnInitDialog() {
    setWindowIcon(m_hIcon);
    for (const ToolbarButton& b : kToolbar)
        (this->*b.button).SetIcon(b.icon);
    for (const ToolbarButton& b : kToolbar)
        (this->*b.button).SetTooltipText(QString::fromLatin1(b.tooltip), true);
    for (const ToolbarButton& b : kToolbar)
        (this->*b.button).SetAlign(CImageButton::ALIGN_ICON_ABOVE, true);
    for (const ToolbarButton& b : kToolbar)
        (this->*b.button).DrawTransparent(true);

    m_player.hide();
    ShowPicture();
    m_picture.show();

    SetWindowSkin(this, "Dialog");
    SetDialogSkin("Dialog");
    ExemptFromSkin(&m_slider);

    m_slider.SetThumbColor(QColor(255, 255, 255));
    m_slider.SetSelectionColor(QColor(20, 20, 255));
    m_slider.SetTicFreq(10);
    m_slider.SetLineSize(1);
    m_slider.SetTic(1);
    m_slider.SetPageSize(1);
    m_slider.SetRange(0, 100, false);

    for (const char* genre : kGenreNames)
        m_comboGenre.addItem(QString::fromLatin1(genre));

    g_settings.Load();
    CTempWavFile::RemoveStale(g_settings.m_szTempPath.str()); // left by runs that were killed
    if (!SupportsWmaOutput() && g_settings.m_nFormatIndex == FORMAT_WMA)
        g_settings.m_nFormatIndex = FORMAT_MP3;

    m_comboFormat.setCurrentIndex(g_settings.m_nFormatIndex);
    m_strArtist = QString::fromStdString(g_settings.m_szArtist.str());
    m_strAlbum = QString::fromStdString(g_settings.m_szAlbum.str());
    m_strYear = QString::fromStdString(g_settings.m_szYear.str());
    m_comboGenre.setCurrentIndex(g_settings.m_nGenreIndex);
    m_waveform.SetScale(static_cast<CWaveformCtrl::Scale>(g_settings.m_nWaveformScale));
    UpdateTagFields();
    ShowCopyHint(false);
    UpdateData(false);

    // Connected only now, so filling the controls writes nothing back.
    connect(&m_comboFormat, &QComboBox::currentIndexChanged, this, &CConverterDlg::OnFormatChange);
    connect(&m_comboGenre, &QComboBox::currentIndexChanged, this, &CConverterDlg::OnGenreChange);
    connect(&m_editArtist, &QLineEdit::textChanged, this, &CConverterDlg::OnArtistChange);
    connect(&m_editAlbum, &QLineEdit::textChanged, this, &CConverterDlg::OnAlbumChange);
    connect(&m_editYear, &QLineEdit::textChanged, this, &CConverterDlg::OnYearChange);
    return true;
}

void CConverterDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strArtist = m_editArtist.text();
        m_strAlbum = m_editAlbum.text();
        m_strYear = m_editYear.text();
    } else {
        m_editArtist.setText(m_strArtist.left(30));
        m_editAlbum.setText(m_strAlbum.left(30));
        m_editYear.setText(m_strYear.left(4));
    }
}

void CConverterDlg::UpdateTagFields() {
    const int format = g_settings.m_nFormatIndex;
    // WMA carries the texts in its header too.
    const bool allTags = format == FORMAT_MP3 || format == FORMAT_WMA || format == FORMAT_FLAC ||
                         format == FORMAT_OPUS || format == FORMAT_M4A || format == FORMAT_ORIGINAL;
    const bool artistAlbum = allTags || format == FORMAT_OGG;
    const bool yearGenre = allTags;
    m_editArtist.setEnabled(artistAlbum);
    m_editAlbum.setEnabled(artistAlbum);
    m_editYear.setEnabled(yearGenre);
    m_comboGenre.setEnabled(yearGenre);
}

void CConverterDlg::OnFormatChange(int index) {
    if (!SupportsWmaOutput() && index == FORMAT_WMA) {
        ShowMessage(WmaOutputMissing(), MsgButtons::Ok, this, MsgIcon::Warning);
        QSignalBlocker block(m_comboFormat);
        m_comboFormat.setCurrentIndex(g_settings.m_nFormatIndex);
        return;
    }
    g_settings.m_nFormatIndex = index;
    UpdateTagFields();
    ShowCopyHint(true);
}

void CConverterDlg::ShowCopyHint(bool popUp) {
    if (g_settings.m_nFormatIndex != FORMAT_ORIGINAL) {
        m_comboFormat.setToolTip(QString());
        return;
    }
    const CCopyHint hint = DescribeCopyHint(m_strSourcePath, m_trackChooser.Track());
    m_comboFormat.setToolTip(hint.text);
    if (popUp && hint.warning && isVisible())
        QToolTip::showText(m_comboFormat.mapToGlobal(QPoint(0, m_comboFormat.height())), hint.text,
                           &m_comboFormat);
}

void CConverterDlg::OnGenreChange(int index) {
    g_settings.m_nGenreIndex = index;
}

void CConverterDlg::OnArtistChange() {
    UpdateData(true);
    g_settings.m_szArtist = m_strArtist.toStdString();
}

void CConverterDlg::OnAlbumChange() {
    UpdateData(true);
    g_settings.m_szAlbum = m_strAlbum.toStdString();
}

void CConverterDlg::OnYearChange() {
    UpdateData(true);
    g_settings.m_szYear = m_strYear.toStdString();
}

void CConverterDlg::SetLabel(QLabel& label, const std::string& text) {
    label.setText(QString::fromStdString(text));
}

void CConverterDlg::ShowPosition(double position, const char* tail) {
    std::string text = " ";
    text += FormatTime(position);
    text += " / ";
    text += FormatTime(m_dDuration);
    text += tail;
    SetLabel(m_labelPosition, text);
}

void CConverterDlg::OnOpen() {
    UpdateData(true);
    CFileDialogEx dlg(true, QString(), QString(), OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                      QString::fromLatin1(kOpenFilter), this);
    dlg.m_ofn.lpstrTitle = QStringLiteral("Open a video file");
    dlg.m_ofn.lpstrInitialDir = LastOpenFolder();
    if (dlg.DoModal() != IDOK)
        return;
    OpenSource(BytesFromText(dlg.GetPathName()));
}

void CConverterDlg::OpenSource(const std::string& path) {
    UpdateData(true);
    const QString ext = QFileInfo(QString::fromStdString(path)).suffix().toLower();
    if ((ext == "rm" || ext == "rmvb" || ext == "ram") && !IsRealPlayerInstalled()) {
        ShowMessage(
            "This RealMedia file cannot be opened: the FFmpeg libraries of this system have no RealMedia "
            "demuxer or no RealAudio decoder.\nPlease install the complete FFmpeg libraries of your "
            "distribution (on Debian and Ubuntu: " +
                FfmpegPackages() + "), and then try it again.",
            MsgButtons::Ok, this, MsgIcon::Warning);
        return;
    }
    // A FIFO or a device would keep the player waiting for ever on its first read.
    if (SourceFileProblem(path) == "not a regular file") {
        ShowMessage(path + "\nThis is not a regular file (a FIFO or a device); only files can be opened.",
                    MsgButtons::Ok, this, MsgIcon::Warning);
        return;
    }
    m_strSourcePath = path;
    m_bFileLoaded = 0;
    m_bPlayerShown = 0;
    ShowTitle(true);
    m_status.Announce(QStringLiteral("Opening ") + DisplayName(path));
    StartWaitIndicator("Opening the source file, please wait");
    LoadTracks();
    m_player.SetFileName(m_strSourcePath);
    OnSourceSet();
    m_dDuration = m_player.GetDuration();
    // Marks, labels and slider always belong to the new source, even before its duration is known
    // (the player's events take it from there).
    ShowDuration(true);
    if (!(m_dDuration > 0.0001))
        return;
    UpdateData(false);
    m_player.Play();
}

void CConverterDlg::ShowDuration(bool opened) {
    const bool known = m_dDuration > 0.0001;
    const int n = known ? Tenths(m_dDuration) : 100;
    // At least one tenth, so the keys still move the thumb on sources shorter than ten seconds.
    const int p = std::max(1, static_cast<int>(m_dDuration * 0.1));
    m_slider.SetRange(0, n, true);
    if (opened)
        m_slider.SetPos(0);
    m_slider.SetTicFreq(n / 10);
    m_slider.SetPageSize(p);
    m_slider.SetLineSize(p);
    m_slider.SetTic(1);
    if (opened)
        m_dStartTime = 0;
    // While the duration is unknown an end of 0 stands for the end of the source.
    if (opened || m_dEndTime <= m_dStartTime)
        m_dEndTime = m_dDuration;
    ShowMarks();
    ShowPosition(opened ? 0 : m_player.GetCurrentPosition());
    if (opened)
        SetLabel(m_labelStart, kZeroStart);
    SetLabel(m_labelEnd, " End Time:  " + FormatTime(m_dEndTime));
    SetLabel(m_labelMarked, " Marked Time:" + FormatTime(m_dEndTime - m_dStartTime));
}

void CConverterDlg::OnDurationChanged() {
    if (m_dDuration > 0.0001 || !(m_player.GetDuration() > 0.0001))
        return;
    m_dDuration = m_player.GetDuration();
    ShowDuration(false);
}

void CConverterDlg::OnPlay() {
    const int state = m_player.GetPlayState();
    if (state == 0 || state == 1)
        m_player.Play();
}

void CConverterDlg::OnPause() {
    if (m_player.GetPlayState() == 2)
        m_player.Pause();
}

void CConverterDlg::ShowMarks() {
    m_slider.SetSelection(Tenths(m_dStartTime), Tenths(m_dEndTime));
    m_slider.update();
    if (m_pPieces)
        m_pPieces->MarksChanged(m_dStartTime, m_dEndTime);
}

void CConverterDlg::OnStartTime() {
    if (!m_bFileLoaded)
        return;
    SetStartMark(m_player.GetCurrentPosition());
}

// The rules of "Start Time" for any time: the player's position, or one typed.
void CConverterDlg::SetStartMark(double seconds) {
    m_dStartTime = seconds;
    SetLabel(m_labelStart, " Start Time: " + FormatTime(m_dStartTime));
    if (m_dStartTime >= m_dEndTime) {
        m_dEndTime = m_player.GetDuration();
        SetLabel(m_labelEnd, " End Time:  " + FormatTime(m_dEndTime));
    }
    SetLabel(m_labelMarked, " Marked Time:" + FormatTime(MarkedLength(m_dStartTime, m_dEndTime)));
    ShowMarks();
    AnnounceMarks();
}

void CConverterDlg::OnEndTime() {
    if (!m_bFileLoaded)
        return;
    SetEndMark(m_player.GetCurrentPosition());
}

// The rules of "End Time" for any time.
void CConverterDlg::SetEndMark(double seconds) {
    m_dEndTime = seconds;
    SetLabel(m_labelEnd, " End Time:  " + FormatTime(m_dEndTime));
    if (m_dEndTime <= m_dStartTime) {
        m_dStartTime = 0;
        SetLabel(m_labelStart, kZeroStart);
    }
    SetLabel(m_labelMarked, " Marked Time:" + FormatTime(MarkedLength(m_dStartTime, m_dEndTime)));
    ShowMarks();
    AnnounceMarks();
}

void CConverterDlg::OnClear() {
    if (!IsPreviewState(m_player.GetPlayState()))
        return;
    m_dStartTime = 0;
    m_dEndTime = m_dDuration;
    SetLabel(m_labelStart, kZeroStart);
    SetLabel(m_labelEnd, " End Time:  " + FormatTime(m_dDuration));
    SetLabel(m_labelMarked, " Marked Time:" + FormatTime(m_dDuration));
    ShowMarks();
    AnnounceMarks();
}

void CConverterDlg::OnTimer() {
    const double position = m_player.GetCurrentPosition();
    ShowPosition(position);
    // While the user drags the thumb, the thumb is theirs.
    if (!m_slider.IsThumbPressed())
        m_slider.SetPos(Tenths(position));
}

void CConverterDlg::OnHScroll(int, int) {
    if (!IsPreviewState(m_player.GetPlayState()))
        return;
    const double t = m_slider.GetPos() * 0.1;
    ShowPosition(t, "");
    m_player.SetCurrentPosition(t);
}

void CConverterDlg::OnPlayStateChange(int, int newState) {
    // The first of the three states after an Open means loaded: a source shorter than a moment of
    // playback may reach the stopped state without ever being seen playing.
    if (IsPreviewState(newState) && !m_bPlayerShown) {
        m_bFileLoaded = 1;
        const QString name = DisplayName(m_strSourcePath);
        if (m_player.GetPictureWidth() > 0) {
            m_player.show();
            m_picture.hide();
            m_pAccess->DescribePreview(QStringLiteral("Video of ") + name);
        } else {
            m_preview.SetCover(ReadFrontCover(m_strSourcePath));
            ShowPicture();
            m_picture.show();
            m_player.hide();
            m_pAccess->DescribePreview(
                (m_preview.HasCover() ? QStringLiteral("Cover of ") : QStringLiteral("Sound only: ")) + name);
        }
        m_bPlayerShown = 1;
        StopWaitIndicator();
        RememberRecentFile(m_strSourcePath);
        TellUnreadableTiming();
    }
    if (newState == 2) {
        m_bFileLoaded = 1;
        m_positionTimer.start();
        m_status.Announce(QStringLiteral("Playing"));
        return;
    }
    m_positionTimer.stop();
    if (newState == 1) {
        OnTimer(); // where it paused, at once (the end of "Play Selection" among others)
        m_status.Announce(QStringLiteral("Paused at ") +
                          QString::fromStdString(FormatTime(m_player.GetCurrentPosition())));
    }
    if (newState == 0) {
        m_slider.SetPos(m_slider.GetRangeMax());
        ShowPosition(m_player.GetCurrentPosition());
        m_status.Announce(QStringLiteral("Stopped at the end"));
    }
}

void CConverterDlg::OnPlayerError() {
    StopWaitIndicator();
    ClearWaveform();
    ClearTracks();
    m_bFileLoaded = 0;
    m_positionTimer.stop();
    ShowTitle(false);
    m_status.Announce(DisplayName(m_strSourcePath) + QStringLiteral(" could not be opened"));
    SetLabel(m_labelPosition, " 00:00:00.0 / 00:00:00.0");
    SetLabel(m_labelStart, kZeroStart);
    SetLabel(m_labelEnd, " End Time:  00:00:00.0");
    SetLabel(m_labelMarked, " Marked Time:00:00:00.0");
    m_slider.SetRange(0, 100, false);
    m_slider.SetTicFreq(10);
    m_slider.SetPos(0);
    m_slider.SetSelection(0, 0);
    m_slider.update();
    m_preview.SetCover({});
    ShowPicture();
    m_pAccess->DescribePreview(QStringLiteral("No file is open"));
    m_picture.show();
    m_player.hide();
    ShowMessage("Failed to open the media file! \n\nThere is no CODEC for this media format in your system. "
                "\nPlease read \"When a file will not open\" in the help (the Help button). ",
                MsgButtons::Ok, this, MsgIcon::Warning);
}

void CConverterDlg::OnConvert() {
    if (!m_bFileLoaded) {
        ShowMessage("Please open a video or audio file first!", MsgButtons::Ok, this, MsgIcon::Warning);
        return;
    }
    static const char* const kTempFolderFailed =
        "Create temporary directory failed!\nPlease change temporary "
        "directory with clicking the Setting button in the toolbar! ";
    const std::string tempFolder = g_settings.m_szTempPath.str();
    if (!DirectoryExists(tempFolder) && !CreateDirectoryPath(tempFolder)) {
        ShowMessage(kTempFolderFailed, MsgButtons::Ok, this, MsgIcon::Warning);
        return;
    }
    const std::string outputFolder = g_settings.m_szOutputPath.str();
    if (g_settings.m_nOutputPathType == 1 && !DirectoryExists(outputFolder) &&
        !CreateDirectoryPath(outputFolder)) {
        ShowMessage(
            "Create output directory failed!\nPlease change output directory with clicking the Setting "
            "button in the toolbar! ",
            MsgButtons::Ok, this, MsgIcon::Warning);
        return;
    }
    if (ConvertPieces())
        return;
    // The temporary WAV is reserved only where step 2 needs it; WAV output and copies never touch it.
    const int format = g_settings.m_nFormatIndex;
    std::shared_ptr<CTempWavFile> tempWav;
    if (format != FORMAT_WAV && format != FORMAT_ORIGINAL) {
        tempWav = CTempWavFile::Reserve(tempFolder);
        if (!tempWav) {
            ShowMessage(kTempFolderFailed, MsgButtons::Ok, this, MsgIcon::Warning);
            return;
        }
    }
    if (m_player.GetPlayState() == 2)
        m_player.Pause();
    // Claimed before step 1, so a folder that cannot take the file is told before an hour is decoded.
    std::string refusal;
    const std::shared_ptr<COutputClaim> output =
        COutputClaim::ClaimNumbered(m_strSourcePath, format, g_settings.m_nOutputPathType, outputFolder,
                                    &refusal, m_trackChooser.Track());
    if (!output) {
        ShowMessage(refusal, MsgButtons::Ok, this, MsgIcon::Warning);
        return;
    }

    m_status.Announce(QStringLiteral("Converting to ") + m_comboFormat.currentText());
    CProcessingDlg dlg(this);
    dlg.m_strSourcePath = m_strSourcePath;
    dlg.m_dStartTime = m_dStartTime;
    // An end not marked on a source of unknown duration: up to the end of the source.
    dlg.m_dEndTime = m_dDuration > 0.0001 || m_dEndTime > m_dStartTime
                         ? m_dEndTime
                         : std::numeric_limits<double>::infinity();
    dlg.m_strOutputPath = output->Path();
    dlg.m_output = output;
    dlg.m_strTempWavPath = tempWav ? tempWav->Path() : tempFolder + CTempWavFile::kName;
    dlg.m_tempWav = tempWav;
    dlg.m_nAudioTrack = m_trackChooser.Track();
    if (dlg.exec() == IDOK) {
        m_status.Announce(QStringLiteral("Converted, saved as ") + DisplayName(dlg.m_strOutputPath));
        // A source that ended before the range did is told after the completion, and how a copy in whole
        // frames differs from the range.
        const bool short_ = dlg.IsShort();
        const std::string note = dlg.ClosingNote();
        if (ShowMessage("Completed converting! \n\nThe output audio file has been saved to:\n" +
                            dlg.m_strOutputPath + (short_ ? "\n\n" + dlg.ShortWarning() : std::string()) +
                            (note.empty() ? "" : "\n\n" + note),
                        MsgButtons::OkShowFolder, this,
                        short_ ? MsgIcon::Warning : MsgIcon::Information) == IDSHOWFOLDER)
            ShowInFileManager(dlg.m_strOutputPath);
        return;
    }
    m_status.Announce(dlg.IsFailed() ? QStringLiteral("Converting failed")
                                     : QStringLiteral("Converting cancelled"));
    ShowMessage(dlg.IsFailed() ? "Converting task failed!  " : "Converting task has been canceled!  ",
                MsgButtons::Ok, this, MsgIcon::Warning);
    if (tempWav)
        tempWav->Remove();
}

void CConverterDlg::OnSetting() {
    CMyPropertySheet sheet(this);
    sheet.exec();
}

void CConverterDlg::OnAbout() {
    CAboutDlg dlg(this);
    dlg.exec();
}

void CConverterDlg::OnHomepage() {
    const QString page = ProductPageUrl();
    // Without a home page of its own, the program's own help, in its own window.
    if (QUrl(page).isLocalFile())
        ShowHelp(this);
    else
        CHyperlinkLabel::GotoURL(page, 0);
}

void CConverterDlg::OnHelp() {
    ShowHelp(this);
}

void CConverterDlg::OnExit() {
    done(IDCANCEL);
}

void CConverterDlg::closeEvent(QCloseEvent* event) {
    event->accept();
    OnExit();
}

void CConverterDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!DraggedFile(event->mimeData()).empty())
        event->acceptProposedAction();
}

void CConverterDlg::dropEvent(QDropEvent* event) {
    const std::string path = DraggedFile(event->mimeData());
    if (path.empty())
        return;
    event->acceptProposedAction();
    // After the drop has ended, so a message box of the opening never keeps the drag source waiting.
    QTimer::singleShot(0, this, [this, path] { OpenSource(path); });
}

void CConverterDlg::OnDestroy() {
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    m_player.SetAutoSizeProperty(true);
    m_player.SetProperty1056(true);
    g_settings.m_window = CurrentWindowPlace(*this);
    g_settings.Save();
    m_positionTimer.stop();
}

void CConverterDlg::ShowTitle(bool withFile) {
    const QString name = DisplayName(m_strSourcePath);
    setWindowTitle(withFile && !name.isEmpty() ? name + QStringLiteral(" - Quillet")
                                               : QStringLiteral("Quillet"));
}

void CConverterDlg::ShowPicture() {
    m_picture.setPixmap(m_preview.Render(m_picture.size(), devicePixelRatioF()));
}

void CConverterDlg::OnRecentFiles() {
    RunRecentFilesMenu(this, m_btnOpen.mapToGlobal(m_btnOpen.rect().bottomLeft()),
                       [this](const std::string& path) { OpenSource(path); });
}

void CConverterDlg::AnnounceMarks() {
    m_status.Announce(QString::fromStdString("Marked from " + FormatTime(m_dStartTime) + " to " +
                                             FormatTime(m_dEndTime) + ", " +
                                             FormatTime(MarkedLength(m_dStartTime, m_dEndTime))));
}
