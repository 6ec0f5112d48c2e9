#include "ConverterApp.h"

#include "ConverterDlg.h"
#include "JobFrame.h"
#include "MessageService.h"
#include "QuitSignals.h"
#include "Skin.h"
#include "SystemHelpers.h"

#include <QTimer>
#include <dlfcn.h>

const char* const kRegisteredComponents[4] = {"viscomwave.so", "VideoEdit.so", "RealMediaSplitter.so",
                                              "QuickTime.so"};

bool CConverterApp::RegisterComponent(const std::string& path) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        ShowMessage("LoadLibrary:" + path + " failed!", MsgButtons::Ok, nullptr, MsgIcon::Warning);
        return false;
    }
    using RegisterFn = long (*)();
    auto registerServer = reinterpret_cast<RegisterFn>(dlsym(library, "DllRegisterServer"));
    if (!registerServer) {
        ShowMessage("DllRegisterServer failed!", MsgButtons::Ok, nullptr, MsgIcon::Warning);
        return false; // the library stays loaded
    }
    if (registerServer() < 0) {
        ShowMessage("DllRegisterServer failed!", MsgButtons::Ok, nullptr, MsgIcon::Warning);
        dlclose(library);
        return false;
    }
    return true; // stays loaded for the rest of the process
}

int CConverterApp::InitInstance() {
    if (GetDirectXVersion() < 80) {
        ShowMessage("This program needs directX 8.0 or greater to run!   ", MsgButtons::Ok, nullptr,
                    MsgIcon::Warning);
        return 0;
    }
    for (const char* component : kRegisteredComponents) {
        if (!RegisterComponent(GetAppDirectory() + component))
            return 0;
    }
    InitSkinMagicLib();
    LoadSkinFromResource(129, "RT_SKINMAGIC");
    m_bSkinLoaded = 1;
    {
        CConverterDlg dlg;
        CQuitSignals quitSignals(dlg);
        if (!m_strFileToOpen.empty())
            QTimer::singleShot(0, &dlg, [&dlg, this] { OpenFileAtStart(dlg); });
        dlg.exec();
    }
    return 0;
}

void CConverterApp::OpenFileAtStart(CConverterDlg& dlg) const {
    // What the Open dialog says of a name that does not exist; anything else opens as chosen there.
    if (!FileExists(m_strFileToOpen) || DirectoryExists(m_strFileToOpen))
        ShowMessage(m_strFileToOpen + "\nFile not found.\nPlease verify the correct file name was given.",
                    MsgButtons::Ok, &dlg, MsgIcon::Warning);
    else
        dlg.OpenSource(m_strFileToOpen);
}

int CConverterApp::ExitInstance() {
    // A cancelled job's encoder thread may still be finishing its last chunk.
    WaitForEncoderThreads();
    if (m_bSkinLoaded == 1)
        ExitSkinMagicLib();
    return 0;
}
