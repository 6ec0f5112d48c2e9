#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <QTabBar>
#include <QTabWidget>
#include <functional>
#include <optional>
#include <vector>

class CImageButton;
class QButtonGroup;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The settings dialog: a modal sheet of nine pages that edits every setting of g_settings except the
// format and the tags. A page reads g_settings when it is first shown; OK stores the pages that were
// shown, in page order; Cancel, Escape and the close box store nothing.

constexpr int IDS_PROPSHT_CAPTION = 103; // "Property Sheet", the caption until the sheet is shown

constexpr int IDD_PROPPAGE_GENERAL = 146;
constexpr int IDD_PROPPAGE_MP3 = 104;
constexpr int IDD_PROPPAGE_WAV = 105;
constexpr int IDD_PROPPAGE_OGG = 106;
constexpr int IDD_PROPPAGE_WMA = 107;
constexpr int IDD_PROPPAGE_FLAC = 150;
constexpr int IDD_PROPPAGE_OPUS = 151;
constexpr int IDD_PROPPAGE_M4A = 152;

// General
constexpr int IDC_RADIO_SAME_AS_SOURCE = 1050;
constexpr int IDC_RADIO_CUSTOM = 1051;
constexpr int IDC_EDIT_OUTPUT_PATH = 1052;
constexpr int IDC_BROWSE_OUTPUT_PATH = 1053;
constexpr int IDC_EDIT_TEMP_PATH = 1049;
constexpr int IDC_BROWSE_TEMP_PATH = 1048;
// mp3
constexpr int IDC_MP3_CHANNEL = 1037;
constexpr int IDC_MP3_BITRATE = 1038;
constexpr int IDC_MP3_QUALITY = 1039;
constexpr int IDC_MP3_VBR_QUALITY = 1040;
constexpr int IDC_MP3_MAX_BITRATE = 1043;
// wav
constexpr int IDC_WAV_MONO = 1028;
constexpr int IDC_WAV_STEREO = 1029;
constexpr int IDC_WAV_8BIT = 1030;
constexpr int IDC_WAV_16BIT = 1031;
constexpr int IDC_WAV_SAMPLE_RATE = 1041;
// ogg
constexpr int IDC_OGG_MIN_BITRATE = 1042;
constexpr int IDC_OGG_NOMINAL_BITRATE = 1033;
constexpr int IDC_OGG_MAX_BITRATE = 1036;
constexpr int IDC_OGG_MODE = 1035;
// wma
constexpr int IDC_WMA_BITRATE = 1038;
// flac, opus, m4a
constexpr int IDC_FLAC_LEVEL = 1060;
constexpr int IDC_OPUS_BITRATE = 1061;
constexpr int IDC_OPUS_APPLICATION = 1062;
constexpr int IDC_M4A_BITRATE = 1063;
constexpr int IDC_FLAC_SOUND = 1064;
constexpr int IDC_OPUS_SOUND = 1065;
constexpr int IDC_M4A_SOUND = 1066;

// The item texts of the lists, index 0 first: an item's position is the index stored in g_settings.
QStringList Mp3ChannelItems();
QStringList Mp3BitrateItems();
QStringList Mp3QualityItems();
QStringList Mp3VbrQualityItems();
QStringList WavSampleRateItems();
QStringList OggBitrateItems();
QStringList OggModeItems();
QStringList WmaBitrateItems();
QStringList FlacLevelItems();
QStringList OpusBitrateItems();
QStringList OpusApplicationItems();
QStringList AacBitrateItems();
QStringList SoundItems(); // "Same as the source", "44100 Hz stereo 16 bit"

// One page of the sheet, laid out in dialog units of the dialog font.
class CPropertyPage : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidthDlu = 218;
    static constexpr int kHeightDlu = 94;

    CPropertyPage(int templateId, const QString& title, QWidget* parent = nullptr);

    int TemplateId() const { return m_nTemplateId; }
    QString Title() const { return m_strTitle; }

    // Runs OnInitDialog the first time the page is shown; later calls do nothing.
    void Activate();
    bool IsInitialised() const { return m_bInitialised; }

    // Reads g_settings into the controls.
    virtual bool OnInitDialog() = 0;
    // Stores the controls into g_settings. False keeps the sheet open on this page.
    virtual bool OnApply() = 0;

protected:
    void Place(QWidget* control, int x, int y, int w, int h);
    QWidget* AddLabel(const QString& text, int x, int y, int w);
    QComboBox* AddList(int id, const QStringList& items, int x, int y, int w);
    QComboBox* AddLabelledList(int id, const QString& label, const QStringList& items, int y);
    QRadioButton* AddRadio(int id, const QString& text, int x, int y, int w);

    // Selects the item of a stored index; an index that names no item selects nothing.
    static void SelectIndex(QComboBox* list, int index);
    // Stores the list's selection into the setting, unless nothing is selected.
    static void StoreIndex(const QComboBox* list, int& setting);
    // Checks the radio button of the index in an exclusive group; -1 checks none.
    static void SetRadioIndex(QButtonGroup* group, int index);

    QFont m_font;

private:
    int m_nTemplateId;
    QString m_strTitle;
    bool m_bInitialised = false;
};

// General: where output files go and where the intermediate WAV is kept.
class CMyPropertyPage0 : public CPropertyPage {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_PROPPAGE_GENERAL;

    explicit CMyPropertyPage0(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnApply() override;

    void OnRadioSameAsSource();
    void OnRadioCustom();
    void OnBrowseOutputPath();
    void OnBrowseTempPath();

    // Moves the values between the members and the controls: true takes them from the controls.
    void DoDataExchange(bool saveAndValidate);

    // The folder picker: (owner, title, starting folder) -> the chosen folder, or nothing when the
    // user cancels. Tests replace it; an empty chooser restores Qt's folder dialog. Returns the
    // previous one.
    using FolderChooser = std::function<std::optional<QString>(QWidget*, const QString&, const QString&)>;
    static FolderChooser SetFolderChooser(FolderChooser chooser);

    static inline const QString kBrowseTitle = QStringLiteral("Select output videos folder");

    int m_nOutputPathType = -1; // the radio group; -1 while none is checked
    QString m_strOutputPath;
    QString m_strTempPath;

    CImageButton* m_btnBrowseOutput;
    CImageButton* m_btnBrowseTemp;

private:
    // Asks for a folder starting from the edit's folder; the chosen path, ending with '/', or
    // nothing when the user cancelled or the path cannot be kept.
    std::optional<QString> BrowseFolder(const QString& current);
    void EnableCustomPath(bool enable);

    QButtonGroup* m_radios;
    QLineEdit* m_editOutput;
    QLineEdit* m_editTemp;
};

class CMyPropertyPage1 : public CPropertyPage {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_PROPPAGE_MP3;

    explicit CMyPropertyPage1(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnApply() override;
    // "Max bitrate" is usable only for VBR encoding (a "VBR quality" other than "None").
    void OnVbrQualityChange();

    QComboBox* m_comboChannel;
    QComboBox* m_comboBitrate;
    QComboBox* m_comboQuality;
    QComboBox* m_comboVbrQuality;
    QComboBox* m_comboMaxBitrate;
};

class CMyPropertyPage2 : public CPropertyPage {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_PROPPAGE_WAV;

    explicit CMyPropertyPage2(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnApply() override;

    QButtonGroup* m_channels;
    QButtonGroup* m_bits;
    QComboBox* m_comboSampleRate;
};

class CMyPropertyPage3 : public CPropertyPage {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_PROPPAGE_OGG;

    explicit CMyPropertyPage3(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnApply() override;

    QComboBox* m_comboMinBitrate;
    QComboBox* m_comboNominalBitrate;
    QComboBox* m_comboMaxBitrate;
    QComboBox* m_comboMode;
};

class CMyPropertyPage4 : public CPropertyPage {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_PROPPAGE_WMA;

    explicit CMyPropertyPage4(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnApply() override;

    QComboBox* m_comboBitrate;
};

// The pages of the formats after the first four; they live in FormatPages.cpp.
class CMyPropertyPage5 : public CPropertyPage {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_PROPPAGE_FLAC;

    explicit CMyPropertyPage5(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnApply() override;

    QComboBox* m_comboLevel;
    QComboBox* m_comboSound;
};

class CMyPropertyPage6 : public CPropertyPage {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_PROPPAGE_OPUS;

    explicit CMyPropertyPage6(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnApply() override;

    QComboBox* m_comboBitrate;
    QComboBox* m_comboApplication;
    QComboBox* m_comboSound;
};

class CMyPropertyPage7 : public CPropertyPage {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_PROPPAGE_M4A;

    explicit CMyPropertyPage7(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnApply() override;

    QComboBox* m_comboBitrate;
    QComboBox* m_comboSound;
};

constexpr int IDD_PROPPAGE_SOUND = 153;
constexpr int IDC_SOUND_LOUDNESS = 1070;
constexpr int IDC_SOUND_TARGET = 1071;
constexpr int IDC_SOUND_TRUE_PEAK = 1072;
constexpr int IDC_SOUND_FADE_IN = 1073;
constexpr int IDC_SOUND_FADE_OUT = 1074;

// The "Sound" page: loudness normalisation and fades (g_settings.m_sound), for every format but the
// original's copy. The loudness list offers Off, three targets and "Other", which takes the value typed
// beside it; the fades take a preset or a typed length in ms. GUI thread only, as every page.
class CSoundPage : public CPropertyPage {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_PROPPAGE_SOUND;
    static constexpr int kOtherTarget = 4; // the list's item for a typed target

    explicit CSoundPage(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    // False, with the fade's list focused, for a length that is not a number of ms (0 to 60000).
    bool OnApply() override;

    QComboBox* m_comboLoudness;
    QDoubleSpinBox* m_spinTarget;
    QDoubleSpinBox* m_spinTruePeak;
    QComboBox* m_comboFadeIn;
    QComboBox* m_comboFadeOut;

private:
    void EnableLoudness();
};

QStringList LoudnessItems();
QStringList FadeItems();
// A fade list's text as milliseconds ("Off" is 0, "250 ms" or "250" is 250); -1 when it is neither.
int FadeMsFromText(const QString& text);

// Tabs at least a given width wide.
class CSheetTabBar : public QTabBar {
    Q_OBJECT

public:
    using QTabBar::QTabBar;
    void SetMinTabWidth(int pixels);
    int MinTabWidth() const { return m_nMinTabWidth; }

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;

private:
    int m_nMinTabWidth = 0;
};

class CSheetTabWidget : public QTabWidget {
    Q_OBJECT

public:
    explicit CSheetTabWidget(QWidget* parent = nullptr);
    CSheetTabBar* SheetTabBar() const { return m_tabBar; }

private:
    CSheetTabBar* m_tabBar;
};

// The sheet: the nine pages and OK and Cancel. Run it with exec(); it changes g_settings itself.
class CMyPropertySheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMinTabWidth = 60;

    explicit CMyPropertySheet(QWidget* parent = nullptr);
    ~CMyPropertySheet() override;

    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    CPropertyPage* GetPage(int index) const;
    int GetActiveIndex() const;
    void SetActivePage(int index);
    CSheetTabWidget* GetTabControl() const { return m_tabs; }

    // OK: stores every page that was shown, in page order, then closes the sheet.
    void accept() override;

    CMyPropertyPage0 m_page0;
    CMyPropertyPage1 m_page1;
    CMyPropertyPage2 m_page2;
    CMyPropertyPage3 m_page3;
    CMyPropertyPage4 m_page4;
    CMyPropertyPage5 m_page5;
    CMyPropertyPage6 m_page6;
    CMyPropertyPage7 m_page7;
    CSoundPage m_page8;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();

    std::vector<CPropertyPage*> m_pages;
    CSheetTabWidget* m_tabs;
    QPushButton* m_btnOk;
    QPushButton* m_btnCancel;
    bool m_bInitialised = false;
};
