#include "AboutDlg.h"

#include "AudioSettings.h"
#include "DialogUnits.h"
#include "HelpWindow.h"
#include "HyperlinkLabel.h"
#include "IniFile.h"
#include "QuilletResources.h"
#include "Skin.h"
#include "SystemHelpers.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent), m_icon(new QLabel(this)), m_version(new QLabel(this)),
      m_description(new QLabel(
          QStringLiteral(
              "Saves the sound of your videos as MP3, WAV, Ogg Vorbis, WMA, FLAC, Opus or AAC (M4A)."),
          this)),
      m_linkHomepage(new CHyperlinkLabel(QStringLiteral("Visit Quillet homepage"), this)),
      m_linkSupport(new CHyperlinkLabel(QStringLiteral("Technical Support"), this)),
      m_btnOk(new QPushButton(QStringLiteral("OK"), this)) {
    const QFont font = DialogFont();
    setFont(font);
    setObjectName(QString::number(IDD));
    setWindowTitle(QStringLiteral("About Quillet"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);
    setFixedSize(DluSizeToPixels(font, 235, 80));

    const QRect iconRect = DluToPixels(font, 11, 11, 24, 24);
    const int side = std::min(iconRect.width(), iconRect.height());
    m_icon->setGeometry(QRect(iconRect.topLeft(), QSize(side, side)));
    m_icon->setPixmap(QIcon(IconResourcePath(IDR_MAINFRAME)).pixmap(QSize(side, side), devicePixelRatioF()));

    m_version->setObjectName(QString::number(IDC_VERSION));
    m_version->setGeometry(DluToPixels(font, 44, 11, 140, 10));
    QFont bold = font;
    bold.setBold(true);
    m_version->setFont(bold);
    m_version->setTextFormat(Qt::PlainText);

    m_description->setGeometry(DluToPixels(font, 44, 23, 184, 18));
    m_description->setWordWrap(true);
    m_description->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_linkHomepage->setObjectName(QString::number(IDC_HOMEPAGE_LINK));
    m_linkHomepage->setGeometry(DluToPixels(font, 44, 46, 120, 9));
    m_linkSupport->setObjectName(QString::number(IDC_SUPPORT_LINK));
    m_linkSupport->setGeometry(DluToPixels(font, 44, 60, 120, 9));

    m_btnOk->setObjectName(QString::number(1));
    m_btnOk->setGeometry(DluToPixels(font, 178, 59, 50, 14));
    m_btnOk->setDefault(true);
    connect(m_btnOk, &QPushButton::clicked, this, &CAboutDlg::accept);

    OnInitDialog();
}

void CAboutDlg::OnInitDialog() {
    // The links draw themselves.
    ExemptFromSkin(m_linkHomepage);
    ExemptFromSkin(m_linkSupport);

    m_version->setText(QStringLiteral("Quillet ") + ReadAppVersion());
    m_linkHomepage->SetURL(ProductPageUrl());
    m_linkSupport->SetURL(SupportUrl());
    m_linkHomepage->SetUnderline(CHyperlinkLabel::ulAlways);
    m_linkSupport->SetUnderline(CHyperlinkLabel::ulAlways);
    m_btnOk->setFocus();
}

QString CAboutDlg::ReadAppVersion() {
    CIniFile ini;
    ini.Read(GetAppDirectory() + "app.ini");
    const auto version = ini.Get("main", "AppVer");
    if (!version)
        return {};
    return QString::fromStdString(std::string(CBoundedText::Cut(*version, kVersionChars)));
}
