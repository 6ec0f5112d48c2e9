#include "HelpWindow.h"

#include "AppConfig.h"
#include "DialogUnits.h"
#include "HyperlinkLabel.h"
#include "MessageService.h"
#include "SystemHelpers.h"

#include <QBoxLayout>
#include <QPointer>
#include <QRegularExpression>
#include <QStyle>
#include <QTextBrowser>
#include <QToolButton>

namespace {

QPointer<CHelpWindow> g_helpWindow;

bool IsWebLink(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("mailto") || scheme == QLatin1String("ftp");
}

void ReportMissing(const std::string& path, QWidget* owner) {
    ShowMessage(
        "The help page\n" + path +
            "\nis missing, so the help cannot be shown.\nPlease reinstall Quillet to restore its help "
            "pages.",
        MsgButtons::Ok, owner, MsgIcon::Warning);
}

} // namespace

CHelpWindow::CHelpWindow(QWidget* parent)
    : QDialog(parent, Qt::Window), m_btnBack(new QToolButton(this)), m_btnForward(new QToolButton(this)),
      m_btnHome(new QToolButton(this)), m_browser(new QTextBrowser(this)) {
    const QFont font = DialogFont();
    setFont(font);
    setWindowTitle(QStringLiteral("Quillet Help"));
    setModal(false);
    setSizeGripEnabled(true);
    resize(DluSizeToPixels(font, 400, 300));

    const struct {
        QToolButton* button;
        QString text;
        QStyle::StandardPixmap icon;
    } buttons[] = {{m_btnBack, QStringLiteral("Back"), QStyle::SP_ArrowBack},
                   {m_btnForward, QStringLiteral("Forward"), QStyle::SP_ArrowForward},
                   {m_btnHome, QStringLiteral("Home"), QStyle::SP_DirHomeIcon}};
    auto* bar = new QHBoxLayout;
    bar->setSpacing(DluSizeToPixels(font, 2, 0).width());
    for (const auto& b : buttons) {
        b.button->setText(b.text);
        b.button->setIcon(style()->standardIcon(b.icon));
        b.button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b.button->setAutoRaise(true);
        bar->addWidget(b.button);
    }
    bar->addStretch();

    const QSize margin = DluSizeToPixels(font, 4, 4);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(margin.width(), margin.height(), margin.width(), margin.height());
    frame->setSpacing(margin.height());
    frame->addLayout(bar);
    frame->addWidget(m_browser);

    m_browser->setOpenLinks(false);
    m_btnBack->setEnabled(false);
    m_btnForward->setEnabled(false);
    connect(m_browser, &QTextBrowser::backwardAvailable, m_btnBack, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_btnForward, &QToolButton::setEnabled);
    connect(m_btnBack, &QToolButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_btnForward, &QToolButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_btnHome, &QToolButton::clicked, m_browser, &QTextBrowser::home);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &CHelpWindow::OnLinkClicked);
}

QUrl CHelpWindow::CurrentTopic() const {
    return m_browser->source();
}

bool CHelpWindow::OpenTopic(const QUrl& page) {
    const std::string path = page.toLocalFile().toStdString();
    if (!FileExists(path) || DirectoryExists(path)) {
        ReportMissing(path, this);
        return false;
    }
    m_browser->setSource(page, QTextDocument::HtmlResource);
    return true;
}

void CHelpWindow::OnLinkClicked(const QUrl& link) {
    if (IsWebLink(link)) {
        const int result = CHyperlinkLabel::GotoURL(link.toString(), 5);
        if (result <= 32)
            CHyperlinkLabel::ReportError(result);
        return;
    }
    const QUrl target = m_browser->source().resolved(link);
    const bool samePage =
        target.adjusted(QUrl::RemoveFragment) == m_browser->source().adjusted(QUrl::RemoveFragment);
    if (samePage && target.hasFragment()) {
        m_browser->scrollToAnchor(target.fragment());
        return;
    }
    if (!target.isLocalFile()) {
        // Anything else (another scheme) is not ours to open here.
        const int result = CHyperlinkLabel::GotoURL(link.toString(), 5);
        if (result <= 32)
            CHyperlinkLabel::ReportError(result);
        return;
    }
    OpenTopic(target);
}

void ShowHelp(QWidget* parent) {
    if (g_helpWindow) {
        g_helpWindow->show();
        g_helpWindow->raise();
        g_helpWindow->activateWindow();
        return;
    }
    const std::string first = GetAppDirectory() + CHelpWindow::kFirstTopic;
    if (!FileExists(first)) {
        ReportMissing(first, parent);
        return;
    }
    auto* window = new CHelpWindow(parent ? parent->window() : nullptr);
    window->setAttribute(Qt::WA_DeleteOnClose);
    g_helpWindow = window;
    window->OpenTopic(QUrl::fromLocalFile(QString::fromStdString(first)));
    window->show();
}

CHelpWindow* GetHelpWindow() {
    return g_helpWindow.data();
}

namespace {

bool IsExampleAddress(const QString& address) {
    const QUrl url(address);
    const QString host =
        url.scheme() == QLatin1String("mailto") ? address.section(QLatin1Char('@'), -1) : url.host();
    return host.isEmpty() || host.endsWith(QLatin1String(".example")) || host == QLatin1String("example") ||
           host.contains(QRegularExpression(QStringLiteral("(^|\\.)example\\.(org|com|net)$")));
}

QString HelpPage(const char* page) {
    return QUrl::fromLocalFile(QString::fromStdString(GetAppDirectory() + "help/" + page)).toString();
}

} // namespace

QString ProductPageUrl() {
    const QString configured = QString::fromUtf8(kHomepageUrl);
    return IsExampleAddress(configured) ? HelpPage("Overview.htm") : configured;
}

QString SupportUrl() {
    const QString configured = QString::fromUtf8(kSupportAddress);
    return IsExampleAddress(configured) ? HelpPage("Troubleshooting.htm") : configured;
}
