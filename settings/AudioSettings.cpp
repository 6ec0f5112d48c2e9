#include "AudioSettings.h"

#include "IniFile.h"
#include "SystemHelpers.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

CAudioSettings g_settings;

namespace {

// One key of the file. Exactly one of num and text is set; texts take their default from textDefault.
struct KeyDef {
    const char* section;
    const char* key;
    int CAudioSettings::*num;
    CBoundedText CAudioSettings::*text;
    int def;
    int max;
    int reset;
    std::string (*textDefault)();
};

using S = CAudioSettings;

// In the order of the fields, which is the order of reading and writing.
const KeyDef kKeys[] = {
    {"General", "OutputPathType", &S::m_nOutputPathType, nullptr, 0, 1, 0, nullptr},
    {"General", "OutputPath", nullptr, &S::m_szOutputPath, 0, 0, 0, &S::DefaultOutputPath},
    {"General", "TempPath", nullptr, &S::m_szTempPath, 0, 0, 0, &S::DefaultTempPath},
    {"General", "Format Index", &S::m_nFormatIndex, nullptr, 0, FORMAT_ORIGINAL, 0, nullptr},
    {"General", "Artist", nullptr, &S::m_szArtist, 0, 0, 0, [] { return std::string("Unknown Artist"); }},
    {"General", "Album", nullptr, &S::m_szAlbum, 0, 0, 0, [] { return std::string("Unknown Album"); }},
    {"General", "Year", nullptr, &S::m_szYear, 0, 0, 0, [] { return std::string("2005"); }},
    {"General", "Genre Index", &S::m_nGenreIndex, nullptr, 0, S::kGenreCount - 1, 0, nullptr},
    {"mp3", "Channel Index", &S::m_nMp3ChannelIndex, nullptr, 0, 3, 0, nullptr},
    {"mp3", "Bitreate Index", &S::m_nMp3BitrateIndex, nullptr, 8, 13, 8, nullptr},
    {"mp3", "Quality Index", &S::m_nMp3QualityIndex, nullptr, 0, 3, 0, nullptr},
    {"mp3", "VBR Quality Index", &S::m_nMp3VbrQualityIndex, nullptr, 0, 10, 0, nullptr},
    {"mp3", "VBR Bitrate Index", &S::m_nMp3VbrBitrateIndex, nullptr, 8, 13, 8, nullptr},
    {"wav", "Channel Index", &S::m_nWavChannelIndex, nullptr, 1, 1, 1, nullptr},
    {"wav", "Bits per sample", &S::m_nWavBitsIndex, nullptr, 0, 1, 0, nullptr},
    {"wav", "Sample Index", &S::m_nWavSampleIndex, nullptr, 1, 8, 1, nullptr},
    {"ogg", "Minimum Bitrate Index", &S::m_nOggMinBitrateIndex, nullptr, 7, 11, 7, nullptr},
    {"ogg", "Norminal Bitrate Index", &S::m_nOggNominalBitrateIndex, nullptr, 7, 11, 7, nullptr},
    {"ogg", "Maximum Bitrate Index", &S::m_nOggMaxBitrateIndex, nullptr, 7, 11, 7, nullptr},
    {"ogg", "Mode Index", &S::m_nOggModeIndex, nullptr, 0, 5, 0, nullptr},
    {"wma", "Bitreate Index", &S::m_nWmaBitrateIndex, nullptr, 8, 9, 8, nullptr},
    {"flac", "Compression Level", &S::m_nFlacLevelIndex, nullptr, 5, S::kFlacLevelCount - 1, 5, nullptr},
    {"flac", "Sound Index", &S::m_nFlacSoundIndex, nullptr, 0, 1, 0, nullptr},
    {"opus", "Bitrate Index", &S::m_nOpusBitrateIndex, nullptr, 9, S::kOpusBitrateCount - 1, 9, nullptr},
    {"opus", "Application Index", &S::m_nOpusApplicationIndex, nullptr, 0, 1, 0, nullptr},
    {"opus", "Sound Index", &S::m_nOpusSoundIndex, nullptr, 0, 1, 0, nullptr},
    {"m4a", "Bitrate Index", &S::m_nAacBitrateIndex, nullptr, 5, S::kAacBitrateCount - 1, 5, nullptr},
    {"m4a", "Sound Index", &S::m_nAacSoundIndex, nullptr, 0, 1, 0, nullptr},
};

const char* const kLastFolderSection = "General";
const char* const kLastFolderKey = "Last Folder";
const char* const kWindowSection = "Window";
const char* const kRecentSection = "Recent Files";
const char* const kPiecesSection = "Pieces";

// The window's numbers: Left, Top, Width, Height, Maximized.
struct WindowKey {
    const char* key;
    int CAudioSettings::WindowPlace::*field;
};
const WindowKey kWindowKeys[] = {{"Left", &CAudioSettings::WindowPlace::left},
                                 {"Top", &CAudioSettings::WindowPlace::top},
                                 {"Width", &CAudioSettings::WindowPlace::width},
                                 {"Height", &CAudioSettings::WindowPlace::height}};

std::string RecentKey(size_t i) {
    return "File" + std::to_string(i + 1);
}

// Like the profile functions: a leading decimal number counts ("12abc" reads 12), a text without one
// takes the default, and a number too large for an int saturates (Validate then resets it).
int ParseInt(const std::string& text, int def) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(begin, &end, 10);
    if (end == begin)
        return def;
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

// An absolute folder from the environment, ending with '/'; empty when the variable is unset or relative.
std::string FolderFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/')
        return {};
    std::string dir = value;
    return dir.back() == '/' ? dir : dir + '/';
}

// $HOME when it is set and absolute (a sandbox, "sudo -H", a user without a home in the password
// database set it), else the password database's entry, as every desktop program takes it.
std::string HomeDirectory() {
    std::string home = FolderFromEnvironment("HOME");
    if (!home.empty())
        return home;
    home = "/tmp";
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buf(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    struct passwd pw;
    struct passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir &&
        result->pw_dir[0] == '/')
        home = result->pw_dir;
    if (home.back() != '/')
        home += '/';
    return home;
}

// An installed copy: <prefix>/bin/quillet leads to the program directory <prefix>/lib/quillet/.
bool IsInstalledCopy(const std::string& appDir) {
    char* bin = realpath((appDir + "../../bin/quillet").c_str(), nullptr);
    char* self = realpath((appDir + "quillet").c_str(), nullptr);
    const bool installed = bin && self && std::strcmp(bin, self) == 0;
    std::free(bin);
    std::free(self);
    return installed;
}

// Missing levels are made private to the user, as the XDG base directory rules ask.
void CreatePrivateFolder(const std::string& dir) {
    for (size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1))
        mkdir(dir.substr(0, slash).c_str(), 0700);
}

} // namespace

std::string SettingsFilePath(bool forWriting) {
    const std::string appDir = GetAppDirectory();
    // Even root keeps its settings out of an installed copy, which the package manager owns.
    if (access(appDir.c_str(), W_OK) == 0 && !IsInstalledCopy(appDir))
        return appDir + "param.ini";
    std::string dir = FolderFromEnvironment("XDG_CONFIG_HOME");
    dir = (dir.empty() ? HomeDirectory() + ".config/" : dir) + "quillet/";
    if (forWriting)
        CreatePrivateFolder(dir);
    return dir + "param.ini";
}

std::string_view CBoundedText::Cut(std::string_view text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // Continuation bytes (10xxxxxx) belong to the character before them.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == maxChars)
            return text.substr(0, i);
    }
    return text;
}

CBoundedText& CBoundedText::operator=(std::string_view text) {
    m_text = std::string(Cut(text, m_maxChars));
    return *this;
}

std::string CAudioSettings::HomeFolder() {
    return HomeDirectory();
}

std::string CAudioSettings::DefaultOutputPath() {
    return HomeDirectory() + "AUDIO_OUTPUT/";
}
std::string CAudioSettings::DefaultTempPath() {
    const std::string cache = FolderFromEnvironment("XDG_CACHE_HOME");
    return (cache.empty() ? HomeDirectory() + ".cache/" : cache) + "quillet/";
}

void CAudioSettings::Load() {
    std::string problem;
    const std::string path = SettingsFilePath();
    if (LoadFrom(path, &problem) == FileRead::Refused)
        std::fprintf(stderr,
                     "quillet: cannot read the settings file %s (%s); this run uses the defaults and leaves "
                     "it as it is\n",
                     path.c_str(), problem.c_str());
}

void CAudioSettings::Save() const {
    SaveTo(SettingsFilePath(true));
}

CAudioSettings::FileRead CAudioSettings::LoadFrom(const std::string& path, std::string* problem) {
    CIniFile ini;
    m_strUnreadablePath.clear();
    FileRead result = FileRead::Read;
    if (!ini.Read(path, problem)) {
        struct stat st;
        result = stat(path.c_str(), &st) == 0 ? FileRead::Refused : FileRead::Missing;
        // Saving over a file that could not be read would lose whatever else it holds.
        if (result == FileRead::Refused)
            m_strUnreadablePath = path;
    }
    for (const KeyDef& k : kKeys) {
        auto value = ini.Get(k.section, k.key);
        if (k.num)
            this->*k.num = value ? ParseInt(*value, k.def) : k.def;
        else
            this->*k.text = value ? *value : k.textDefault();
    }
    m_szLastFolder = ini.Get(kLastFolderSection, kLastFolderKey).value_or("");
    LoadWindowSections(ini);
    m_sound.Load(ini);
    Validate();
    return result;
}

void CAudioSettings::LoadWindowSections(const CIniFile& ini) {
    m_window = WindowPlace{};
    m_window.known = ini.Get(kWindowSection, "Width").has_value();
    for (const WindowKey& k : kWindowKeys)
        m_window.*k.field = ParseInt(ini.Get(kWindowSection, k.key).value_or(""), 0);
    m_window.maximized = ParseInt(ini.Get(kWindowSection, "Maximized").value_or(""), 0) == 1;
    m_nWaveformScale = ParseInt(ini.Get(kWindowSection, "Waveform Scale").value_or(""), 0);
    m_nSilenceDb = ParseInt(ini.Get(kPiecesSection, "Silence dB").value_or(""), kDefaultSilenceDb);
    m_nShortestSilenceMs =
        ParseInt(ini.Get(kPiecesSection, "Shortest Silence ms").value_or(""), kDefaultShortestSilenceMs);
    m_recentFiles.clear();
    for (size_t i = 0; i < kRecentFiles; ++i) {
        const std::string file = ini.Get(kRecentSection, RecentKey(i)).value_or("");
        if (!file.empty())
            m_recentFiles.push_back(file);
    }
}

void CAudioSettings::SaveWindowSections(CIniFile& ini) const {
    if (m_window.known) {
        for (const WindowKey& k : kWindowKeys)
            ini.Set(kWindowSection, k.key, std::to_string(m_window.*k.field));
        ini.Set(kWindowSection, "Maximized", m_window.maximized ? "1" : "0");
        ini.Set(kWindowSection, "Waveform Scale", std::to_string(m_nWaveformScale));
    }
    if (ini.Get(kPiecesSection, "Silence dB") || m_nSilenceDb != kDefaultSilenceDb ||
        m_nShortestSilenceMs != kDefaultShortestSilenceMs) {
        ini.Set(kPiecesSection, "Silence dB", std::to_string(m_nSilenceDb));
        ini.Set(kPiecesSection, "Shortest Silence ms", std::to_string(m_nShortestSilenceMs));
    }
    for (size_t i = 0; i < kRecentFiles; ++i) {
        if (i < m_recentFiles.size())
            ini.Set(kRecentSection, RecentKey(i), m_recentFiles[i]);
        else
            ini.Remove(kRecentSection, RecentKey(i));
    }
}

bool CAudioSettings::SaveTo(const std::string& path) const {
    if (!m_strUnreadablePath.empty() && path == m_strUnreadablePath)
        return false;
    CIniFile ini;
    ini.Read(path);
    for (const KeyDef& k : kKeys)
        ini.Set(k.section, k.key, k.num ? std::to_string(this->*k.num) : (this->*k.text).str());
    // Not one of the 21 keys a new file holds: written only once a file has been opened.
    if (!m_szLastFolder.empty())
        ini.Set(kLastFolderSection, kLastFolderKey, m_szLastFolder.str());
    SaveWindowSections(ini);
    m_sound.Save(ini);
    return ini.WriteAtomically(path);
}

void CAudioSettings::Validate() {
    m_sound.Validate();
    for (const KeyDef& k : kKeys) {
        if (k.num && (this->*k.num < 0 || this->*k.num > k.max))
            this->*k.num = k.reset;
    }
    // The folders are joined with file names: a relative one would put files wherever the program
    // happens to be started, and one without its '/' would make siblings of the folder.
    for (CBoundedText* folder : {&m_szOutputPath, &m_szTempPath}) {
        if (folder->empty() || folder->str().front() != '/')
            *folder = folder == &m_szOutputPath ? DefaultOutputPath() : DefaultTempPath();
        else if (folder->str().back() != '/')
            *folder = folder->str() + '/';
    }
    if (!m_szLastFolder.empty() && m_szLastFolder.str().front() != '/')
        m_szLastFolder = "";
    if (m_nWaveformScale != 1)
        m_nWaveformScale = 0;
    if (m_nSilenceDb < -90 || m_nSilenceDb > -10)
        m_nSilenceDb = kDefaultSilenceDb;
    if (m_nShortestSilenceMs < 100 || m_nShortestSilenceMs > 60000)
        m_nShortestSilenceMs = kDefaultShortestSilenceMs;
    // Only absolute paths the settings can hold, each once.
    std::vector<std::string> recent;
    for (const std::string& file : m_recentFiles) {
        if (file.front() == '/' && CBoundedText::Cut(file, kPathChars).size() == file.size() &&
            std::find(recent.begin(), recent.end(), file) == recent.end() && recent.size() < kRecentFiles)
            recent.push_back(file);
    }
    m_recentFiles = std::move(recent);
}

bool CAudioSettings::KeepsSourceSound(int format) const {
    switch (format) {
    case FORMAT_FLAC:
        return m_nFlacSoundIndex == 0;
    case FORMAT_OPUS:
        return m_nOpusSoundIndex == 0;
    case FORMAT_M4A:
        return m_nAacSoundIndex == 0;
    default:
        return false;
    }
}

int CAudioSettings::Mp3BitrateFromIndex(int index) {
    static const int kbps[kMp3BitrateCount] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    return index >= 0 && index < kMp3BitrateCount ? kbps[index] : 128;
}

int CAudioSettings::WavSampleRateFromIndex(int index) {
    static const int hz[kWavSampleRateCount] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    return index >= 0 && index < kWavSampleRateCount ? hz[index] : 44100;
}

int CAudioSettings::OggBitrateFromIndex(int index) {
    static const int bps[kOggBitrateCount] = {0,     32000,  40000,  48000,  64000,  80000,
                                              96000, 128000, 160000, 196000, 256000, 350000};
    return index >= 0 && index < kOggBitrateCount ? bps[index] : 0;
}

int CAudioSettings::WmaBitrateFromIndex(int index) {
    static const int bps[kWmaBitrateCount] = {22000, 32000, 36000, 40000,  48000,
                                              64000, 80000, 96000, 128000, 160000};
    return index >= 0 && index < kWmaBitrateCount ? bps[index] : 128000;
}

int CAudioSettings::OpusBitrateFromIndex(int index) {
    static const int kbps[kOpusBitrateCount] = {6,  8,  12,  16,  24,  32,  48, 64,
                                                80, 96, 112, 128, 160, 192, 256};
    return (index >= 0 && index < kOpusBitrateCount ? kbps[index] : 96) * 1000;
}

int CAudioSettings::AacBitrateFromIndex(int index) {
    static const int kbps[kAacBitrateCount] = {64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    return (index >= 0 && index < kAacBitrateCount ? kbps[index] : 160) * 1000;
}
