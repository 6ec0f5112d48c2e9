#include "FileDialogEx.h"
#include "MessageService.h"
#include "TestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const char* kOpenFilter =
    "All Support Media "
    "Files(*.avi,*.mpg,*.mpeg,*.wmv,*.asf,*.dat,*.vob,*.mpe,*.rm,*.rmvb,*.mov,*.qt,*.mp3,*.wma,*.ogg)|*.avi;*"
    ".mpg;*."
    "mpeg;*.wmv;*.asf;*.vob;*.mpe;*.dat;*.rm;*.rmvb;*.ram;*.mov;*.qt;*.mp3;*.wma;*.ogg;|AVI "
    "files(*.avi)|*.avi;|MPEG files(*.mpeg,*.mpg,*.mpe)|*.mpeg;*.mpg;*.mpe;|Windows Vidoe "
    "files(*.wmv,*.asf)|*.wmv;*.asf;|VCD DAT files(*.dat)|*.dat;|DVD VOB files(*.vob)|*.vob;|RealMedia "
    "files(*.rm,*rmvb)|*.rm;*rmvb;|Quick Time files(*.mov,*.qt)|*.mov;*.qt;|Audio "
    "files(*.mp3,*.wma,*.ogg)|*.mp3;*.wma;*.ogg;|All files(*.*)|*.*;||";

struct ChooserScope {
    CFileDialogEx::TestChooser previous;
    explicit ChooserScope(CFileDialogEx::TestChooser c) {
        previous = CFileDialogEx::SetTestChooser(std::move(c));
    }
    ~ChooserScope() { CFileDialogEx::SetTestChooser(previous); }
};

// Answers the next Qt file dialog that shows: fn gets it and accepts or rejects it.
void AnswerDialog(std::function<void(QFileDialog*)> fn) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, fn] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dlg = qobject_cast<QFileDialog*>(w);
            if (dlg && dlg->isVisible()) {
                timer->stop();
                timer->deleteLater();
                fn(dlg);
                return;
            }
        }
    });
    timer->start(10);
}

} // namespace

TEST(FileDialogEx, ConvertsTheOpenFilterIntoNameFilters) {
    const QStringList expected = {
        "All Support Media "
        "Files(*.avi,*.mpg,*.mpeg,*.wmv,*.asf,*.dat,*.vob,*.mpe,*.rm,*.rmvb,*.mov,*.qt,*.mp3,*.wma,*."
        "ogg) (*.avi *.mpg *.mpeg *.wmv *.asf *.vob *.mpe *.dat *.rm *.rmvb *.ram *.mov *.qt *.mp3 *.wma "
        "*.ogg)",
        "AVI files(*.avi) (*.avi)",
        "MPEG files(*.mpeg,*.mpg,*.mpe) (*.mpeg *.mpg *.mpe)",
        "Windows Vidoe files(*.wmv,*.asf) (*.wmv *.asf)",
        "VCD DAT files(*.dat) (*.dat)",
        "DVD VOB files(*.vob) (*.vob)",
        "RealMedia files(*.rm,*rmvb) (*.rm *rmvb)",
        "Quick Time files(*.mov,*.qt) (*.mov *.qt)",
        "Audio files(*.mp3,*.wma,*.ogg) (*.mp3 *.wma *.ogg)",
        "All files(*.*) (*)",
    };
    EXPECT_EQ(CFileDialogEx::ConvertFilter(kOpenFilter), expected);
    EXPECT_EQ(CFileDialogEx::ConvertFilter("Text|*.txt"), QStringList{"Text (*.txt)"});
    EXPECT_EQ(CFileDialogEx::ConvertFilter(""), QStringList{});
    EXPECT_EQ(CFileDialogEx::ConvertFilter("||Ignored|*.x||"), QStringList{});
}

TEST(FileDialogEx, TestChooserAnswersInsteadOfTheUser) {
    CFileDialogEx dlg(true, "", "", OFN_HIDEREADONLY, kOpenFilter);
    dlg.m_ofn.lpstrTitle = "Open a video file";
    dlg.m_ofn.Flags |= OFN_FILEMUSTEXIST;
    {
        ChooserScope scope([](const CFileDialogEx& d) -> std::optional<QString> {
            EXPECT_EQ(d.GetTitle(), "Open a video file");
            EXPECT_TRUE(d.m_ofn.Flags & OFN_FILEMUSTEXIST);
            EXPECT_EQ(d.GetNameFilters().size(), 10);
            return QString("/media/Ünïcode dir/My Clip.part1.RMVB");
        });
        ASSERT_EQ(dlg.DoModal(), IDOK);
    }
    EXPECT_EQ(dlg.GetPathName(), "/media/Ünïcode dir/My Clip.part1.RMVB");
    EXPECT_EQ(dlg.GetFileName(), "My Clip.part1.RMVB");
    EXPECT_EQ(dlg.GetFileExt(), "RMVB");
    EXPECT_EQ(dlg.GetFileTitle(), "My Clip.part1");

    ChooserScope cancel([](const CFileDialogEx&) { return std::nullopt; });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.GetPathName(), "/media/Ünïcode dir/My Clip.part1.RMVB");

    CFileDialogEx noExt(true, "", "/tmp/README");
    EXPECT_EQ(noExt.GetPathName(), "/tmp/README");
    EXPECT_EQ(noExt.GetFileExt(), "");
    EXPECT_EQ(noExt.GetTitle(), "Open");
}

TEST(FileDialogEx, RealDialogReturnsTheChosenExistingFile) {
    TempDir dir;
    WriteFileText(dir.File("clip.avi"), "RIFF");
    CFileDialogEx dlg(true, "", "", OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, kOpenFilter);
    dlg.m_ofn.lpstrTitle = "Open a video file";
    dlg.m_ofn.lpstrInitialDir = QString::fromStdString(dir.Path());

    bool checked = false;
    AnswerDialog([&](QFileDialog* d) {
        checked = d->windowTitle() == "Open a video file" && d->fileMode() == QFileDialog::ExistingFile &&
                  d->testOption(QFileDialog::DontUseNativeDialog) && d->nameFilters().size() == 10;
        d->selectFile(QString::fromStdString(dir.File("clip.avi")));
        static_cast<QDialog*>(d)->accept(); // the file dialog validates the choice
    });
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(checked);
    EXPECT_EQ(dlg.GetPathName(), QString::fromStdString(dir.File("clip.avi")));
    EXPECT_EQ(dlg.GetFileExt(), "avi");

    AnswerDialog([](QFileDialog* d) { d->reject(); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.GetPathName(), QString::fromStdString(dir.File("clip.avi")));
}
