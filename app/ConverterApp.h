#pragma once

#include <string>

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
};

// The components registered at every start, in order.
extern const char* const kRegisteredComponents[4];
