#include "FileDialogEx.h"

#include "MessageService.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>

namespace {

CFileDialogEx::TestChooser& Chooser() {
    static CFileDialogEx::TestChooser chooser;
    return chooser;
}

} // namespace

CFileDialogEx::CFileDialogEx(bool bOpenFileDialog, const QString& defExt, const QString& fileName,
                             unsigned flags, const QString& filter, QWidget* parent)
    : m_bOpenFileDialog(bOpenFileDialog), m_strDefExt(defExt), m_strPathName(fileName),
      m_nameFilters(ConvertFilter(filter)), m_pParent(parent) {
    m_ofn.Flags = flags;
}

QStringList CFileDialogEx::ConvertFilter(const QString& filter) {
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        if (description.isEmpty())
            break; // "||" ends the list
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            if (!pattern.isEmpty())
                patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
        }
        if (!patterns.isEmpty())
            out << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}

QString CFileDialogEx::GetTitle() const {
    if (!m_ofn.lpstrTitle.isEmpty())
        return m_ofn.lpstrTitle;
    return m_bOpenFileDialog ? QStringLiteral("Open") : QStringLiteral("Save As");
}

QString CFileDialogEx::GetFileName() const {
    return QFileInfo(m_strPathName).fileName();
}

QString CFileDialogEx::GetFileExt() const {
    const QString name = GetFileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString CFileDialogEx::GetFileTitle() const {
    const QString name = GetFileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

CFileDialogEx::TestChooser CFileDialogEx::SetTestChooser(TestChooser chooser) {
    std::swap(Chooser(), chooser);
    return chooser;
}

int CFileDialogEx::DoModal() {
    if (const TestChooser& chooser = Chooser()) {
        const std::optional<QString> chosen = chooser(*this);
        if (!chosen)
            return IDCANCEL;
        m_strPathName = *chosen;
        return IDOK;
    }

    const QPointer<QWidget> focus = QApplication::focusWidget();
    QFileDialog dlg(m_pParent, GetTitle());
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    // The descriptions name their kinds ("AVI files(*.avi)"); the full lists of patterns Qt would add
    // make the choice of filter wider than the screen.
    dlg.setOption(QFileDialog::HideNameFilterDetails);
    dlg.setAcceptMode(m_bOpenFileDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dlg.setFileMode(m_bOpenFileDialog && (m_ofn.Flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                                           : QFileDialog::AnyFile);
    if (!m_bOpenFileDialog && !(m_ofn.Flags & OFN_OVERWRITEPROMPT))
        dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (!m_nameFilters.isEmpty())
        dlg.setNameFilters(m_nameFilters);
    dlg.setDefaultSuffix(m_strDefExt);
    if (!m_ofn.lpstrInitialDir.isEmpty())
        dlg.setDirectory(m_ofn.lpstrInitialDir);
    if (!m_strPathName.isEmpty())
        dlg.selectFile(m_strPathName);

    const int result = dlg.exec();
    if (focus)
        focus->setFocus();
    const QStringList files = dlg.selectedFiles();
    if (result != QDialog::Accepted || files.isEmpty())
        return IDCANCEL;
    m_strPathName = files.first();
    return IDOK;
}
