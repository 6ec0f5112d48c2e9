#include "SettingsSheet.h"

#include "AudioSettings.h"
#include "DialogUnits.h"
#include "ImageButton.h"
#include "MessageService.h"
#include "Skin.h"
#include "SystemHelpers.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <unistd.h>

namespace {

constexpr int kBrowseIconId = 147;

// Rows of the list pages, in dialog units: label on the left, list on the right.
constexpr int kLabelX = 14;
constexpr int kLabelWidth = 72;
constexpr int kListX = 88;
constexpr int kListWidth = 116;
constexpr int kListHeight = 12;

QString Id(int id) {
    return QString::number(id);
}

QStringList Kbps(std::initializer_list<int> values) {
    QStringList items;
    for (int v : values)
        items << QStringLiteral("%1 kbps").arg(v);
    return items;
}

QString HomeFolder() {
    return QString::fromStdString(CAudioSettings::HomeFolder());
}

// The folder the picker opens at: the edit's folder, or its nearest existing parent, or home.
QString StartFolder(const QString& current) {
    QString path = current;
    while (!path.isEmpty() && path != QLatin1String("/")) {
        if (DirectoryExists(path.toStdString()))
            return path;
        while (path.endsWith(u'/'))
            path.chop(1);
        path = path.left(path.lastIndexOf(u'/') + 1);
    }
    return HomeFolder();
}

std::optional<QString> QtFolderChooser(QWidget* owner, const QString& title, const QString& start) {
    const QString chosen = QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen;
}

CMyPropertyPage0::FolderChooser& Chooser() {
    static CMyPropertyPage0::FolderChooser chooser;
    return chooser;
}

} // namespace

QStringList Mp3ChannelItems() {
    return {"Stereo", "Joined-Stereo", "Dual-channel", "Mono"};
}

QStringList Mp3BitrateItems() {
    return Kbps({32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320});
}

QStringList Mp3QualityItems() {
    return {"Normal", "Low", "High", "Voice"};
}

QStringList Mp3VbrQualityItems() {
    return {"None",  "0-Best",     "1-Almost best", "2-Very good",   "3-Good",  "4-Average",
            "5-Low", "6-Very Low", "7-Poor",        "8-Even poorer", "9-Lowest"};
}

QStringList WavSampleRateItems() {
    return {"8000 Hz",  "11025 Hz", "12000 Hz", "16000 Hz", "22050 Hz",
            "24000 Hz", "32000 Hz", "44100 Hz", "48000 Hz"};
}

QStringList OggBitrateItems() {
    return QStringList{"Default"} + Kbps({32, 40, 48, 64, 80, 96, 128, 160, 196, 256, 350});
}

QStringList OggModeItems() {
    return {"Default (Mode B)",   "Mode A (~128 kbps)", "Mode B (~160 kbps)",
            "Mode C (~192 kbps)", "Mode D (~256 kbps)", "Mode E (~350 kbps)"};
}

QStringList WmaBitrateItems() {
    return {"22 KBit/s", "32 KBit/s", "36 KBit/s", "40 KBit/s",  "48 KBit/s",
            "64 KBit/s", "80 kBit/s", "96 kBit/s", "128 kBit/s", "160 kBit/s"};
}

// ---------------------------------------------------------------------------------------------------
// CPropertyPage

CPropertyPage::CPropertyPage(int templateId, const QString& title, QWidget* parent)
    : QWidget(parent), m_font(DialogFont()), m_nTemplateId(templateId), m_strTitle(title) {
    setObjectName(Id(templateId));
    setFont(m_font);
    setFixedSize(DluSizeToPixels(m_font, kWidthDlu, kHeightDlu));
}

void CPropertyPage::Activate() {
    if (m_bInitialised)
        return;
    m_bInitialised = true;
    OnInitDialog();
}

void CPropertyPage::Place(QWidget* control, int x, int y, int w, int h) {
    control->setGeometry(DluToPixels(m_font, x, y, w, h));
}

QWidget* CPropertyPage::AddLabel(const QString& text, int x, int y, int w) {
    auto* label = new QLabel(text, this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Place(label, x, y, w, 10);
    return label;
}

QComboBox* CPropertyPage::AddList(int id, const QStringList& items, int x, int y, int w) {
    auto* list = new QComboBox(this);
    list->setObjectName(Id(id));
    list->addItems(items);
    list->setCurrentIndex(-1);
    list->setMaxVisibleItems(static_cast<int>(items.size()));
    Place(list, x, y, w, kListHeight);
    return list;
}

QComboBox* CPropertyPage::AddLabelledList(int id, const QString& label, const QStringList& items, int y) {
    QWidget* text = AddLabel(label, kLabelX, y + 1, kLabelWidth);
    QComboBox* list = AddList(id, items, kListX, y, kListWidth);
    if (auto* l = qobject_cast<QLabel*>(text))
        l->setBuddy(list);
    return list;
}

QRadioButton* CPropertyPage::AddRadio(int id, const QString& text, int x, int y, int w) {
    auto* radio = new QRadioButton(text, this);
    radio->setObjectName(Id(id));
    Place(radio, x, y, w, 10);
    return radio;
}

void CPropertyPage::SelectIndex(QComboBox* list, int index) {
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void CPropertyPage::StoreIndex(const QComboBox* list, int& setting) {
    if (list->currentIndex() >= 0)
        setting = list->currentIndex();
}

void CPropertyPage::SetRadioIndex(QButtonGroup* group, int index) {
    QAbstractButton* button = group->button(index);
    if (button) {
        button->setChecked(true);
        return;
    }
    // An exclusive group never unchecks its last checked button by itself.
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons())
        b->setChecked(false);
    group->setExclusive(true);
}

// ---------------------------------------------------------------------------------------------------
// General

CMyPropertyPage0::CMyPropertyPage0(QWidget* parent) : CPropertyPage(IDD, QStringLiteral("General"), parent) {
    auto* outputGroup = new QGroupBox(QStringLiteral("  Output directory    "), this);
    Place(outputGroup, 7, 3, 204, 50);
    auto* same = AddRadio(IDC_RADIO_SAME_AS_SOURCE, QStringLiteral("The same as source file"), 16, 16, 150);
    auto* custom = AddRadio(IDC_RADIO_CUSTOM, QStringLiteral("Custom"), 16, 33, 50);
    m_radios = new QButtonGroup(this);
    m_radios->addButton(same, 0);
    m_radios->addButton(custom, 1);

    m_editOutput = new QLineEdit(this);
    m_editOutput->setObjectName(Id(IDC_EDIT_OUTPUT_PATH));
    m_editOutput->setReadOnly(true);
    Place(m_editOutput, 68, 32, 116, 12);
    m_btnBrowseOutput = new CImageButton(this);
    m_btnBrowseOutput->setObjectName(Id(IDC_BROWSE_OUTPUT_PATH));
    Place(m_btnBrowseOutput, 187, 32, 16, 12);

    auto* tempGroup = new QGroupBox(QStringLiteral("Temporary directory"), this);
    Place(tempGroup, 7, 57, 204, 33);
    m_editTemp = new QLineEdit(this);
    m_editTemp->setObjectName(Id(IDC_EDIT_TEMP_PATH));
    m_editTemp->setReadOnly(true);
    Place(m_editTemp, 16, 71, 168, 12);
    m_btnBrowseTemp = new CImageButton(this);
    m_btnBrowseTemp->setObjectName(Id(IDC_BROWSE_TEMP_PATH));
    Place(m_btnBrowseTemp, 187, 71, 16, 12);

    // The group boxes stand behind their controls.
    outputGroup->lower();
    tempGroup->lower();

    for (CImageButton* b : {m_btnBrowseOutput, m_btnBrowseTemp})
        b->setAutoDefault(false);
    // Buttons with a picture only: their tooltips are their names.
    m_btnBrowseOutput->setToolTip(QStringLiteral("Choose the output folder"));
    m_btnBrowseTemp->setToolTip(QStringLiteral("Choose the temporary folder"));
    for (CImageButton* b : {m_btnBrowseOutput, m_btnBrowseTemp})
        b->setAccessibleName(b->toolTip());

    connect(same, &QRadioButton::clicked, this, &CMyPropertyPage0::OnRadioSameAsSource);
    connect(custom, &QRadioButton::clicked, this, &CMyPropertyPage0::OnRadioCustom);
    connect(m_btnBrowseOutput, &QPushButton::clicked, this, &CMyPropertyPage0::OnBrowseOutputPath);
    connect(m_btnBrowseTemp, &QPushButton::clicked, this, &CMyPropertyPage0::OnBrowseTempPath);
}

CMyPropertyPage0::FolderChooser CMyPropertyPage0::SetFolderChooser(FolderChooser chooser) {
    std::swap(Chooser(), chooser);
    return chooser;
}

bool CMyPropertyPage0::OnInitDialog() {
    // The browse buttons draw themselves.
    ExemptFromSkin(m_btnBrowseOutput);
    ExemptFromSkin(m_btnBrowseTemp);

    m_nOutputPathType = g_settings.m_nOutputPathType;
    m_strOutputPath = QString::fromStdString(g_settings.m_szOutputPath.str());
    m_strTempPath = QString::fromStdString(g_settings.m_szTempPath.str());
    if (m_nOutputPathType != 1)
        EnableCustomPath(false);

    for (CImageButton* b : {m_btnBrowseOutput, m_btnBrowseTemp}) {
        b->SetIcon(kBrowseIconId);
        b->DrawTransparent(true);
    }
    DoDataExchange(false);
    return true;
}

bool CMyPropertyPage0::OnApply() {
    DoDataExchange(true);
    if (m_nOutputPathType == 0 || m_nOutputPathType == 1)
        g_settings.m_nOutputPathType = m_nOutputPathType;
    g_settings.m_szOutputPath = m_strOutputPath.toStdString();
    g_settings.m_szTempPath = m_strTempPath.toStdString();
    return true;
}

void CMyPropertyPage0::DoDataExchange(bool saveAndValidate) {
    if (saveAndValidate) {
        m_nOutputPathType = m_radios->checkedId();
        m_strOutputPath = m_editOutput->text();
        m_strTempPath = m_editTemp->text();
        return;
    }
    SetRadioIndex(m_radios, m_nOutputPathType);
    // No length limit on the edits: a limit counts UTF-16 units and would cut a path the settings
    // (which count characters) can keep.
    m_editOutput->setText(m_strOutputPath);
    m_editTemp->setText(m_strTempPath);
}

void CMyPropertyPage0::EnableCustomPath(bool enable) {
    m_editOutput->setEnabled(enable);
    m_btnBrowseOutput->setEnabled(enable);
}

void CMyPropertyPage0::OnRadioSameAsSource() {
    EnableCustomPath(false);
}

void CMyPropertyPage0::OnRadioCustom() {
    EnableCustomPath(true);
}

std::optional<QString> CMyPropertyPage0::BrowseFolder(const QString& current) {
    const FolderChooser& chooser = Chooser();
    const std::optional<QString> chosen = chooser ? chooser(this, kBrowseTitle, StartFolder(current))
                                                  : QtFolderChooser(this, kBrowseTitle, StartFolder(current));
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    QString path = *chosen;
    if (!path.endsWith(u'/'))
        path += u'/';
    // The settings file keeps one path per line.
    if (path.contains(u'\n') || path.contains(u'\r')) {
        ShowMessage("The name of the chosen folder contains a line break, which Quillet cannot keep in its "
                    "settings.\nPlease choose another folder.",
                    MsgButtons::Ok, this, MsgIcon::Warning);
        return std::nullopt;
    }
    const auto chars = static_cast<size_t>(path.toUcs4().size());
    if (chars > CAudioSettings::kPathChars) {
        ShowMessage("The path of the chosen folder is too long (" + std::to_string(chars) +
                        " characters).\nQuillet keeps folder paths of at most " +
                        std::to_string(CAudioSettings::kPathChars) +
                        " characters; please choose a folder with a shorter path.",
                    MsgButtons::Ok, this, MsgIcon::Warning);
        return std::nullopt;
    }
    return path;
}

void CMyPropertyPage0::OnBrowseOutputPath() {
    DoDataExchange(true);
    if (const auto path = BrowseFolder(m_strOutputPath)) {
        m_strOutputPath = *path;
        DoDataExchange(false);
    }
}

void CMyPropertyPage0::OnBrowseTempPath() {
    DoDataExchange(true);
    if (const auto path = BrowseFolder(m_strTempPath)) {
        m_strTempPath = *path;
        DoDataExchange(false);
    }
}

// ---------------------------------------------------------------------------------------------------
// mp3

CMyPropertyPage1::CMyPropertyPage1(QWidget* parent) : CPropertyPage(IDD, QStringLiteral("mp3"), parent) {
    m_comboChannel = AddLabelledList(IDC_MP3_CHANNEL, QStringLiteral("Channel"), Mp3ChannelItems(), 8);
    m_comboBitrate = AddLabelledList(IDC_MP3_BITRATE, QStringLiteral("Bitrate"), Mp3BitrateItems(), 24);
    m_comboQuality = AddLabelledList(IDC_MP3_QUALITY, QStringLiteral("Quality"), Mp3QualityItems(), 40);
    m_comboVbrQuality =
        AddLabelledList(IDC_MP3_VBR_QUALITY, QStringLiteral("VBR quality"), Mp3VbrQualityItems(), 60);
    m_comboMaxBitrate =
        AddLabelledList(IDC_MP3_MAX_BITRATE, QStringLiteral("Max bitrate"), Mp3BitrateItems(), 76);
    connect(m_comboVbrQuality, &QComboBox::currentIndexChanged, this, &CMyPropertyPage1::OnVbrQualityChange);
}

bool CMyPropertyPage1::OnInitDialog() {
    SelectIndex(m_comboChannel, g_settings.m_nMp3ChannelIndex);
    SelectIndex(m_comboBitrate, g_settings.m_nMp3BitrateIndex);
    SelectIndex(m_comboQuality, g_settings.m_nMp3QualityIndex);
    SelectIndex(m_comboVbrQuality, g_settings.m_nMp3VbrQualityIndex);
    SelectIndex(m_comboMaxBitrate, g_settings.m_nMp3VbrBitrateIndex);
    m_comboMaxBitrate->setEnabled(g_settings.m_nMp3VbrQualityIndex != 0);
    return true;
}

void CMyPropertyPage1::OnVbrQualityChange() {
    m_comboMaxBitrate->setEnabled(m_comboVbrQuality->currentIndex() != 0);
}

bool CMyPropertyPage1::OnApply() {
    StoreIndex(m_comboChannel, g_settings.m_nMp3ChannelIndex);
    StoreIndex(m_comboBitrate, g_settings.m_nMp3BitrateIndex);
    StoreIndex(m_comboQuality, g_settings.m_nMp3QualityIndex);
    StoreIndex(m_comboVbrQuality, g_settings.m_nMp3VbrQualityIndex);
    StoreIndex(m_comboMaxBitrate, g_settings.m_nMp3VbrBitrateIndex);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// wav

CMyPropertyPage2::CMyPropertyPage2(QWidget* parent) : CPropertyPage(IDD, QStringLiteral("wav"), parent) {
    AddLabel(QStringLiteral("Number of channels"), 14, 8, 90);
    m_channels = new QButtonGroup(this);
    m_channels->addButton(AddRadio(IDC_WAV_MONO, QStringLiteral("Mono"), 22, 22, 70), 0);
    m_channels->addButton(AddRadio(IDC_WAV_STEREO, QStringLiteral("Stereo"), 22, 35, 70), 1);

    AddLabel(QStringLiteral("Bits per sample"), 116, 8, 90);
    m_bits = new QButtonGroup(this);
    m_bits->addButton(AddRadio(IDC_WAV_8BIT, QStringLiteral("8 bit"), 124, 22, 70), 0);
    m_bits->addButton(AddRadio(IDC_WAV_16BIT, QStringLiteral("16 bit"), 124, 35, 70), 1);

    AddLabel(QStringLiteral("Samples per second"), 14, 56, 90);
    m_comboSampleRate = AddList(IDC_WAV_SAMPLE_RATE, WavSampleRateItems(), 22, 69, 82);
}

bool CMyPropertyPage2::OnInitDialog() {
    SelectIndex(m_comboSampleRate, g_settings.m_nWavSampleIndex);
    SetRadioIndex(m_channels, g_settings.m_nWavChannelIndex);
    SetRadioIndex(m_bits, g_settings.m_nWavBitsIndex);
    return true;
}

bool CMyPropertyPage2::OnApply() {
    StoreIndex(m_comboSampleRate, g_settings.m_nWavSampleIndex);
    if (m_channels->checkedId() >= 0)
        g_settings.m_nWavChannelIndex = m_channels->checkedId();
    if (m_bits->checkedId() >= 0)
        g_settings.m_nWavBitsIndex = m_bits->checkedId();
    return true;
}

// ---------------------------------------------------------------------------------------------------
// ogg

CMyPropertyPage3::CMyPropertyPage3(QWidget* parent) : CPropertyPage(IDD, QStringLiteral("ogg"), parent) {
    m_comboMinBitrate =
        AddLabelledList(IDC_OGG_MIN_BITRATE, QStringLiteral("Minimum bitrate"), OggBitrateItems(), 8);
    m_comboNominalBitrate =
        AddLabelledList(IDC_OGG_NOMINAL_BITRATE, QStringLiteral("Nominal bitrate"), OggBitrateItems(), 24);
    m_comboMaxBitrate =
        AddLabelledList(IDC_OGG_MAX_BITRATE, QStringLiteral("Maximum bitrate"), OggBitrateItems(), 40);
    m_comboMode = AddLabelledList(IDC_OGG_MODE, QStringLiteral("Mode"), OggModeItems(), 60);
}

bool CMyPropertyPage3::OnInitDialog() {
    SelectIndex(m_comboMinBitrate, g_settings.m_nOggMinBitrateIndex);
    SelectIndex(m_comboNominalBitrate, g_settings.m_nOggNominalBitrateIndex);
    SelectIndex(m_comboMaxBitrate, g_settings.m_nOggMaxBitrateIndex);
    SelectIndex(m_comboMode, g_settings.m_nOggModeIndex);
    return true;
}

bool CMyPropertyPage3::OnApply() {
    StoreIndex(m_comboMinBitrate, g_settings.m_nOggMinBitrateIndex);
    StoreIndex(m_comboNominalBitrate, g_settings.m_nOggNominalBitrateIndex);
    StoreIndex(m_comboMaxBitrate, g_settings.m_nOggMaxBitrateIndex);
    StoreIndex(m_comboMode, g_settings.m_nOggModeIndex);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// wma

CMyPropertyPage4::CMyPropertyPage4(QWidget* parent) : CPropertyPage(IDD, QStringLiteral("wma"), parent) {
    m_comboBitrate = AddLabelledList(IDC_WMA_BITRATE, QStringLiteral("Bitrate"), WmaBitrateItems(), 8);
}

bool CMyPropertyPage4::OnInitDialog() {
    SelectIndex(m_comboBitrate, g_settings.m_nWmaBitrateIndex);
    return true;
}

bool CMyPropertyPage4::OnApply() {
    StoreIndex(m_comboBitrate, g_settings.m_nWmaBitrateIndex);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// The sheet

void CSheetTabBar::SetMinTabWidth(int pixels) {
    m_nMinTabWidth = pixels;
    // Lays the tabs out again (the tab bar keeps their sizes until something it knows changes).
    setElideMode(elideMode());
}

QSize CSheetTabBar::tabSizeHint(int index) const {
    QSize size = QTabBar::tabSizeHint(index);
    size.setWidth(std::max(size.width(), m_nMinTabWidth));
    return size;
}

QSize CSheetTabBar::minimumTabSizeHint(int index) const {
    QSize size = QTabBar::minimumTabSizeHint(index);
    size.setWidth(std::max(size.width(), m_nMinTabWidth));
    return size;
}

CSheetTabWidget::CSheetTabWidget(QWidget* parent) : QTabWidget(parent), m_tabBar(new CSheetTabBar(this)) {
    setTabBar(m_tabBar);
}

CMyPropertySheet::CMyPropertySheet(QWidget* parent)
    : QDialog(parent), m_page0(nullptr), m_page1(nullptr), m_page2(nullptr), m_page3(nullptr),
      m_page4(nullptr), m_page5(nullptr), m_page6(nullptr), m_page7(nullptr),
      m_page8(nullptr), m_pages{&m_page0, &m_page1, &m_page2, &m_page3, &m_page4,
                                &m_page5, &m_page6, &m_page7, &m_page8},
      m_tabs(new CSheetTabWidget(this)), m_btnOk(new QPushButton(QStringLiteral("OK"), this)),
      m_btnCancel(new QPushButton(QStringLiteral("Cancel"), this)) {
    const QFont font = DialogFont();
    setFont(font);
    setWindowTitle(QStringLiteral("Property Sheet"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    for (CPropertyPage* page : m_pages)
        m_tabs->addTab(page, page->Title());
    m_tabs->setCurrentIndex(0);
    m_tabs->setDocumentMode(false);
    m_tabs->setUsesScrollButtons(false);

    m_btnOk->setObjectName(Id(IDOK));
    m_btnCancel->setObjectName(Id(IDCANCEL));
    const QSize buttonSize = DluSizeToPixels(font, 50, 14);
    for (QPushButton* b : {m_btnOk, m_btnCancel})
        b->setFixedSize(buttonSize);
    m_btnOk->setDefault(true);
    m_btnCancel->setAutoDefault(false);

    // The frame around the tabs keeps its dialog-unit margins whatever size the skin gives the tabs.
    const QSize margin = DluSizeToPixels(font, 7, 7);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(DluSizeToPixels(font, 4, 0).width());
    buttons->addStretch();
    buttons->addWidget(m_btnOk);
    buttons->addWidget(m_btnCancel);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(margin.width(), margin.height(), margin.width(), margin.height());
    frame->setSpacing(margin.height());
    frame->addWidget(m_tabs);
    frame->addLayout(buttons);
    frame->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_btnOk, &QPushButton::clicked, this, &CMyPropertySheet::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CMyPropertySheet::reject);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (m_bInitialised && index >= 0)
            m_pages[static_cast<size_t>(index)]->Activate();
    });
}

CMyPropertySheet::~CMyPropertySheet() {
    // The pages are members and leave the tabs one by one as they are destroyed; the tabs' reports
    // of a new current page must not reach this half-destroyed sheet.
    disconnect(m_tabs, nullptr, this, nullptr);
}

CPropertyPage* CMyPropertySheet::GetPage(int index) const {
    return index >= 0 && index < GetPageCount() ? m_pages[static_cast<size_t>(index)] : nullptr;
}

int CMyPropertySheet::GetActiveIndex() const {
    return m_tabs->currentIndex();
}

void CMyPropertySheet::SetActivePage(int index) {
    m_tabs->setCurrentIndex(index);
}

void CMyPropertySheet::showEvent(QShowEvent* event) {
    if (!m_bInitialised)
        OnInitDialog();
    QDialog::showEvent(event);
}

void CMyPropertySheet::OnInitDialog() {
    m_bInitialised = true;
    m_tabs->SheetTabBar()->SetMinTabWidth(kMinTabWidth);
    setWindowTitle(QStringLiteral("Settings"));
    m_pages[static_cast<size_t>(m_tabs->currentIndex())]->Activate();
}

void CMyPropertySheet::accept() {
    for (size_t i = 0; i < m_pages.size(); ++i) {
        CPropertyPage* page = m_pages[i];
        if (page->IsInitialised() && !page->OnApply()) {
            SetActivePage(static_cast<int>(i));
            return;
        }
    }
    QDialog::accept();
}
