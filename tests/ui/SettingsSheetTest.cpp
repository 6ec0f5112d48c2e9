#include "SettingsSheet.h"

#include "DialogUnits.h"
#include "ImageButton.h"
#include "QuilletResources.h"
#include "Skin.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Replaces the folder picker while alive: answers from a queue and records what it was asked.
struct StubChooser {
    struct Call {
        QString title;
        QString start;
    };
    std::vector<Call> calls;
    std::vector<std::optional<QString>> answers;
    CMyPropertyPage0::FolderChooser previous;

    StubChooser() {
        previous =
            CMyPropertyPage0::SetFolderChooser([this](QWidget*, const QString& title, const QString& start) {
                calls.push_back({title, start});
                if (answers.empty())
                    return std::optional<QString>();
                auto answer = answers.front();
                answers.erase(answers.begin());
                return answer;
            });
    }
    ~StubChooser() { CMyPropertyPage0::SetFolderChooser(previous); }
};

class SettingsSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitQuilletResources();
        g_settings.m_nOutputPathType = 0;
        g_settings.m_szOutputPath = "/home/someone/AUDIO_OUTPUT/";
        g_settings.m_szTempPath = "/home/someone/.cache/quillet/";
        g_settings.m_nMp3ChannelIndex = 1;
        g_settings.m_nMp3BitrateIndex = 8;
        g_settings.m_nMp3QualityIndex = 0;
        g_settings.m_nMp3VbrQualityIndex = 0;
        g_settings.m_nMp3VbrBitrateIndex = 8;
        g_settings.m_nWavChannelIndex = 1;
        g_settings.m_nWavBitsIndex = 0;
        g_settings.m_nWavSampleIndex = 1;
        g_settings.m_nOggMinBitrateIndex = 7;
        g_settings.m_nOggNominalBitrateIndex = 7;
        g_settings.m_nOggMaxBitrateIndex = 7;
        g_settings.m_nOggModeIndex = 0;
        g_settings.m_nWmaBitrateIndex = 8;
    }

    void Open() {
        sheet.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    }
    QWidget* Page(int i) { return sheet.GetPage(i); }
    QPushButton* Button(int id) { return Control<QPushButton>(&sheet, id); }
    void ClickOk() { QTest::mouseClick(Button(IDOK), Qt::LeftButton); }
    void ClickCancel() { QTest::mouseClick(Button(IDCANCEL), Qt::LeftButton); }
    void Click(QWidget* page, int id) {
        auto* button = Control<QAbstractButton>(page, id);
        ASSERT_NE(button, nullptr) << id;
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
    }
    QLineEdit* Edit(int id) { return Control<QLineEdit>(Page(0), id); }
    QComboBox* List(int page, int id) { return Control<QComboBox>(Page(page), id); }
    void Choose(int page, int id, int index) {
        QComboBox* list = List(page, id);
        ASSERT_NE(list, nullptr) << id;
        list->setCurrentIndex(index);
    }

    SettingsSnapshot snapshot;
    MessageRecorder messages;
    CMyPropertySheet sheet;
};

TEST_F(SettingsSheetTest, OpensOnGeneralWithEveryPageAndOnlyOkAndCancel) {
    EXPECT_EQ(sheet.windowTitle(), "Property Sheet");
    Open();
    EXPECT_EQ(sheet.windowTitle(), "Settings");
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    QTabWidget* tabs = sheet.GetTabControl();
    const QStringList titles{"General", "mp3", "wav", "ogg", "wma", "flac", "opus", "m4a"};
    ASSERT_EQ(tabs->count(), titles.size());
    for (int i = 0; i < titles.size(); ++i) {
        EXPECT_EQ(tabs->tabText(i), titles[i]);
        EXPECT_GE(tabs->tabBar()->tabRect(i).width(), 60) << "tab " << i;
    }
    EXPECT_TRUE(sheet.GetPage(0)->IsInitialised());
    for (int i = 1; i < titles.size(); ++i)
        EXPECT_FALSE(sheet.GetPage(i)->IsInitialised()) << "page " << i << " was read before it was shown";

    QStringList pushButtons;
    for (QPushButton* b : sheet.findChildren<QPushButton*>()) {
        if (!qobject_cast<CImageButton*>(b))
            pushButtons << b->text();
    }
    pushButtons.sort();
    EXPECT_EQ(pushButtons, (QStringList{"Cancel", "OK"}));
    EXPECT_TRUE(Button(IDOK)->isDefault());
}

TEST_F(SettingsSheetTest, EveryControlLiesInsideItsPageShowsItsWholeTextAndNoneOverlap) {
    Open();
    const QSize pageSize = DluSizeToPixels(DialogFont(), CPropertyPage::kWidthDlu, CPropertyPage::kHeightDlu);
    for (int p = 0; p < sheet.GetPageCount(); ++p) {
        QWidget* page = Page(p);
        EXPECT_EQ(page->size(), pageSize);
        QList<QWidget*> controls;
        for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(page->rect().contains(w->geometry()))
                << "page " << p << ": " << w->objectName().toStdString();
            if (!qobject_cast<QGroupBox*>(w))
                controls << w;
            if (qobject_cast<QLabel*>(w) || qobject_cast<QRadioButton*>(w)) {
                EXPECT_GE(w->width(), w->sizeHint().width())
                    << "page " << p << ": text cut in " << w->property("text").toString().toStdString();
            }
        }
        for (int i = 0; i < controls.size(); ++i)
            for (int j = i + 1; j < controls.size(); ++j)
                EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                    << "page " << p << ": " << controls[i]->objectName().toStdString() << " / "
                    << controls[j]->objectName().toStdString();
    }
}

TEST_F(SettingsSheetTest, SameAsSourceGreysTheOutputPathAndCustomEnablesIt) {
    Open();
    EXPECT_TRUE(Control<QRadioButton>(Page(0), IDC_RADIO_SAME_AS_SOURCE)->isChecked());
    EXPECT_EQ(Edit(IDC_EDIT_OUTPUT_PATH)->text(), "/home/someone/AUDIO_OUTPUT/");
    EXPECT_EQ(Edit(IDC_EDIT_TEMP_PATH)->text(), "/home/someone/.cache/quillet/");
    EXPECT_TRUE(Edit(IDC_EDIT_OUTPUT_PATH)->isReadOnly());
    EXPECT_TRUE(Edit(IDC_EDIT_TEMP_PATH)->isReadOnly());
    EXPECT_FALSE(Edit(IDC_EDIT_OUTPUT_PATH)->isEnabled());
    EXPECT_FALSE(Control<CImageButton>(Page(0), IDC_BROWSE_OUTPUT_PATH)->isEnabled());
    EXPECT_TRUE(Edit(IDC_EDIT_TEMP_PATH)->isEnabled());
    EXPECT_TRUE(Control<CImageButton>(Page(0), IDC_BROWSE_TEMP_PATH)->isEnabled());

    Click(Page(0), IDC_RADIO_CUSTOM);
    EXPECT_TRUE(Edit(IDC_EDIT_OUTPUT_PATH)->isEnabled());
    EXPECT_TRUE(Control<CImageButton>(Page(0), IDC_BROWSE_OUTPUT_PATH)->isEnabled());
    Click(Page(0), IDC_RADIO_SAME_AS_SOURCE);
    EXPECT_FALSE(Edit(IDC_EDIT_OUTPUT_PATH)->isEnabled());
    EXPECT_FALSE(Control<CImageButton>(Page(0), IDC_BROWSE_OUTPUT_PATH)->isEnabled());
    EXPECT_EQ(Edit(IDC_EDIT_OUTPUT_PATH)->text(), "/home/someone/AUDIO_OUTPUT/") << "radios change no text";

    // The browse buttons are captionless transparent icon buttons that draw themselves.
    for (int id : {IDC_BROWSE_OUTPUT_PATH, IDC_BROWSE_TEMP_PATH}) {
        auto* button = Control<CImageButton>(Page(0), id);
        EXPECT_TRUE(button->text().isEmpty() && button->IsTransparent() && IsSkinExempt(button)) << id;
        EXPECT_EQ(button->GetIconSize(), QSize(16, 16)) << "icon 147 is missing";
    }
}

TEST_F(SettingsSheetTest, BrowsingThenCancelLeavesTheSettingsUnchanged) {
    StubChooser chooser;
    chooser.answers = {QString("/media/music")};
    Open();
    Click(Page(0), IDC_RADIO_CUSTOM);
    Click(Page(0), IDC_BROWSE_OUTPUT_PATH);
    EXPECT_EQ(Edit(IDC_EDIT_OUTPUT_PATH)->text(), "/media/music/");
    ClickCancel();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
    EXPECT_EQ(g_settings.m_nOutputPathType, 0);
    EXPECT_EQ(g_settings.m_szOutputPath.str(), "/home/someone/AUDIO_OUTPUT/");
}

TEST_F(SettingsSheetTest, BrowsingThenOkStoresTheFolderWithOneTrailingSlash) {
    StubChooser chooser;
    chooser.answers = {QString("/media/music"), QString("/"), QString("/scratch/")};
    Open();
    Click(Page(0), IDC_RADIO_CUSTOM);
    Click(Page(0), IDC_BROWSE_OUTPUT_PATH);
    Click(Page(0), IDC_BROWSE_TEMP_PATH);
    EXPECT_EQ(Edit(IDC_EDIT_TEMP_PATH)->text(), "/") << "the root folder stays a single slash";
    Click(Page(0), IDC_BROWSE_TEMP_PATH);
    ASSERT_EQ(chooser.calls.size(), 3u);
    for (const auto& call : chooser.calls)
        EXPECT_EQ(call.title, "Select output videos folder");
    ClickOk();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(g_settings.m_nOutputPathType, 1);
    EXPECT_EQ(g_settings.m_szOutputPath.str(), "/media/music/");
    EXPECT_EQ(g_settings.m_szTempPath.str(), "/scratch/");
}

TEST_F(SettingsSheetTest, PickerStartsAtTheFieldsFolderOrItsNearestExistingParent) {
    TempDir dir;
    g_settings.m_szTempPath = dir.Path();
    g_settings.m_szOutputPath = dir.Path() + "not/yet/made/";
    g_settings.m_nOutputPathType = 1;
    StubChooser chooser;
    Open();
    // A custom folder chosen before opens checked and enabled.
    EXPECT_TRUE(Control<QRadioButton>(Page(0), IDC_RADIO_CUSTOM)->isChecked());
    EXPECT_TRUE(Edit(IDC_EDIT_OUTPUT_PATH)->isEnabled());
    EXPECT_TRUE(Control<CImageButton>(Page(0), IDC_BROWSE_OUTPUT_PATH)->isEnabled());
    Click(Page(0), IDC_BROWSE_TEMP_PATH);
    Click(Page(0), IDC_BROWSE_OUTPUT_PATH);
    ASSERT_EQ(chooser.calls.size(), 2u);
    EXPECT_EQ(chooser.calls[0].start.toStdString(), dir.Path());
    EXPECT_EQ(chooser.calls[1].start.toStdString(), dir.Path());
}

TEST_F(SettingsSheetTest, CancellingThePickerChangesNothing) {
    StubChooser chooser; // answers nothing: the user cancelled
    g_settings.m_nOutputPathType = 1;
    Open();
    Click(Page(0), IDC_BROWSE_OUTPUT_PATH);
    Click(Page(0), IDC_BROWSE_TEMP_PATH);
    EXPECT_EQ(Edit(IDC_EDIT_OUTPUT_PATH)->text(), "/home/someone/AUDIO_OUTPUT/");
    EXPECT_EQ(Edit(IDC_EDIT_TEMP_PATH)->text(), "/home/someone/.cache/quillet/");
    ClickOk();
    EXPECT_EQ(g_settings.m_szOutputPath.str(), "/home/someone/AUDIO_OUTPUT/");
    EXPECT_EQ(g_settings.m_szTempPath.str(), "/home/someone/.cache/quillet/");
    EXPECT_EQ(messages.Count(), 0u);
}

TEST_F(SettingsSheetTest, FolderPathsTheSettingsCannotKeepAreRefusedWithAMessage) {
    StubChooser chooser;
    const QString tooLong = "/" + QString(1022, 'a'); // 1024 characters with its trailing slash
    chooser.answers = {tooLong, QString("/tmp/two\nlines")};
    Open();
    Click(Page(0), IDC_BROWSE_TEMP_PATH);
    Click(Page(0), IDC_BROWSE_TEMP_PATH);
    EXPECT_EQ(Edit(IDC_EDIT_TEMP_PATH)->text(), "/home/someone/.cache/quillet/");
    ASSERT_EQ(messages.Count(), 2u);
    EXPECT_NE(messages.Texts()[0].find("too long (1024 characters)"), std::string::npos)
        << messages.Texts()[0];
    EXPECT_NE(messages.Texts()[1].find("line break"), std::string::npos) << messages.Texts()[1];
    ClickOk();
    EXPECT_EQ(g_settings.m_szTempPath.str(), "/home/someone/.cache/quillet/");
}

TEST_F(SettingsSheetTest, LongestKeepableAndNonAsciiPathsAreStoredWhole) {
    StubChooser chooser;
    const QString longest = "/" + QString(1021, 'b');     // 1023 characters with the slash
    const QString wide = "/" + QString(600, QChar(0xE9)); // 602 characters, 1203 bytes
    chooser.answers = {longest, wide};
    g_settings.m_nOutputPathType = 1;
    Open();
    Click(Page(0), IDC_BROWSE_OUTPUT_PATH);
    Click(Page(0), IDC_BROWSE_TEMP_PATH);
    ClickOk();
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_EQ(g_settings.m_szOutputPath.str(), (longest + "/").toStdString());
    EXPECT_EQ(g_settings.m_szTempPath.str(), (wide + "/").toStdString());
}

TEST_F(SettingsSheetTest, OkAfterVisitingOnlyGeneralLeavesTheFormatPagesSettingsAlone) {
    // Values no list item stands for: a page that stored its lists would change them.
    g_settings.m_nMp3BitrateIndex = 20;
    g_settings.m_nMp3VbrQualityIndex = -3;
    g_settings.m_nWavSampleIndex = 42;
    g_settings.m_nWavChannelIndex = 7;
    g_settings.m_nOggModeIndex = 99;
    g_settings.m_nOggMinBitrateIndex = 12;
    g_settings.m_nWmaBitrateIndex = 10;
    const CAudioSettings before = g_settings;
    Open();
    ClickOk();
    EXPECT_EQ(g_settings.m_nMp3ChannelIndex, before.m_nMp3ChannelIndex);
    EXPECT_EQ(g_settings.m_nMp3BitrateIndex, 20);
    EXPECT_EQ(g_settings.m_nMp3VbrQualityIndex, -3);
    EXPECT_EQ(g_settings.m_nMp3VbrBitrateIndex, before.m_nMp3VbrBitrateIndex);
    EXPECT_EQ(g_settings.m_nWavSampleIndex, 42);
    EXPECT_EQ(g_settings.m_nWavChannelIndex, 7);
    EXPECT_EQ(g_settings.m_nWavBitsIndex, before.m_nWavBitsIndex);
    EXPECT_EQ(g_settings.m_nOggModeIndex, 99);
    EXPECT_EQ(g_settings.m_nOggMinBitrateIndex, 12);
    EXPECT_EQ(g_settings.m_nWmaBitrateIndex, 10);
}

TEST_F(SettingsSheetTest, VisitedPagesStoreTheirListsOnOk) {
    Open();
    sheet.SetActivePage(1);
    Choose(1, IDC_MP3_CHANNEL, 3);
    Choose(1, IDC_MP3_BITRATE, 13);
    Choose(1, IDC_MP3_QUALITY, 2);
    sheet.SetActivePage(3);
    Choose(3, IDC_OGG_MIN_BITRATE, 0);
    Choose(3, IDC_OGG_NOMINAL_BITRATE, 9);
    Choose(3, IDC_OGG_MAX_BITRATE, 11);
    Choose(3, IDC_OGG_MODE, 5);
    sheet.SetActivePage(4);
    Choose(4, IDC_WMA_BITRATE, 0);
    ClickOk();
    EXPECT_EQ(g_settings.m_nMp3ChannelIndex, 3);
    EXPECT_EQ(g_settings.m_nMp3BitrateIndex, 13);
    EXPECT_EQ(g_settings.GetMp3Bitrate(), 320);
    EXPECT_EQ(g_settings.m_nMp3QualityIndex, 2);
    EXPECT_EQ(g_settings.m_nOggMinBitrateIndex, 0);
    EXPECT_EQ(g_settings.GetOggNominalBitrate(), 196000);
    EXPECT_EQ(g_settings.m_nOggMaxBitrateIndex, 11);
    EXPECT_EQ(g_settings.m_nOggModeIndex, 5);
    EXPECT_EQ(g_settings.GetWmaBitrate(), 22000);
    EXPECT_EQ(g_settings.m_nWavSampleIndex, 1) << "the wav page was never shown";
}

TEST_F(SettingsSheetTest, PagesShowTheStoredSelectionsWhenFirstShown) {
    g_settings.m_nMp3BitrateIndex = 10;
    g_settings.m_nOggNominalBitrateIndex = 9;
    g_settings.m_nWmaBitrateIndex = 6;
    g_settings.m_nMp3VbrQualityIndex = 4;
    Open();
    sheet.SetActivePage(1);
    EXPECT_EQ(List(1, IDC_MP3_BITRATE)->currentText(), "192 kbps");
    EXPECT_EQ(List(1, IDC_MP3_VBR_QUALITY)->currentText(), "3-Good");
    EXPECT_TRUE(List(1, IDC_MP3_MAX_BITRATE)->isEnabled()) << "VBR chosen before enables the maximum";
    EXPECT_EQ(List(1, IDC_MP3_CHANNEL)->currentText(), "Joined-Stereo");
    sheet.SetActivePage(3);
    EXPECT_EQ(List(3, IDC_OGG_NOMINAL_BITRATE)->currentText(), "196 kbps");
    EXPECT_EQ(List(3, IDC_OGG_MAX_BITRATE)->itemText(9), "196 kbps");
    EXPECT_EQ(List(3, IDC_OGG_MIN_BITRATE)->currentText(), "128 kbps");
    sheet.SetActivePage(4);
    EXPECT_EQ(List(4, IDC_WMA_BITRATE)->currentText(), "80 kBit/s");
}

TEST_F(SettingsSheetTest, WavPageReadsAndStoresItsRadioGroupsAndRate) {
    Open();
    sheet.SetActivePage(2);
    QWidget* wav = Page(2);
    EXPECT_FALSE(Control<QRadioButton>(wav, IDC_WAV_MONO)->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(wav, IDC_WAV_STEREO)->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(wav, IDC_WAV_8BIT)->isChecked());
    EXPECT_EQ(List(2, IDC_WAV_SAMPLE_RATE)->currentText(), "11025 Hz");
    Click(wav, IDC_WAV_MONO);
    Click(wav, IDC_WAV_16BIT);
    EXPECT_FALSE(Control<QRadioButton>(wav, IDC_WAV_STEREO)->isChecked()) << "the groups are exclusive";
    EXPECT_TRUE(Control<QRadioButton>(wav, IDC_WAV_MONO)->isChecked()) << "the two groups are independent";
    Choose(2, IDC_WAV_SAMPLE_RATE, 7);
    ClickOk();
    EXPECT_EQ(g_settings.GetWavChannels(), 1);
    EXPECT_EQ(g_settings.GetWavBytesPerSample(), 2);
    EXPECT_EQ(g_settings.GetWavSampleRate(), 44100);
}

TEST_F(SettingsSheetTest, MaxBitrateFollowsVbrQualityAndKeepsItsSelection) {
    g_settings.m_nMp3VbrBitrateIndex = 11;
    Open();
    sheet.SetActivePage(1);
    QComboBox* vbr = List(1, IDC_MP3_VBR_QUALITY);
    QComboBox* max = List(1, IDC_MP3_MAX_BITRATE);
    EXPECT_EQ(vbr->currentText(), "None");
    EXPECT_FALSE(max->isEnabled());
    EXPECT_TRUE(List(1, IDC_MP3_BITRATE)->isEnabled());
    vbr->setCurrentIndex(vbr->findText("3-Good"));
    EXPECT_TRUE(max->isEnabled());
    EXPECT_EQ(max->currentText(), "224 kbps");
    vbr->setCurrentIndex(0);
    EXPECT_FALSE(max->isEnabled());
    EXPECT_EQ(max->currentIndex(), 11);
    EXPECT_TRUE(List(1, IDC_MP3_BITRATE)->isEnabled());
    ClickOk();
    EXPECT_EQ(g_settings.m_nMp3VbrQualityIndex, 0);
    EXPECT_EQ(g_settings.m_nMp3VbrBitrateIndex, 11);
}

TEST_F(SettingsSheetTest, CancelEscapeAndTheCloseBoxStoreNothing) {
    const CAudioSettings before = g_settings;
    StubChooser chooser;
    chooser.answers = {QString("/elsewhere")};
    for (int way = 0; way < 3; ++way) {
        CMyPropertySheet s;
        s.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
        Control<QRadioButton>(s.GetPage(0), IDC_RADIO_CUSTOM)->click();
        Control<CImageButton>(s.GetPage(0), IDC_BROWSE_TEMP_PATH)->click();
        for (int p = 1; p < 5; ++p) {
            s.SetActivePage(p);
            for (QComboBox* list : s.GetPage(p)->findChildren<QComboBox*>())
                list->setCurrentIndex(list->count() - 1 - list->currentIndex() % list->count());
        }
        Control<QRadioButton>(s.GetPage(2), IDC_WAV_MONO)->click();
        if (way == 0)
            QTest::mouseClick(Control<QPushButton>(&s, IDCANCEL), Qt::LeftButton);
        else if (way == 1)
            QTest::keyClick(&s, Qt::Key_Escape);
        else
            s.close();
        EXPECT_FALSE(s.isVisible()) << "way " << way;
        EXPECT_EQ(s.result(), QDialog::Rejected) << "way " << way;
    }
    EXPECT_EQ(g_settings.m_nOutputPathType, before.m_nOutputPathType);
    EXPECT_EQ(g_settings.m_szTempPath.str(), before.m_szTempPath.str());
    EXPECT_EQ(g_settings.m_nMp3BitrateIndex, before.m_nMp3BitrateIndex);
    EXPECT_EQ(g_settings.m_nMp3VbrQualityIndex, before.m_nMp3VbrQualityIndex);
    EXPECT_EQ(g_settings.m_nWavChannelIndex, before.m_nWavChannelIndex);
    EXPECT_EQ(g_settings.m_nWavSampleIndex, before.m_nWavSampleIndex);
    EXPECT_EQ(g_settings.m_nOggNominalBitrateIndex, before.m_nOggNominalBitrateIndex);
    EXPECT_EQ(g_settings.m_nOggModeIndex, before.m_nOggModeIndex);
    EXPECT_EQ(g_settings.m_nWmaBitrateIndex, before.m_nWmaBitrateIndex);
}

TEST_F(SettingsSheetTest, RunsModallyAndEnterConfirms) {
    g_settings.m_nWmaBitrateIndex = 3;
    int result = -1;
    QTimer::singleShot(0, &sheet, [this] {
        sheet.SetActivePage(4);
        List(4, IDC_WMA_BITRATE)->setCurrentIndex(9);
        QTest::keyClick(Button(IDOK), Qt::Key_Return);
    });
    result = sheet.exec();
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(g_settings.GetWmaBitrate(), 160000);
}

// Each list's text agrees with the value the settings derive from the same index.
TEST_F(SettingsSheetTest, ListsAgreeWithTheValuesTheSettingsUse) {
    const QStringList ogg = OggBitrateItems(), wma = WmaBitrateItems();
    ASSERT_EQ(ogg.size(), CAudioSettings::kOggBitrateCount);
    ASSERT_EQ(wma.size(), CAudioSettings::kWmaBitrateCount);
    ASSERT_EQ(Mp3BitrateItems().size(), CAudioSettings::kMp3BitrateCount);
    ASSERT_EQ(WavSampleRateItems().size(), CAudioSettings::kWavSampleRateCount);
    EXPECT_EQ(Mp3VbrQualityItems().size(), 11);
    EXPECT_EQ(ogg.front(), "Default");
    EXPECT_EQ(wma[5], "64 KBit/s"); // the program's own spelling, unlike its neighbours
    for (int i = 0; i < CAudioSettings::kMp3BitrateCount; ++i)
        EXPECT_EQ(Mp3BitrateItems()[i], QString("%1 kbps").arg(CAudioSettings::Mp3BitrateFromIndex(i)));
    for (int i = 0; i < CAudioSettings::kWavSampleRateCount; ++i)
        EXPECT_EQ(WavSampleRateItems()[i], QString("%1 Hz").arg(CAudioSettings::WavSampleRateFromIndex(i)));
    for (int i = 1; i < CAudioSettings::kOggBitrateCount; ++i)
        EXPECT_EQ(ogg[i], QString("%1 kbps").arg(CAudioSettings::OggBitrateFromIndex(i) / 1000));
    for (int i = 0; i < CAudioSettings::kWmaBitrateCount; ++i)
        EXPECT_TRUE(wma[i].startsWith(QString::number(CAudioSettings::WmaBitrateFromIndex(i) / 1000) + " "));
}

} // namespace
