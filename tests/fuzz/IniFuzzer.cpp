// The settings file on arbitrary bytes: reading, looking up, changing and rewriting it, and the
// settings record loaded from it, which must come out valid and survive a save and a reload unchanged.

#include "AudioSettings.h"
#include "FuzzCommon.h"
#include "IniFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string Dir() {
    return FuzzDir("ini");
}

bool PlainWord(const std::string& s) {
    if (s.empty())
        return false;
    for (unsigned char c : s) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    }
    return true;
}

bool SameSettings(const CAudioSettings& a, const CAudioSettings& b) {
    return a.m_nOutputPathType == b.m_nOutputPathType && a.m_szOutputPath.str() == b.m_szOutputPath.str() &&
           a.m_szTempPath.str() == b.m_szTempPath.str() && a.m_nFormatIndex == b.m_nFormatIndex &&
           a.m_szArtist.str() == b.m_szArtist.str() && a.m_szAlbum.str() == b.m_szAlbum.str() &&
           a.m_szYear.str() == b.m_szYear.str() && a.m_nGenreIndex == b.m_nGenreIndex &&
           a.m_nMp3ChannelIndex == b.m_nMp3ChannelIndex && a.m_nMp3BitrateIndex == b.m_nMp3BitrateIndex &&
           a.m_nMp3QualityIndex == b.m_nMp3QualityIndex &&
           a.m_nMp3VbrQualityIndex == b.m_nMp3VbrQualityIndex &&
           a.m_nMp3VbrBitrateIndex == b.m_nMp3VbrBitrateIndex &&
           a.m_nWavChannelIndex == b.m_nWavChannelIndex && a.m_nWavBitsIndex == b.m_nWavBitsIndex &&
           a.m_nWavSampleIndex == b.m_nWavSampleIndex && a.m_nOggMinBitrateIndex == b.m_nOggMinBitrateIndex &&
           a.m_nOggNominalBitrateIndex == b.m_nOggNominalBitrateIndex &&
           a.m_nOggMaxBitrateIndex == b.m_nOggMaxBitrateIndex && a.m_nOggModeIndex == b.m_nOggModeIndex &&
           a.m_nWmaBitrateIndex == b.m_nWmaBitrateIndex;
}

// For a failed round trip: the fields as escaped text, to compare by eye.
void Dump(const char* what, const CAudioSettings& s) {
    std::fprintf(stderr, "%s:", what);
    for (const CBoundedText* t :
         {&s.m_szOutputPath, &s.m_szTempPath, &s.m_szArtist, &s.m_szAlbum, &s.m_szYear}) {
        std::fprintf(stderr, " [");
        for (unsigned char c : t->str())
            std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
        std::fprintf(stderr, "]");
    }
    std::fprintf(stderr, " format %d genre %d\n", s.m_nFormatIndex, s.m_nGenreIndex);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = Dir() + "param.ini";
    WriteBytes(path, data, size);

    // The raw file: look up the keys the program reads, then change one named by the input itself.
    CIniFile ini;
    ini.Read(path);
    for (const char* section : {"General", "mp3", "wav", "ogg", "wma"}) {
        for (const char* key : {"OutputPath", "Format", "Bitrate", "Channel", "x"})
            (void)ini.Get(section, key);
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string section = text.substr(0, std::min<size_t>(size, 8));
    const std::string key = size > 8 ? text.substr(8, std::min<size_t>(size - 8, 8)) : "k";
    const std::string value = size > 16 ? text.substr(16, 40) : "";
    ini.Set(section, key, value);
    if (PlainWord(section) && PlainWord(key) && PlainWord(value)) {
        // A well-formed key set on any file reads back as set, also after a rewrite.
        CHECK(ini.Get(section, key) == value);
        CHECK(ini.WriteAtomically(path));
        CIniFile again;
        CHECK(again.Read(path));
        CHECK(again.Get(section, key) == value);
    } else {
        ini.WriteAtomically(path);
    }

    // The settings record: valid after loading, and saving and reloading changes nothing.
    WriteBytes(path, data, size);
    CAudioSettings settings;
    settings.LoadFrom(path);
    CAudioSettings validated = settings;
    validated.Validate();
    CHECK(SameSettings(settings, validated));
    CHECK(settings.m_nFormatIndex >= 0 && settings.m_nFormatIndex <= 3);
    CHECK(settings.m_szTempPath.str().front() == '/' && settings.m_szOutputPath.str().front() == '/');
    CHECK(settings.GetMp3Bitrate() > 0 && settings.GetWavSampleRate() > 0 &&
          settings.GetOggMinBitrate() >= 0 && settings.GetWmaBitrate() > 0);
    const std::string saved = Dir() + "saved.ini";
    CHECK(settings.SaveTo(saved));
    CAudioSettings reloaded;
    reloaded.LoadFrom(saved);
    if (!SameSettings(settings, reloaded)) {
        Dump("loaded", settings);
        Dump("reloaded", reloaded);
    }
    CHECK(SameSettings(settings, reloaded));
    return 0;
}
