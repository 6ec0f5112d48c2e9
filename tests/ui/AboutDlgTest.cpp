#include "AboutDlg.h"

#include "AppConfig.h"
#include "HyperlinkLabel.h"
#include "IniFile.h"
#include "QuilletResources.h"
#include "Skin.h"
#include "SystemHelpers.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class AboutDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitQuilletResources();
        SetAppDirectoryForTesting(dir.Path());
    }
    void TearDown() override { SetAppDirectoryForTesting(""); }
    void WriteVersion(const std::string& version) {
        WriteFileText(dir.File("app.ini"), "[main]\nAppVer=" + version + "\n");
    }
    QString VersionLine(CAboutDlg& dlg) { return Control<QLabel>(&dlg, IDC_VERSION)->text(); }

    TempDir dir;
};

// The version comes from app.ini of the program directory, cut to nine characters; empty without
// the file or the key.
TEST_F(AboutDlgTest, VersionLineReadsAppIniOfTheProgramDirectory) {
    {
        CAboutDlg dlg;
        EXPECT_EQ(VersionLine(dlg), "Quillet ");
    }
    const std::pair<std::string, QString> cases[] = {
        {"[main]\nAppVer=2.4.1\n", "Quillet 2.4.1"},
        {"[main]\nAppVer=1.2.3-beta45\n", "Quillet 1.2.3-bet"},
        {"[other]\nAppVer=9\n[main]\nName=Quillet\n", "Quillet "}};
    for (const auto& [ini, expected] : cases) {
        WriteFileText(dir.File("app.ini"), ini);
        CAboutDlg dlg;
        EXPECT_EQ(VersionLine(dlg), expected);
    }
}

TEST_F(AboutDlgTest, TheBuiltProgramDirectoryHoldsTheProjectVersion) {
    CIniFile ini;
    ASSERT_TRUE(ini.Read(std::string(QUILLET_BIN_DIR) + "app.ini"));
    EXPECT_EQ(ini.Get("main", "AppVer").value_or(""), QUILLET_VERSION);
}

TEST_F(AboutDlgTest, ShowsIconLinksAndOk) {
    CAboutDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "About Quillet");
    EXPECT_EQ(dlg.objectName(), "100");
    ASSERT_FALSE(dlg.m_icon->pixmap().isNull()) << "icon 128 is missing";

    auto* home = Control<CHyperlinkLabel>(&dlg, IDC_HOMEPAGE_LINK);
    auto* support = Control<CHyperlinkLabel>(&dlg, IDC_SUPPORT_LINK);
    ASSERT_NE(home, nullptr);
    ASSERT_NE(support, nullptr);
    EXPECT_EQ(home->text(), "Visit Quillet homepage");
    EXPECT_EQ(support->text(), "Technical Support");
    EXPECT_EQ(home->GetURL(), kHomepageUrl);
    EXPECT_EQ(support->GetURL(), kSupportAddress);
    EXPECT_TRUE(support->GetURL().startsWith("mailto:"));
    EXPECT_EQ(home->GetUnderline(), CHyperlinkLabel::ulAlways);
    EXPECT_EQ(support->GetUnderline(), CHyperlinkLabel::ulAlways);
    EXPECT_TRUE(IsSkinExempt(home));
    EXPECT_TRUE(IsSkinExempt(support));

    QStringList buttons;
    for (QPushButton* b : dlg.findChildren<QPushButton*>())
        buttons << b->text();
    EXPECT_EQ(buttons, QStringList{"OK"});
}

TEST_F(AboutDlgTest, EverythingFitsInsideTheBox) {
    WriteVersion("123456789");
    CAboutDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    for (QWidget* w : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(dlg.rect().contains(w->geometry())) << w->objectName().toStdString();
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->wordWrap() && label->pixmap().isNull()) {
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString() << " is cut";
        }
    }
}

TEST_F(AboutDlgTest, OkAndEnterClose) {
    CAboutDlg dlg;
    QTimer::singleShot(0, &dlg, [&] { QTest::keyClick(&dlg, Qt::Key_Return); });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    CAboutDlg second;
    QTimer::singleShot(0, &second, [&] { QTest::mouseClick(second.m_btnOk, Qt::LeftButton); });
    EXPECT_EQ(second.exec(), QDialog::Accepted);
}

TEST_F(AboutDlgTest, TheHomepageLinkOpensTheProductPage) {
    std::vector<QUrl> opened;
    auto previous = CHyperlinkLabel::SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    CAboutDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    auto* home = Control<CHyperlinkLabel>(&dlg, IDC_HOMEPAGE_LINK);
    QTest::mouseClick(home, Qt::LeftButton, {}, home->rect().center());
    CHyperlinkLabel::SetUrlOpener(previous);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(kHomepageUrl));
}

} // namespace
