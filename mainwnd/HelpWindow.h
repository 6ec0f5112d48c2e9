#pragma once

#include <QDialog>
#include <QUrl>

class QTextBrowser;
class QToolButton;

// The program's help: HTML pages in "help/" of the program directory, "Overview.htm" first, shown in
// a window of the program with Back, Forward and Home. Links to other pages open in the window;
// web and mail links open with the desktop's handler.
class CHelpWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kFirstTopic = "help/Overview.htm";

    explicit CHelpWindow(QWidget* parent = nullptr);

    // Shows a page (a local file). False, with a message, when it does not exist.
    bool OpenTopic(const QUrl& page);
    // What a click on a link does.
    void OnLinkClicked(const QUrl& link);

    QTextBrowser* Browser() const { return m_browser; }
    QUrl CurrentTopic() const;

    QToolButton* m_btnBack;
    QToolButton* m_btnForward;
    QToolButton* m_btnHome;

private:
    QTextBrowser* m_browser;
};

// Opens the help window at its first topic, or brings the open one to the front. Shows a message
// and opens nothing when the help pages are missing. The window is not modal. Pass the main window
// as parent: the main window runs modally, and only windows it owns stay usable beside it.
void ShowHelp(QWidget* parent);

// The help window now open, or nullptr.
CHelpWindow* GetHelpWindow();

// Where the "Homepage" button and the About box's links lead: the product's home page and support
// address of AppConfig.h where they are real. An address in a domain reserved for examples (example.org,
// example.com, .example: RFC 2606), which leads nowhere, gives way to the installed help: its first page
// for the home page, its page on files that will not open for support. URLs for GotoURL.
QString ProductPageUrl();
QString SupportUrl();
