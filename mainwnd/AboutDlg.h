#pragma once

#include <QDialog>
#include <QString>

class CHyperlinkLabel;
class QLabel;
class QPushButton;

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDC_VERSION = 1056;
constexpr int IDC_HOMEPAGE_LINK = 1009;
constexpr int IDC_SUPPORT_LINK = 1011;

// The About box: the program icon, the version, a link to the home page, a link that writes to
// technical support, and OK. Run it with exec().
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int IDD = IDD_ABOUTBOX;
    static constexpr int kVersionChars = 9;

    explicit CAboutDlg(QWidget* parent = nullptr);

    // The version text: key "AppVer" of section "main" of "app.ini" in the program directory, at
    // most 9 characters; empty when the file or the key is missing.
    static QString ReadAppVersion();

    QLabel* m_icon;
    QLabel* m_version;
    QLabel* m_description;
    CHyperlinkLabel* m_linkHomepage;
    CHyperlinkLabel* m_linkSupport;
    QPushButton* m_btnOk;

private:
    void OnInitDialog();
};
