#include "ConverterApp.h"

#include "ConverterDlg.h"
#include "JobFrame.h"
#include "MessageService.h"
#include "QuitSignals.h"
#include "Skin.h"
#include "SystemHelpers.h"

#include <QTimer>
#include <cstring>
#include <dlfcn.h>

const char* const kRegisteredComponents[4] = {"viscomwave.so", "VideoEdit.so", "RealMediaSplitter.so",
                                              "QuickTime.so"};

namespace {

// What each component checks in the media runtime when it registers.
std::string ComponentNeeds(const std::string& path) {
    static const std::pair<const char*, const char*> kNeeds[] = {
        {"viscomwave.so", "the conversion of PCM sound"},
        {"VideoEdit.so", "reading, decoding and resampling media and writing WAV files"},
        {"RealMediaSplitter.so", "the RealMedia demuxer and the RealAudio decoders"},
        {"QuickTime.so", "the QuickTime and MP4 demuxer and its audio decoders"}};
    for (const auto& [name, needs] : kNeeds)
        if (path.size() >= std::strlen(name) && path.ends_with(name))
            return needs;
    return "what it stands for";
}

} // namespace

bool CConverterApp::RegisterComponent(const std::string& path) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        ShowMessage("The component " + path + " could not be loaded" + (why ? std::string(": ") + why : "") +
                        ".\nPlease reinstall Quillet.",
                    MsgButtons::Ok, nullptr, MsgIcon::Warning);
        return false;
    }
    using RegisterFn = long (*)();
    auto registerServer = reinterpret_cast<RegisterFn>(dlsym(library, "DllRegisterServer"));
    if (!registerServer) {
        ShowMessage("The component " + path +
                        " is not one of Quillet's (it has no DllRegisterServer).\n"
                        "Please reinstall Quillet.",
                    MsgButtons::Ok, nullptr, MsgIcon::Warning);
        return false; // the library stays loaded
    }
    if (registerServer() < 0) {
        ShowMessage("The component " + path + " found that the FFmpeg libraries of this system lack " +
                        ComponentNeeds(path) +
                        ".\nPlease install the complete FFmpeg libraries of your distribution (on Debian and "
                        "Ubuntu: " +
                        FfmpegPackages() + ").",
                    MsgButtons::Ok, nullptr, MsgIcon::Warning);
        dlclose(library);
        return false;
    }
    return true; // stays loaded for the rest of the process
}

int CConverterApp::InitInstance() {
    if (GetDirectXVersion() < 80) {
        ShowMessage("Quillet needs the FFmpeg libraries it was built with to run!\nPlease install them (on "
                    "Debian and Ubuntu: " +
                        FfmpegPackages() + ").   ",
                    MsgButtons::Ok, nullptr, MsgIcon::Warning);
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
