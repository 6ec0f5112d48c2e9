#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

// Flags of the open-file record that the dialog honours.
constexpr unsigned OFN_OVERWRITEPROMPT = 0x00000002; // a save dialog asks before replacing a file
constexpr unsigned OFN_HIDEREADONLY = 0x00000004;    // accepted; there is no read-only box to hide
constexpr unsigned OFN_FILEMUSTEXIST = 0x00001000;   // an open dialog accepts existing files only

// The program's open and save dialog, on Qt's own file dialog (the same on every desktop). It is built
// with the arguments of a classic file dialog, including the filter text in the form
// "Description|*.a;*.b;|Description|*.c|...||"; the caller may then change the title and flags in
// m_ofn before running it.
class CFileDialogEx {
public:
    // What the caller may change between construction and DoModal.
    struct OpenFileRecord {
        QString lpstrTitle;      // empty: "Open" or "Save As" by the dialog's kind
        unsigned Flags = 0;      // OFN_ flags
        QString lpstrInitialDir; // empty: the folder the dialog last showed
    };

    explicit CFileDialogEx(bool bOpenFileDialog, const QString& defExt = {}, const QString& fileName = {},
                           unsigned flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                           const QString& filter = {}, QWidget* parent = nullptr);

    // Runs the dialog modally: 1 (IDOK) when a file was chosen, 2 (IDCANCEL) otherwise. A cancel
    // leaves the path as it was.
    int DoModal();

    // The chosen file: full path, name, extension without the dot (empty when the name has none),
    // and name without extension. Before a choice, the path is the initial file name.
    QString GetPathName() const { return m_strPathName; }
    QString GetFileName() const;
    QString GetFileExt() const;
    QString GetFileTitle() const;

    bool IsOpenDialog() const { return m_bOpenFileDialog; }
    QString GetDefaultExt() const { return m_strDefExt; }
    QString GetTitle() const;
    // The filter text as the dialog's name filters.
    QStringList GetNameFilters() const { return m_nameFilters; }

    // "Desc|*.a;*.b;|..." to {"Desc (*.a *.b)", ...}. Descriptions stay as written; patterns are
    // taken as given, except "*.*", which means every file and becomes "*".
    static QStringList ConvertFilter(const QString& filter);

    // Tests answer the dialog instead of a user: while a chooser is set, DoModal shows nothing and asks
    // it; a path means OK with that path, nullopt means Cancel. An empty chooser restores the dialog.
    // Returns the previous chooser.
    using TestChooser = std::function<std::optional<QString>(const CFileDialogEx&)>;
    static TestChooser SetTestChooser(TestChooser chooser);

    OpenFileRecord m_ofn;

private:
    bool m_bOpenFileDialog;
    QString m_strDefExt;
    QString m_strPathName;
    QStringList m_nameFilters;
    QWidget* m_pParent;
};
