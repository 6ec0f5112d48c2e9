#pragma once

#include <string>

class CConverterDlg;

// The application: checks the media runtime, registers the components, prepares the skin, runs the
// main window, and releases the skin at the end.
class CConverterApp {
public:
    // Returns 0 always: the main window has run and closed, unless a check failed first.
    int InitInstance();
    int ExitInstance();

    // Loads a component from its full path and runs its DllRegisterServer; reports its own failures.
    static bool RegisterComponent(const std::string& path);

    int m_bSkinLoaded = 0;
    // A file named on the command line, opened once the main window shows; "" for none.
    std::string m_strFileToOpen;

private:
    void OpenFileAtStart(CConverterDlg& dlg) const;
};

// The components registered at every start, in order.
extern const char* const kRegisteredComponents[4];
