#include "AboutDlg.h"

#include "AppConfig.h"
#include "HyperlinkLabel.h"
#include "QuilletResources.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

// The version comes from app.ini of the program directory, cut to nine characters; the links open the
// product page and a mail to support.
TEST(AboutDlg, ShowsTheVersionOfTheProgramDirectoryAndOpensItsLinks) {
    InitQuilletResources();
    TempDir dir;
    SetAppDirectoryForTesting(dir.Path());
    for (const auto& [ini, expected] : {std::pair{"", "Quillet "},
                                        {"[main]\nAppVer=1.2.3-beta45\n", "Quillet 1.2.3-bet"},
                                        {"[other]\nAppVer=9\n[main]\nName=Quillet\n", "Quillet "}}) {
        WriteFileText(dir.File("app.ini"), ini);
        CAboutDlg dlg;
        EXPECT_EQ(dlg.findChild<QLabel*>(QString::number(IDC_VERSION))->text(), expected);
    }
    SetAppDirectoryForTesting("");
    std::vector<QUrl> opened;
    auto previous = CHyperlinkLabel::SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    CAboutDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    for (int id : {IDC_HOMEPAGE_LINK, IDC_SUPPORT_LINK}) {
        auto* link = dlg.findChild<CHyperlinkLabel*>(QString::number(id));
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    }
    CHyperlinkLabel::SetUrlOpener(previous);
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl(kHomepageUrl), QUrl(kSupportAddress)}));
    EXPECT_EQ(opened.back().scheme(), "mailto");
}
