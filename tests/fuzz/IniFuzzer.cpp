// The settings file on arbitrary bytes: reading, looking up, changing and rewriting it, and the
// settings record loaded from it, which must come out valid and survive a save and a reload unchanged.

#include "AudioSettings.h"
#include "FuzzCommon.h"
#include "IniFile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string Dir() {
    return FuzzDir("ini");
}

std::string ReadText(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            text.append(buf, n);
        std::fclose(f);
    }
    return text;
}

bool PlainWord(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isalnum(c) || c == '_'; });
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

    // The settings record: valid after loading, and saving and reloading changes nothing (each record
    // is compared through what it saves).
    WriteBytes(path, data, size);
    CAudioSettings settings;
    settings.LoadFrom(path);
    CHECK(settings.m_szTempPath.str().front() == '/' && settings.m_szOutputPath.str().front() == '/');
    const std::string once = Dir() + "once.ini", validated = Dir() + "validated.ini",
                      again = Dir() + "again.ini";
    CHECK(settings.SaveTo(once));
    CAudioSettings copy = settings;
    copy.Validate();
    CHECK(copy.SaveTo(validated));
    CAudioSettings reloaded;
    reloaded.LoadFrom(once);
    CHECK(reloaded.SaveTo(again));
    const std::string saved = ReadText(once);
    if (saved != ReadText(validated) || saved != ReadText(again))
        std::fprintf(stderr, "loaded:\n%s\nreloaded:\n%s\n", saved.c_str(), ReadText(again).c_str());
    CHECK(saved == ReadText(validated));
    CHECK(saved == ReadText(again));
    return 0;
}
