#include "HyperlinkLabel.h"
#include "TestSupport.h"

#include <QTest>
#include <gtest/gtest.h>
#include <vector>

namespace {

const QColor kLink(0, 0, 238), kVisited(85, 26, 139), kHover(255, 0, 0);

// Replaces the desktop's opener for one test and records what it was asked to open.
struct StubOpener {
    std::vector<QUrl> opened;
    bool answer = true;
    CHyperlinkLabel::UrlOpener previous;
    StubOpener() {
        previous = CHyperlinkLabel::SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return answer;
        });
    }
    ~StubOpener() { CHyperlinkLabel::SetUrlOpener(previous); }
};

struct Page {
    QWidget host;
    CHyperlinkLabel* link;
    explicit Page(const QString& text = "Visit Quillet homepage") : link(new CHyperlinkLabel(text, &host)) {
        host.resize(400, 100);
        link->move(20, 20);
        QFont f = link->font();
        f.setPixelSize(16);
        link->setFont(f);
        link->SetURL("https://quillet.example/");
    }
    void Show() {
        host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    }
    QImage Image() {
        QImage img(link->size(), QImage::Format_RGB32);
        img.fill(Qt::white);
        link->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
        return img;
    }
    // A row drawn almost entirely in the colour: the underline.
    bool Underlined(const QColor& c) {
        const QImage img = Image();
        for (int y = 0; y < img.height(); ++y) {
            int n = 0;
            for (int x = 0; x < img.width(); ++x)
                n += img.pixelColor(x, y) == c;
            if (n >= img.width() * 8 / 10)
                return true;
        }
        return false;
    }
    void Hover() { QTest::mouseMove(link, link->rect().center()); }
    void Leave() { QTest::mouseMove(&host, QPoint(390, 90)); }
};

} // namespace

TEST(HyperlinkLabel, TextAndTargetStandInForEachOther) {
    CHyperlinkLabel byText("Technical Support");
    EXPECT_EQ(byText.GetURL(), "Technical Support");
    EXPECT_EQ(byText.toolTip(), "Technical Support");

    CHyperlinkLabel byURL;
    byURL.SetURL("mailto:support@quillet.example");
    byURL.ensurePolished();
    EXPECT_EQ(byURL.text(), "mailto:support@quillet.example");
    EXPECT_EQ(byURL.toolTip(), "mailto:support@quillet.example");
    EXPECT_EQ(byURL.cursor().shape(), Qt::PointingHandCursor);
}

TEST(HyperlinkLabel, UnderlineModesAndHoverColour) {
    Page p;
    p.Show();
    EXPECT_FALSE(p.Underlined(kLink));
    p.Hover();
    ASSERT_TRUE(p.link->IsOverControl());
    EXPECT_TRUE(p.Underlined(kHover));
    p.Leave();
    EXPECT_FALSE(p.link->IsOverControl());
    EXPECT_FALSE(p.Underlined(kLink));
    EXPECT_FALSE(p.Underlined(kHover));

    p.link->SetUnderline(CHyperlinkLabel::ulAlways);
    EXPECT_TRUE(p.Underlined(kLink));
    p.Hover();
    p.Leave();
    EXPECT_TRUE(p.Underlined(kLink));

    p.link->SetUnderline(CHyperlinkLabel::ulNone);
    p.Hover();
    EXPECT_FALSE(p.Underlined(kHover));
}

TEST(HyperlinkLabel, SuccessfulOpenTurnsTheLinkVisited) {
    StubOpener opener;
    Page p;
    p.link->SetUnderline(CHyperlinkLabel::ulAlways);
    p.Show();
    QTest::mouseClick(p.link, Qt::LeftButton, {}, p.link->rect().center());
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0], QUrl("https://quillet.example/"));
    EXPECT_TRUE(p.link->GetVisited());
    EXPECT_TRUE(p.Underlined(kVisited));
}

TEST(HyperlinkLabel, FailedOpenReportsTheCodeAndStaysUnvisited) {
    MessageRecorder messages;
    TempDir dir;
    Page p;
    p.link->SetURL(QString::fromStdString(dir.File("missing.htm")));
    p.Show();
    QTest::mouseClick(p.link, Qt::LeftButton, {}, p.link->rect().center());
    EXPECT_FALSE(p.link->GetVisited());
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_EQ(messages.Texts()[0], "Unable to open hyperlink:\n\nThe specified file was not found.");
    EXPECT_EQ(messages.Requests()[0].icon, MsgIcon::Warning);

    CHyperlinkLabel::ReportError(99);
    CHyperlinkLabel::ReportError(30);
    ASSERT_EQ(messages.Count(), 3u);
    EXPECT_EQ(messages.Texts()[1], "Unable to open hyperlink:\n\nUnknown Error (99) occurred.");
    EXPECT_EQ(messages.Texts()[2], "Unable to open hyperlink:\n\nThe DDE transaction could not\nbe completed "
                                   "because other DDE transactions\nwere being processed.");
}

TEST(HyperlinkLabel, GotoURLMapsTargetsAndFailures) {
    StubOpener opener;
    TempDir dir;
    WriteFileText(dir.File("Overview.htm"), "<html></html>");
    EXPECT_EQ(CHyperlinkLabel::GotoURL("mailto:support@quillet.example", 0), CHyperlinkLabel::kOpened);
    EXPECT_EQ(CHyperlinkLabel::GotoURL("www.quillet.example", 5), CHyperlinkLabel::kOpened);
    EXPECT_EQ(CHyperlinkLabel::GotoURL(QString::fromStdString(dir.File("Overview.htm")), 5), 33);
    ASSERT_EQ(opener.opened.size(), 3u);
    EXPECT_EQ(opener.opened[0].scheme(), "mailto");
    EXPECT_EQ(opener.opened[1], QUrl("http://www.quillet.example"));
    EXPECT_EQ(opener.opened[2], QUrl::fromLocalFile(QString::fromStdString(dir.File("Overview.htm"))));

    EXPECT_EQ(CHyperlinkLabel::GotoURL("", 5), CHyperlinkLabel::kErrFileNotFound);
    EXPECT_EQ(CHyperlinkLabel::GotoURL(QString::fromStdString(dir.File("no/such/page.htm")), 5),
              CHyperlinkLabel::kErrPathNotFound);
    opener.answer = false;
    EXPECT_EQ(CHyperlinkLabel::GotoURL("https://quillet.example/", 5), CHyperlinkLabel::kErrNoAssociation);
    EXPECT_EQ(opener.opened.size(), 4u); // missing files never reach the opener
}

TEST(HyperlinkLabel, AutoSizeKeepsTheEdgeOrCentreOfItsAlignment) {
    struct Case {
        Qt::Alignment align;
        int expectLeft; // -1: centred at x = 250
        bool vcentre;
    } cases[] = {{Qt::AlignLeft | Qt::AlignTop, 100, false},
                 {Qt::AlignHCenter | Qt::AlignTop, -1, false},
                 {Qt::AlignRight | Qt::AlignVCenter, -2, true}};
    for (const Case& c : cases) {
        QWidget host;
        CHyperlinkLabel link("Visit Quillet homepage", &host);
        link.setAlignment(c.align);
        link.setGeometry(100, 10, 300, 40);
        link.SetURL("https://quillet.example/");
        const QRect g = link.geometry();
        const QSize text = QFontMetrics(link.font()).size(Qt::TextSingleLine, link.text());
        EXPECT_EQ(g.width(), text.width());
        EXPECT_EQ(g.height(), text.height());
        if (c.expectLeft >= 0)
            EXPECT_EQ(g.left(), c.expectLeft);
        else if (c.expectLeft == -1)
            EXPECT_LE(std::abs(g.left() + g.width() / 2 - 250), 1);
        else
            EXPECT_EQ(g.left() + g.width(), 400);
        if (c.vcentre)
            EXPECT_LE(std::abs(g.top() + g.height() / 2 - 30), 1);
        else
            EXPECT_EQ(g.top(), 10);
    }
}
