#include "HyperlinkLabel.h"
#include "TestSupport.h"

#include <QTest>
#include <gtest/gtest.h>

// Targets map to what the desktop opens; a link turns visited only once opened, and a failure says why.
TEST(HyperlinkLabel, OpensTargetsAsTheDesktopDoesAndReportsFailures) {
    std::vector<QUrl> opened;
    bool answer = true;
    const auto previous = CHyperlinkLabel::SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return answer;
    });
    MessageRecorder messages;
    TempDir dir;
    WriteFileText(dir.File("Overview.htm"), "<html></html>");
    EXPECT_EQ(CHyperlinkLabel::GotoURL("www.quillet.example", 5), CHyperlinkLabel::kOpened);
    EXPECT_EQ(CHyperlinkLabel::GotoURL(QString::fromStdString(dir.File("Overview.htm")), 5), 33);
    EXPECT_EQ(opened,
              (std::vector<QUrl>{QUrl("http://www.quillet.example"),
                                 QUrl::fromLocalFile(QString::fromStdString(dir.File("Overview.htm")))}));
    EXPECT_EQ(CHyperlinkLabel::GotoURL("", 5), CHyperlinkLabel::kErrFileNotFound);
    EXPECT_EQ(CHyperlinkLabel::GotoURL(QString::fromStdString(dir.File("missing.htm")), 5),
              CHyperlinkLabel::kErrFileNotFound);
    EXPECT_EQ(CHyperlinkLabel::GotoURL(QString::fromStdString(dir.File("no/such/page.htm")), 5),
              CHyperlinkLabel::kErrPathNotFound);
    EXPECT_EQ(opened.size(), 2u) << "missing files never reach the opener";

    QWidget host;
    auto* link = new CHyperlinkLabel("Visit Quillet homepage", &host);
    link->SetURL("mailto:support@quillet.example");
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    answer = false;
    QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    EXPECT_FALSE(link->GetVisited());
    answer = true;
    QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    EXPECT_TRUE(link->GetVisited());
    EXPECT_EQ(opened.back(), QUrl("mailto:support@quillet.example"));
    CHyperlinkLabel::ReportError(99);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"Unable to open hyperlink:\n\nThere is no application "
                                        "associated\nwith the given filename extension.",
                                        "Unable to open hyperlink:\n\nUnknown Error (99) occurred."}));
    CHyperlinkLabel::SetUrlOpener(previous);
}
