#include "AboutDlg.h"
#include "AudioSettings.h"
#include "HelpWindow.h"
#include "HyperlinkLabel.h"
#include "QuilletResources.h"
#include "SettingsSheet.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

template <class T = QWidget> T* Control(const QWidget* parent, int id) {
    return parent->findChild<T*>(QString::number(id));
}

// The sheet over default settings; the folder picker answers from a queue and records its calls.
class SettingsSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitQuilletResources();
        g_settings.LoadFrom(TempDir().File("none.ini"));
        g_settings.m_szTempPath = folder.Path() + "not/yet/made/";
        previous =
            CMyPropertyPage0::SetFolderChooser([this](QWidget*, const QString& title, const QString& start) {
                chooserCalls.push_back(title + " @ " + start);
                const std::optional<QString> answer = answers.empty() ? std::nullopt : answers.front();
                if (!answers.empty())
                    answers.erase(answers.begin());
                return answer;
            });
        sheet.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    }
    void TearDown() override {
        CMyPropertyPage0::SetFolderChooser(previous);
        g_settings = saved;
    }
    void Click(int page, int id) {
        auto* button = Control<QAbstractButton>(sheet.GetPage(page), id);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
    }
    QComboBox* List(int page, int id) {
        sheet.SetActivePage(page);
        return Control<QComboBox>(sheet.GetPage(page), id);
    }
    void Ok() { QTest::mouseClick(Control<QPushButton>(&sheet, IDOK), Qt::LeftButton); }

    CAudioSettings saved = g_settings;
    TempDir folder;
    CMyPropertyPage0::FolderChooser previous;
    std::vector<std::optional<QString>> answers;
    std::vector<QString> chooserCalls;
    MessageRecorder messages;
    CMyPropertySheet sheet;
};

} // namespace

TEST_F(SettingsSheetTest, FoldersAreChosenWithOneTrailingSlashAndStoredOnOk) {
    // Paths the settings cannot keep are refused; the root stays a single slash; a cancelled picker
    // changes nothing.
    answers = {QString("/media/music"), "/" + QString(1022, 'a'), QString("/tmp/two\nlines"), QString("/")};
    auto* output = Control<QLineEdit>(sheet.GetPage(0), IDC_EDIT_OUTPUT_PATH);
    EXPECT_FALSE(output->isEnabled());
    Click(0, IDC_RADIO_CUSTOM);
    EXPECT_TRUE(output->isEnabled());
    Click(0, IDC_BROWSE_OUTPUT_PATH);
    EXPECT_EQ(output->text(), "/media/music/");
    for (int i = 0; i < 4; ++i)
        Click(0, IDC_BROWSE_TEMP_PATH);
    ASSERT_EQ(messages.Count(), 2u);
    EXPECT_NE(messages.Texts()[0].find("too long (1024 characters)"), std::string::npos)
        << messages.Texts()[0];
    EXPECT_NE(messages.Texts()[1].find("line break"), std::string::npos) << messages.Texts()[1];
    EXPECT_EQ(g_settings.m_nOutputPathType, 0) << "stored before OK";
    Ok();
    EXPECT_EQ(g_settings.m_nOutputPathType, 1);
    EXPECT_EQ(g_settings.m_szOutputPath.str(), "/media/music/");
    EXPECT_EQ(g_settings.m_szTempPath.str(), "/");
    // The picker starts at the field's folder, or at its nearest parent that exists.
    EXPECT_EQ(chooserCalls[1].toStdString(), "Select output videos folder @ " + folder.Path());
}

TEST_F(SettingsSheetTest, PagesAreReadWhenFirstShownAndStoreTheirChoicesOnOk) {
    for (int i = 1; i < 5; ++i)
        EXPECT_FALSE(sheet.GetPage(i)->IsInitialised()) << "page " << i << " was read before it was shown";
    // Values no list item stands for: a page that stored its lists unseen would change them.
    g_settings.m_nOggModeIndex = 99;
    g_settings.m_nWmaBitrateIndex = 42;
    g_settings.m_nMp3BitrateIndex = 10;
    g_settings.m_nMp3VbrBitrateIndex = 11;
    QComboBox* vbr = List(1, IDC_MP3_VBR_QUALITY);
    QComboBox* max = List(1, IDC_MP3_MAX_BITRATE);
    EXPECT_EQ(List(1, IDC_MP3_BITRATE)->currentText(), "192 kbps");
    EXPECT_FALSE(max->isEnabled());
    vbr->setCurrentIndex(vbr->findText("3-Good"));
    EXPECT_TRUE(max->isEnabled());
    EXPECT_EQ(max->currentText(), "224 kbps");
    List(1, IDC_MP3_CHANNEL)->setCurrentIndex(3);
    List(2, IDC_WAV_SAMPLE_RATE)->setCurrentIndex(7);
    Click(2, IDC_WAV_MONO);
    Click(2, IDC_WAV_16BIT);
    EXPECT_TRUE(Control<QRadioButton>(sheet.GetPage(2), IDC_WAV_MONO)->isChecked())
        << "the groups are independent";
    Ok();
    EXPECT_EQ(g_settings.m_nMp3ChannelIndex, 3);
    EXPECT_EQ(g_settings.m_nMp3VbrQualityIndex, 4);
    EXPECT_EQ(g_settings.m_nMp3VbrBitrateIndex, 11);
    EXPECT_EQ(g_settings.GetWavChannels(), 1);
    EXPECT_EQ(g_settings.GetWavBytesPerSample(), 2);
    EXPECT_EQ(g_settings.GetWavSampleRate(), 44100);
    EXPECT_EQ(g_settings.m_nOggModeIndex, 99);
    EXPECT_EQ(g_settings.m_nWmaBitrateIndex, 42);
}

// The Sound page: a preset target fills the value, "Other" takes the typed one, the ceiling only counts
// with a target; a fade length that is no number keeps the sheet open on the page.
TEST_F(SettingsSheetTest, SoundPageStoresTargetsAndTypedFades) {
    g_settings.m_sound = SoundOptions{};
    QComboBox* loudness = List(8, IDC_SOUND_LOUDNESS);
    auto* target = Control<QDoubleSpinBox>(sheet.GetPage(8), IDC_SOUND_TARGET);
    auto* peak = Control<QDoubleSpinBox>(sheet.GetPage(8), IDC_SOUND_TRUE_PEAK);
    EXPECT_EQ(loudness->currentText(), "Off");
    EXPECT_FALSE(peak->isEnabled());
    loudness->setCurrentIndex(3);
    EXPECT_EQ(target->value(), -23.0);
    EXPECT_FALSE(target->isEnabled());
    loudness->setCurrentIndex(CSoundPage::kOtherTarget);
    target->setValue(-19.5);
    peak->setValue(-2);
    List(8, IDC_SOUND_FADE_IN)->setEditText("1000 ms");
    List(8, IDC_SOUND_FADE_OUT)->setEditText("soon");
    Ok();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.GetActiveIndex(), 8);
    EXPECT_FALSE(g_settings.m_sound.normalize) << "stored before the page was right";
    List(8, IDC_SOUND_FADE_OUT)->setEditText("250");
    Ok();
    const SoundOptions& s = g_settings.m_sound;
    EXPECT_TRUE(s.normalize);
    EXPECT_EQ(s.targetLufs, -19.5);
    EXPECT_EQ(s.truePeakDbtp, -2.0);
    EXPECT_EQ(s.fadeInMs, 1000);
    EXPECT_EQ(s.fadeOutMs, 250);
}

TEST_F(SettingsSheetTest, EscapeStoresNothingButEnterConfirms) {
    sheet.hide();
    const CAudioSettings before = g_settings;
    for (int way : {1, 3}) {
        answers = {QString("/elsewhere")};
        CMyPropertySheet s;
        QTimer::singleShot(0, &s, [&] {
            Control<QAbstractButton>(s.GetPage(0), IDC_BROWSE_TEMP_PATH)->click();
            s.SetActivePage(4);
            Control<QComboBox>(s.GetPage(4), IDC_WMA_BITRATE)->setCurrentIndex(9);
            if (way == 1)
                QTest::keyClick(&s, Qt::Key_Escape);
            else
                QTest::keyClick(Control<QPushButton>(&s, IDOK), Qt::Key_Return);
        });
        EXPECT_EQ(s.exec(), way == 3 ? QDialog::Accepted : QDialog::Rejected) << way;
        EXPECT_EQ(g_settings.GetWmaBitrate(), way == 3 ? 160000 : before.GetWmaBitrate()) << way;
        EXPECT_EQ(g_settings.m_szTempPath.str(), way == 3 ? "/elsewhere/" : before.m_szTempPath.str()) << way;
    }
}

// The About box's links lead somewhere real: an address the configuration names, or, where it names one
// in a domain reserved for examples, a help page that is installed.
TEST(AboutDlg, LinksLeadSomewhereReal) {
    SetAppDirectoryForTesting(QUILLET_BIN_DIR);
    CAboutDlg dlg;
    for (const CHyperlinkLabel* link : {dlg.m_linkHomepage, dlg.m_linkSupport}) {
        const QUrl url(link->GetURL());
        EXPECT_FALSE(url.toString().contains("example")) << url.toString().toStdString();
        EXPECT_TRUE(!url.isLocalFile() || QFile::exists(url.toLocalFile())) << url.toString().toStdString();
    }
    SetAppDirectoryForTesting("");
}

// Every link between the pages names a page that exists, and every #anchor a name on that page.
TEST(HelpWindow, NoHelpPageHasABrokenLink) {
    const QString folder = QStringLiteral(QUILLET_BIN_DIR "help/");
    const QStringList pages = QDir(folder).entryList({"*.htm"}, QDir::Files);
    ASSERT_GE(pages.size(), 7);
    static const QRegularExpression href(R"re(href="([^"#:]*)(#([^"]+))?")re");
    int links = 0;
    for (const QString& page : pages) {
        const QString text = QString::fromStdString(ReadFileText((folder + page).toStdString()));
        for (auto it = href.globalMatch(text); it.hasNext(); ++links) {
            const auto m = it.next();
            const QString target = folder + (m.captured(1).isEmpty() ? page : m.captured(1));
            ASSERT_TRUE(QFile::exists(target)) << page.toStdString() << " -> " << target.toStdString();
            EXPECT_TRUE(!m.hasCaptured(3) || QString::fromStdString(ReadFileText(target.toStdString()))
                                                 .contains("name=\"" + m.captured(3) + "\""))
                << page.toStdString() << " -> " << m.captured(0).toStdString();
        }
    }
    EXPECT_GT(links, 40);
    // Without the help pages: a message that tells where they should be, and no window.
    MessageRecorder messages;
    TempDir empty;
    SetAppDirectoryForTesting(empty.Path());
    ShowHelp(nullptr);
    SetAppDirectoryForTesting("");
    EXPECT_EQ(GetHelpWindow(), nullptr);
    EXPECT_NE(messages.Texts().at(0).find(empty.Path() + "help/Overview.htm"), std::string::npos);
}
