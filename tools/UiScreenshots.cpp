// Shows the settings sheet (each page), the About box and the help window with the skin on, and
// saves a picture of each: ui_screenshots <folder>. Meant for a real X display (Xvfb will do).

#include "AboutDlg.h"
#include "AudioSettings.h"
#include "HelpWindow.h"
#include "ProcessingDlg.h"
#include "QuilletResources.h"
#include "SettingsSheet.h"
#include "Skin.h"
#include "SystemHelpers.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <cstdio>

namespace {

QString g_folder;

void Show(QWidget* window) {
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        std::fprintf(stderr, "%s did not appear\n", window->metaObject()->className());
}

void Save(QWidget* window, const QString& name) {
    window->raise();
    window->activateWindow();
    QTest::qWait(150);
    const QString path = g_folder + "/" + name + ".png";
    window->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    g_folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    if (argc > 2)
        SetAppDirectoryForTesting(argv[2]);
    InitSkinMagicLib();
    LoadSkinFromResource(IDR_SKIN, "RT_SKINMAGIC");
    SetDialogSkin("Dialog");
    g_settings.Load();
    g_settings.m_nMp3VbrQualityIndex = 4;

    {
        CMyPropertySheet sheet;
        Show(&sheet);
        const char* names[] = {"settings-0-general", "settings-1-mp3", "settings-2-wav",
                               "settings-3-ogg",     "settings-4-wma", "settings-5-flac",
                               "settings-6-opus",    "settings-7-m4a", "settings-8-sound"};
        for (int i = 0; i < sheet.GetPageCount(); ++i) {
            sheet.SetActivePage(i);
            Save(&sheet, names[i]);
        }
        sheet.SetActivePage(1);
        auto* list = sheet.GetPage(1)->findChild<QComboBox*>(QString::number(IDC_MP3_VBR_QUALITY));
        list->showPopup();
        QTest::qWait(200);
        QScreen* screen = sheet.screen();
        screen->grabWindow(0).save(g_folder + "/settings-mp3-popup.png");
        list->hidePopup();
    }
    {
        CAboutDlg about;
        Show(&about);
        Save(&about, "about");
    }
    {
        QMessageBox box(
            QMessageBox::Warning, "Quillet",
            "The path of the chosen folder is too long (1100 characters).\nQuillet keeps folder paths "
            "of at most 1023 characters; please choose a folder with a shorter path.",
            QMessageBox::Ok);
        Show(&box);
        Save(&box, "message");
    }
    {
        // The job's dialog as it looks while converting (no job runs).
        CProcessingDlg job;
        job.SetCaption("Convert to Mp3 : /home/someone/Videos/holiday_OUTPUT.mp3");
        Show(&job);
        job.m_progress.SetRange(0, 1000);
        job.m_progress.SetPos(420);
        Save(&job, "processing");
    }
    ShowHelp(nullptr);
    if (CHelpWindow* help = GetHelpWindow()) {
        Show(help);
        Save(help, "help-overview");
        help->OnLinkClicked(QUrl("Settings.htm#mp3"));
        Save(help, "help-settings");
        help->close();
    }
    ExitSkinMagicLib();
    return 0;
}
