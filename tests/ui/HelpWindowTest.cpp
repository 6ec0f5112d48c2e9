#include "HelpWindow.h"

#include "HyperlinkLabel.h"
#include "SystemHelpers.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextBrowser>
#include <gtest/gtest.h>

// One help window, reused; web links go to the desktop, a missing page or missing help is reported.
TEST(HelpWindow, OneWindowOnTheOverviewThatKeepsItsPlace) {
    MessageRecorder messages;
    std::vector<QUrl> opened;
    const auto previous = CHyperlinkLabel::SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    SetAppDirectoryForTesting(QUILLET_BIN_DIR);
    ShowHelp(nullptr);
    CHelpWindow* w = GetHelpWindow();
    ASSERT_NE(w, nullptr);
    auto page = [&] { return QFileInfo(w->CurrentTopic().toLocalFile()).fileName(); };
    EXPECT_EQ(page(), "Overview.htm");
    for (const char* link : {"Settings.htm#ogg", "https://quillet.example.org/faq", "NoSuchPage.htm"})
        emit w->Browser()->anchorClicked(QUrl(link));
    ShowHelp(nullptr);
    EXPECT_EQ(GetHelpWindow(), w);
    EXPECT_EQ(page(), "Settings.htm") << "the reader's place is kept";
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl("https://quillet.example.org/faq")});
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_NE(messages.Texts()[0].find("NoSuchPage.htm"), std::string::npos);
    w->close();
    EXPECT_TRUE(WaitFor([] { return GetHelpWindow() == nullptr; })) << "a closed help window is released";
    TempDir empty;
    SetAppDirectoryForTesting(empty.Path());
    ShowHelp(nullptr);
    EXPECT_EQ(GetHelpWindow(), nullptr);
    EXPECT_NE(messages.Texts().back().find(empty.Path() + "help/Overview.htm"), std::string::npos);
    SetAppDirectoryForTesting("");
    CHyperlinkLabel::SetUrlOpener(previous);
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
}
