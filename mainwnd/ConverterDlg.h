#pragma once

#include "DrawnSliderCtrl.h"
#include "ImageButton.h"
#include "MediaPlayer2.h"
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
    };
    static constexpr int kPositionTimerId = 999;
    static constexpr const char* kOpenFilter =
        "All Support Media "
        "Files(*.avi,*.mpg,*.mpeg,*.wmv,*.asf,*.dat,*.vob,*.mpe,*.rm,*.rmvb,*.mov,*.qt,*.mp3,"
        "*.wma,*.ogg)|*.avi;*.mpg;*.mpeg;*.wmv;*.asf;*.vob;*.mpe;*.dat;*.rm;*.rmvb;*.ram;*.mov;*.qt;*.mp3;*."
        "wma;"
        "*.ogg;|AVI files(*.avi)|*.avi;|MPEG files(*.mpeg,*.mpg,*.mpe)|*.mpeg;*.mpg;*.mpe;|Windows Vidoe "
        "files(*.wmv,*.asf)|*.wmv;*.asf;|VCD DAT files(*.dat)|*.dat;|DVD VOB files(*.vob)|*.vob;|RealMedia "
        "files(*.rm,*rmvb)|*.rm;*rmvb;|Quick Time files(*.mov,*.qt)|*.mov;*.qt;|Audio "
        "files(*.mp3,*.wma,*.ogg)|*.mp3;*.wma;*.ogg;|All files(*.*)|*.*;||";

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
    // Slider, marks and labels for m_dDuration: all anew after an Open, or once a duration that was
    // unknown becomes known.
    void ShowDuration(bool opened);
    void SetLabel(QLabel& label, const std::string& text);
    // The position label, " position / duration" followed by tail.
    void ShowPosition(double position, const char* tail = " ");
    bool IsPreviewState(int state) const { return state == 0 || state == 1 || state == 2; }

    QTimer m_positionTimer;
    bool m_bDestroyed = false;

    // ConverterDlgMarking.cpp: the additions to the design's window.
    void BuildExtraControls(const QFont& font);
    void SetUpKeys();
    void SetUpResizing();
    // After the player was given a new source: remembers its folder, starts reading its waveform.
    void OnSourceSet();
    void ClearWaveform();
    QString LastOpenFolder() const;
    // Moves the preview to a time (clamped to the source) and shows it on the slider at once.
    void SeekTo(double seconds);
    void SeekBy(double seconds);
    void OnSpace();
    void SetStartMark(double seconds);
    void SetEndMark(double seconds);
    void BeginMarkEdit(int which);
    void PlaceMarkEdit();
    void CommitMarkEdit();
    void EndMarkEdit();

    CWaveformReader m_waveformReader;
    struct Anchor {
        QPointer<QWidget> widget;
        QRect base;
        bool moveX, moveY, growW, growH;
    };
    std::vector<Anchor> m_anchors;
    QSize m_baseSize;
    QPixmap m_bitmap;
    int m_nMarkEditing = 0; // 0 none, 1 the start, 2 the end
    bool m_bMarkMessage = false;
};
