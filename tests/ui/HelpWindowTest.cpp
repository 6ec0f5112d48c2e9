#include "HelpWindow.h"

#include "HyperlinkLabel.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

const QString kHelpDir = QStringLiteral(QUILLET_BIN_DIR "help/");

class HelpWindowTest : public ::testing::Test {
protected:
    void SetUp() override { SetAppDirectoryForTesting(QUILLET_BIN_DIR); }
    void TearDown() override {
        delete GetHelpWindow();
        SetAppDirectoryForTesting("");
    }
    CHelpWindow* Open() {
        ShowHelp(nullptr);
        CHelpWindow* w = GetHelpWindow();
        if (w) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        }
        return w;
    }
    static QString Page(const CHelpWindow* w) {
        return QFileInfo(w->CurrentTopic().toLocalFile()).fileName();
    }
    static void Click(CHelpWindow* w, const QString& href) { emit w->Browser()->anchorClicked(QUrl(href)); }

    MessageRecorder messages;
};

TEST_F(HelpWindowTest, OpensOnTheOverviewInAWindowOfItsOwnThatIsReused) {
    CHelpWindow* first = Open();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), "Quillet Help");
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(Page(first), "Overview.htm");
    EXPECT_TRUE(first->Browser()->toPlainText().contains("takes the sound out of a video or audio file"));
    EXPECT_FALSE(first->m_btnBack->isEnabled());
    EXPECT_EQ(messages.Count(), 0u);

    Click(first, "Settings.htm");
    ShowHelp(nullptr);
    EXPECT_EQ(GetHelpWindow(), first);
    EXPECT_EQ(Page(first), "Settings.htm") << "the reader's place is kept";
    first->close();
    EXPECT_TRUE(WaitFor([] { return GetHelpWindow() == nullptr; })) << "a closed help window is released";
    CHelpWindow* second = Open();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Page(second), "Overview.htm");
}

TEST_F(HelpWindowTest, LinksLeadToOtherPagesAndBackForwardAndHomeWork) {
    CHelpWindow* w = Open();
    Click(w, "Preview.htm");
    EXPECT_EQ(Page(w), "Preview.htm");
    EXPECT_TRUE(w->Browser()->toPlainText().contains("Marked Time"));
    Click(w, "Settings.htm#ogg");
    EXPECT_EQ(Page(w), "Settings.htm");
    EXPECT_EQ(w->CurrentTopic().fragment(), "ogg");
    ASSERT_TRUE(w->m_btnBack->isEnabled());
    QTest::mouseClick(w->m_btnBack, Qt::LeftButton);
    EXPECT_EQ(Page(w), "Preview.htm");
    ASSERT_TRUE(w->m_btnForward->isEnabled());
    QTest::mouseClick(w->m_btnForward, Qt::LeftButton);
    EXPECT_EQ(Page(w), "Settings.htm");
    QTest::mouseClick(w->m_btnHome, Qt::LeftButton);
    EXPECT_EQ(Page(w), "Overview.htm");
}

// Web links go to the desktop; a missing page is reported. Either way the reader stays where it is.
TEST_F(HelpWindowTest, LinksThatAreNotPagesLeaveTheReaderWhereItIs) {
    std::vector<QUrl> opened;
    auto previous = CHyperlinkLabel::SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    CHelpWindow* w = Open();
    Click(w, "https://quillet.example.org/faq");
    Click(w, "mailto:someone@example.org");
    CHyperlinkLabel::SetUrlOpener(previous);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl("https://quillet.example.org/faq"));
    EXPECT_EQ(messages.Count(), 0u);
    Click(w, "NoSuchPage.htm");
    EXPECT_EQ(Page(w), "Overview.htm");
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_NE(messages.Texts()[0].find("NoSuchPage.htm"), std::string::npos);
}

TEST_F(HelpWindowTest, MissingHelpGivesAMessageAndNoWindow) {
    TempDir empty;
    SetAppDirectoryForTesting(empty.Path());
    ShowHelp(nullptr);
    EXPECT_EQ(GetHelpWindow(), nullptr);
    ASSERT_EQ(messages.Count(), 1u);
    const std::string text = messages.Texts()[0];
    EXPECT_NE(text.find(empty.Path() + "help/Overview.htm"), std::string::npos) << text;
    EXPECT_NE(text.find("reinstall"), std::string::npos) << text;
}

// Every link between the pages names a page that exists, and every #anchor a name on that page.
TEST_F(HelpWindowTest, NoHelpPageHasABrokenLink) {
    const QDir dir(kHelpDir);
    const QStringList pages = dir.entryList({"*.htm"}, QDir::Files);
    ASSERT_GE(pages.size(), 7);
    static const QRegularExpression href(R"re(href="([^"]+)")re");
    static const QRegularExpression name(R"re(name="([^"]+)")re");
    int links = 0;
    for (const QString& page : pages) {
        const QString text = QString::fromStdString(ReadFileText((kHelpDir + page).toStdString()));
        EXPECT_TRUE(text.contains("href=\"help.css\"")) << page.toStdString();
        for (auto it = href.globalMatch(text); it.hasNext();) {
            const QUrl link(it.next().captured(1));
            if (!link.scheme().isEmpty())
                continue;
            ++links;
            const QString target = link.path().isEmpty() ? page : link.path();
            ASSERT_TRUE(dir.exists(target)) << page.toStdString() << " -> " << target.toStdString();
            if (link.hasFragment()) {
                const QString targetText =
                    QString::fromStdString(ReadFileText((kHelpDir + target).toStdString()));
                QStringList names;
                for (auto n = name.globalMatch(targetText); n.hasNext();)
                    names << n.next().captured(1);
                EXPECT_TRUE(names.contains(link.fragment()))
                    << page.toStdString() << " -> " << link.toString().toStdString();
            }
        }
    }
    EXPECT_GT(links, 40);
}

} // namespace
