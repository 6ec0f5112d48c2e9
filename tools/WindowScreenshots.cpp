// Takes pictures of the main window along the whole road: a video opened and playing, a range marked,
// the Processing dialog at work, the completion message. window_screenshots <folder>. Needs a real X
// display (Xvfb will do) and the ffmpeg command line.

#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "FileDialogEx.h"
#include "ProcessingDlg.h"
#include "QuilletResources.h"
#include "Skin.h"
#include "SystemHelpers.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

QString g_folder;

void SaveScreen(const QString& name) {
    QTest::qWait(200);
    const QString path = g_folder + "/" + name + ".png";
    QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::printf("%s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    g_folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    const std::string work = g_folder.toStdString() + "/work/";
    QDir().mkpath(QString::fromStdString(work));
    for (const char* m : {"VideoEdit.so", "lame_enc.so", "Vorbis.so", "WmAudSDK.so"}) {
        unlink((work + m).c_str());
        if (symlink((std::string(QUILLET_BIN_DIR) + m).c_str(), (work + m).c_str()) != 0)
            return 1;
    }
    SetAppDirectoryForTesting(work);
    const std::string source = work + "Holiday clip.mkv";
    // Five minutes of a test picture and a tone, as a camera's video would carry them.
    if (QProcess::execute("ffmpeg", {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                     "testsrc=size=320x240:rate=15:duration=300", "-f", "lavfi", "-i",
                                     "sine=frequency=440:sample_rate=44100:duration=300", "-ac", "2",
                                     QString::fromStdString(source)}) != 0)
        return 1;

    InitSkinMagicLib();
    LoadSkinFromResource(IDR_SKIN, "RT_SKINMAGIC");
    CConverterDlg dlg;
    dlg.show();
    if (!QTest::qWaitForWindowExposed(&dlg))
        return 1;
    SaveScreen("1-start");

    CFileDialogEx::SetTestChooser(
        [&](const CFileDialogEx&) { return std::optional<QString>(QString::fromStdString(source)); });
    dlg.m_btnOpen.click();
    if (!QTest::qWaitFor([&] { return dlg.m_bFileLoaded == 1; }, 20000))
        return 1;
    QTest::qWait(1500);
    SaveScreen("2-playing");

    dlg.m_btnPause.click();
    dlg.m_player.SetCurrentPosition(6.0);
    QTest::qWait(300);
    dlg.m_btnStartTime.click();
    dlg.m_player.SetCurrentPosition(281.5);
    dlg.m_slider.SetPos(2815);
    QTest::qWait(300);
    dlg.m_btnEndTime.click();
    SaveScreen("3-marked");
    // Two pieces in the list (key A adds the marked range).
    dlg.activateWindow();
    if (!QTest::qWaitForWindowActive(&dlg))
        std::fprintf(stderr, "the window is not active: no keys reach it\n");
    QTest::keyClick(&dlg, Qt::Key_A);
    dlg.m_player.SetCurrentPosition(120.0);
    QTest::qWait(300);
    dlg.m_btnStartTime.click();
    dlg.m_player.SetCurrentPosition(150.0);
    QTest::qWait(300);
    dlg.m_btnEndTime.click();
    QTest::keyClick(&dlg, Qt::Key_A);
    SaveScreen("3b-pieces");

    // The Processing dialog at work, then the completion message, each grabbed while it shows.
    QTimer grabber;
    int shots = 0;
    QObject::connect(&grabber, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (shots == 0 && qobject_cast<CProcessingDlg*>(w) && w->isVisible()) {
                SaveScreen("4-processing");
                ++shots;
            } else if (shots == 1 && qobject_cast<QMessageBox*>(w) && w->isVisible()) {
                SaveScreen("5-completed");
                ++shots;
                static_cast<QMessageBox*>(w)->accept();
            }
        }
    });
    grabber.start(100);
    dlg.m_comboFormat.setCurrentIndex(FORMAT_MP3);
    dlg.m_btnConvert.click();
    grabber.stop();
    dlg.m_btnExit.click();
    ExitSkinMagicLib();
    return 0;
}
