#pragma once

#include "Announcer.h"
#include "DrawnSliderCtrl.h"
#include "ImageButton.h"
#include "MediaPlayer2.h"
#include "PreviewPicture.h"
#include "TrackChooser.h"
#include "WaveformCtrl.h"
#include "WaveformReader.h"

#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <vector>

// The program's main window: open a source, preview it, mark a range, choose the format and tags,
// convert.
class CConverterDlg : public QDialog {
    Q_OBJECT
public:
    enum {
        IDD = 102,
        IDC_OPEN = 1000,
        IDC_CONVERT = 1001,
        IDC_ABOUT = 1003,
        IDC_HOMEPAGE = 1004,
        IDC_HELP = 1005,
        IDC_EXIT = 1006,
        IDC_PLAYER = 1007,
        IDC_SETTING = 1008,
        IDC_SLIDER = 1013,
        IDC_FORMAT = 1014,
        IDC_ARTIST = 1015,
        IDC_ALBUM = 1016,
        IDC_GENRE = 1017,
        IDC_YEAR = 1018,
        IDC_PLAY = 1019,
        IDC_PAUSE = 1020,
        IDC_START_TIME = 1021,
        IDC_END_TIME = 1022,
        IDC_CLEAR = 1023,
        IDC_POSITION_LABEL = 1024,
        IDC_START_LABEL = 1025,
        IDC_END_LABEL = 1026,
        IDC_MARKED_LABEL = 1027,
        IDC_PICTURE = 1053,
        IDC_PLAY_SELECTION = 1028,
        IDC_WAVEFORM = 1029,
        IDC_MARK_EDIT = 1030,
        IDC_STATUS = 1031,
        IDC_AUDIO_TRACK = 1032,
    };
    static constexpr int kPositionTimerId = 999;
    // Every kind of file the program opens, then kind by kind. The dialog shows the descriptions
    // only (CFileDialogEx hides its own copy of the patterns).
    static constexpr const char* kOpenFilter =
        "All Support Media "
        "Files|*.avi;*.mpg;*.mpeg;*.mpe;*.dat;*.vob;*.wmv;*.asf;*.rm;*.rmvb;*.ram;*.mov;*.qt;"
        "*.mp4;*.m4v;*.3gp;*.3g2;*.mkv;*.webm;*.ts;*.m2ts;*.mts;*.ogv;*.flv;*.dv;*.mp3;*.mp2;*.wma;*.ogg;*."
        "oga;"
        "*.opus;*.m4a;*.aac;*.flac;*.wav;*.mka;*.ac3;*.amr;*.caf;*.aif;*.aiff;*.wv;*.ape;"
        "|AVI files(*.avi)|*.avi;"
        "|MPEG files(*.mpeg,*.mpg,*.mpe)|*.mpeg;*.mpg;*.mpe;"
        "|MPEG-4 files(*.mp4,*.m4v,*.3gp,*.3g2)|*.mp4;*.m4v;*.3gp;*.3g2;"
        "|Matroska and WebM files(*.mkv,*.webm)|*.mkv;*.webm;"
        "|MPEG-TS files(*.ts,*.m2ts,*.mts)|*.ts;*.m2ts;*.mts;"
        "|Windows Video files(*.wmv,*.asf)|*.wmv;*.asf;"
        "|VCD DAT files(*.dat)|*.dat;"
        "|DVD VOB files(*.vob)|*.vob;"
        "|RealMedia files(*.rm,*.rmvb)|*.rm;*.rmvb;"
        "|QuickTime files(*.mov,*.qt)|*.mov;*.qt;"
        "|Ogg, Flash and DV video files(*.ogv,*.flv,*.dv)|*.ogv;*.flv;*.dv;"
        "|Audio files(*.mp3,*.m4a,*.flac,*.wav,*.ogg,*.opus,*.wma,...)|*.mp3;*.mp2;*.wma;*.ogg;*.oga;*.opus;"
        "*.m4a;*.aac;*.flac;*.wav;*.mka;*.ac3;*.amr;*.caf;*.aif;*.aiff;*.wv;*.ape;"
        "|All files(*.*)|*.*;||";

    explicit CConverterDlg(QWidget* parent = nullptr);
    ~CConverterDlg() override;

    // Commands of the toolbar and the preview.
    void OnOpen();
    void OnConvert();
    void OnSetting();
    void OnAbout();
    void OnHomepage();
    void OnHelp();
    void OnExit();
    void OnPlay();
    void OnPause();
    void OnStartTime();
    void OnEndTime();
    void OnClear();

    // Opens a file as if chosen with Open; the command line and a drop on the window come here too.
    void OpenSource(const std::string& path);

    // The tag fields enabled for the format of the settings.
    void UpdateTagFields();
    // With "original" chosen: the format list says what a copy of the source's audio gives, and pops
    // that up when it is not exact to the sample (or cannot be made).
    void ShowCopyHint(bool popUp);

    double m_dEndTime = 0;
    double m_dStartTime = 0;
    double m_dDuration = 0;
    std::string m_strSourcePath;
    QLabel m_picture;
    QLineEdit m_editYear;
    QLineEdit m_editArtist;
    QLineEdit m_editAlbum;
    QComboBox m_comboGenre;
    QComboBox m_comboFormat;
    CDrawnSliderCtrl m_slider;
    CImageButton m_btnSetting, m_btnOpen, m_btnHomepage, m_btnHelp, m_btnExit, m_btnConvert, m_btnAbout;
    CMediaPlayer2 m_player;
    QString m_strAlbum, m_strArtist, m_strYear;
    QIcon m_hIcon;
    int m_bPlayerShown = 0;
    int m_bFileLoaded = 0;

    QPushButton m_btnPlay, m_btnPause, m_btnStartTime, m_btnEndTime, m_btnClear;
    QLabel m_labelPosition, m_labelStart, m_labelEnd, m_labelMarked;

    // Beyond the design's controls: the waveform strip over the slider, "Play Selection", the edit in
    // which a mark's time is typed (shown over its label on a double-click) and the keys.
    void OnPlaySelection();
    CWaveformCtrl m_waveform;
    QPushButton m_btnPlaySelection;
    QLineEdit m_editMark;
    // Opens the edit in which the start (1) or the end (2) is typed, as a double-click on its read-out.
    void EditMark(int which);
    // The status line at the bottom, which also tells assistive technology what happens.
    CAnnouncer m_status;
    // The recent files' menu under the Open button.
    void OnRecentFiles();
    // The audio track chooser under the format, shown for sources of several audio tracks.
    QLabel m_labelTrack;
    QComboBox m_comboTrack;
    CTrackChooser m_trackChooser;

protected:
    void accept() override {} // Enter does nothing
    void reject() override {} // nor does Escape
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void OnFormatChange(int index);
    void OnGenreChange(int index);
    void OnArtistChange();
    void OnAlbumChange();
    void OnYearChange();
    void OnHScroll(int code, int pos);
    void OnTimer();
    void OnPlayStateChange(int oldState, int newState);
    void OnPlayerError();
    void OnDurationChanged();

private:
    bool OnInitDialog();
    void OnDestroy();
    void BuildControls();
    // Moves the tag texts between the edits and the members ("data exchange").
    void UpdateData(bool saveAndValidate);
    void ShowMarks();
    // Tells the status line the marks after a marking command.
    void AnnounceMarks();
    // Slider, marks and labels for m_dDuration: all anew after an Open, or once a duration that was
    // unknown becomes known.
    void ShowDuration(bool opened);
    void SetLabel(QLabel& label, const std::string& text);
    // The position label, " position / duration" followed by tail.
    void ShowPosition(double position, const char* tail = " ");
    bool IsPreviewState(int state) const { return state == 0 || state == 1 || state == 2; }

    QTimer m_positionTimer;
    bool m_bDestroyed = false;

    // The title: the open file's name, then the program's.
    void ShowTitle(bool withFile);
    // What the preview area shows where there is no video: the source's cover, else picture 148.
    void ShowPicture();
    CPreviewPicture m_preview;
    class CWindowAccess* m_pAccess = nullptr;

    // ConverterDlgMarking.cpp: the additions to the design's window.
    void BuildExtraControls(const QFont& font);
    void SetUpKeys();
    void SetUpResizing();
    // After the player was given a new source: remembers its folder, starts reading its waveform.
    void OnSourceSet();
    // Once a source has opened: says so when the preview cannot place itself in it.
    void TellUnreadableTiming();
    void ClearWaveform();
    QString LastOpenFolder() const;
    // Moves the preview to a time (clamped to the source) and shows it on the slider at once.
    void SeekTo(double seconds);
    void SeekBy(double seconds);
    // A time as a slider position (tenths of a second), whatever the time.
    static int Tenths(double seconds);
    void OnSpace();
    void SetStartMark(double seconds);
    void SetEndMark(double seconds);
    void BeginMarkEdit(int which);
    void PlaceMarkEdit();
    void CommitMarkEdit();
    void EndMarkEdit();

    // ConverterDlgPieces.cpp: the list of pieces under the preview, shown once it has a piece or an offer.
    void BuildPiecesPanel();
    void ShowPiecesPanel(bool show);
    void OnAddPiece();
    void OnPieceSelected(double start, double end);
    void OnSplitAtSilence();
    // After a source was set: its chapters or the cue sheet beside it are offered as pieces.
    void OfferPieceTables();
    // Convert with pieces in the list; false when the list is empty (Convert then works as ever).
    bool ConvertPieces();
    class CPiecesPanel* m_pPieces = nullptr;
    int m_nPiecesHeight = 0; // what the panel adds to the window's height while it shows

    // ConverterDlgTracks.cpp: the audio track chooser's part in the window.
    void LoadTracks();
    void ClearTracks();
    void PlaceTagRows();
    void OnTrackChosen(int track);
    // Moves a control to a place given for the window's first size, as the resizing keeps it.
    void MoveAnchored(QWidget* widget, const QRect& base);
    QLabel* m_tagLabels[4] = {}; // "Artist:", "Album :", "Year  :", "Genre :"

    CWaveformReader m_waveformReader;
    // A control's share of what the window grows by: moved right and down, made wider and taller.
    struct Anchor {
        QPointer<QWidget> widget;
        QRect base;
        double moveX, moveY, growW, growH;
    };
    std::vector<Anchor> m_anchors;
    QSize m_baseSize;
    int m_nMarkEditing = 0; // 0 none, 1 the start, 2 the end
    bool m_bMarkMessage = false;
    QPointer<QWidget> m_pMarkEditFrom; // where the focus goes back to
};
