#pragma once

#include "SoundOptions.h"

#include <string>
#include <string_view>
#include <vector>

class CIniFile;

// A text field with a capacity in characters (UTF-8 code points): a longer text is cut to it, never
// in the middle of a character.
class CBoundedText {
public:
    explicit CBoundedText(size_t maxChars) : m_maxChars(maxChars) {}
    CBoundedText(const CBoundedText&) = default;
    CBoundedText& operator=(const CBoundedText& other) { return *this = std::string_view(other.m_text); }
    CBoundedText& operator=(std::string_view text);

    const std::string& str() const { return m_text; }
    const char* c_str() const { return m_text.c_str(); }
    operator const std::string&() const { return m_text; }
    bool empty() const { return m_text.empty(); }
    size_t MaxChars() const { return m_maxChars; }

    // The longest prefix of text with at most maxChars characters.
    static std::string_view Cut(std::string_view text, size_t maxChars);

private:
    size_t m_maxChars;
    std::string m_text;
};

// The output format index, in the order of the main window's format list.
enum OutputFormat {
    FORMAT_MP3 = 0,
    FORMAT_WAV = 1,
    FORMAT_OGG = 2,
    FORMAT_WMA = 3,
    FORMAT_FLAC = 4,
    FORMAT_OPUS = 5,
    FORMAT_M4A = 6, // AAC in MP4
    FORMAT_ORIGINAL =
        7, // the source's own audio, copied without re-encoding (its container follows the codec)
};

// Every persistent setting, kept in "param.ini" (see SettingsFilePath). Most settings are the index
// of an item of a drop-down list; the accessors turn indices into the values encoders need.
class CAudioSettings {
public:
    static constexpr size_t kPathChars = 1023;
    static constexpr size_t kTagChars = 30;
    static constexpr size_t kYearChars = 4;

    static constexpr int kMp3BitrateCount = 14;
    static constexpr int kWavSampleRateCount = 9;
    static constexpr int kOggBitrateCount = 12;
    static constexpr int kWmaBitrateCount = 10;
    static constexpr int kGenreCount = 148;
    static constexpr int kFlacLevelCount = 9;
    static constexpr int kOpusBitrateCount = 15;
    static constexpr int kAacBitrateCount = 10;

    CAudioSettings() = default;
    virtual ~CAudioSettings() = default;

    // Reads "param.ini"; missing keys take their defaults. Then Validate. A file that is there but
    // cannot be used is named on standard error and left as it is (see LoadFrom).
    void Load();
    // Writes every key to "param.ini". A failed write is ignored.
    void Save() const;
    // The same with another file (the command-line converter reads settings from a file of its
    // choosing). LoadFrom always ends with every field set (defaults for what the file does not give);
    // it tells whether the file was read, and if not, why in *problem. A file that is there but was
    // refused (a folder, a FIFO, a device, one over 1 MB, one that cannot be read) is never written
    // over by SaveTo in this run. SaveTo reports whether the file was written.
    enum class FileRead { Read, Missing, Refused };
    FileRead LoadFrom(const std::string& path, std::string* problem = nullptr);
    bool SaveTo(const std::string& path) const;
    // Resets each out-of-range index field to its reset value.
    void Validate();

    int GetMp3Bitrate() const { return Mp3BitrateFromIndex(m_nMp3BitrateIndex); }
    int GetMp3MaxBitrate() const { return Mp3BitrateFromIndex(m_nMp3VbrBitrateIndex); }
    int GetWavSampleRate() const { return WavSampleRateFromIndex(m_nWavSampleIndex); }
    int GetWavChannels() const { return m_nWavChannelIndex == 0 ? 1 : 2; }
    int GetWavBytesPerSample() const { return m_nWavBitsIndex == 0 ? 1 : 2; }
    int GetOggMinBitrate() const { return OggBitrateFromIndex(m_nOggMinBitrateIndex); }
    int GetOggNominalBitrate() const { return OggBitrateFromIndex(m_nOggNominalBitrateIndex); }
    int GetOggMaxBitrate() const { return OggBitrateFromIndex(m_nOggMaxBitrateIndex); }
    int GetWmaBitrate() const { return WmaBitrateFromIndex(m_nWmaBitrateIndex); }
    int GetFlacCompressionLevel() const { return m_nFlacLevelIndex; }
    int GetOpusBitrate() const { return OpusBitrateFromIndex(m_nOpusBitrateIndex); }
    int GetAacBitrate() const { return AacBitrateFromIndex(m_nAacBitrateIndex); }
    // Whether the format's output keeps the source's rate, depth and channels ("Same as the source")
    // rather than 44100 Hz, stereo, 16 bits. Only FLAC, Opus and M4A can.
    bool KeepsSourceSound(int format) const;

    static int Mp3BitrateFromIndex(int index);    // kbps; 128 for an unknown index
    static int WavSampleRateFromIndex(int index); // Hz; 44100 for an unknown index
    static int OggBitrateFromIndex(int index);    // bits/s, 0 for "Default" and an unknown index
    static int WmaBitrateFromIndex(int index);    // bits/s; 128000 for an unknown index
    static int OpusBitrateFromIndex(int index);   // bits/s; 96000 for an unknown index
    static int AacBitrateFromIndex(int index);    // bits/s; 160000 for an unknown index

    // <home>, ending with '/': $HOME when it is set and absolute, else the password database's entry.
    static std::string HomeFolder();
    static std::string DefaultOutputPath(); // <home>/AUDIO_OUTPUT/
    static std::string DefaultTempPath();   // $XDG_CACHE_HOME/quillet/ (default <home>/.cache/quillet/)

    // Fields in the order of the file. Zero (and empty) until loaded.
    int m_nOutputPathType = 0; // 0 beside the source, 1 in m_szOutputPath
    CBoundedText m_szOutputPath{kPathChars};
    CBoundedText m_szTempPath{kPathChars};
    int m_nFormatIndex = 0; // OutputFormat
    CBoundedText m_szArtist{kTagChars};
    CBoundedText m_szAlbum{kTagChars};
    CBoundedText m_szYear{kYearChars};
    int m_nGenreIndex = 0; // ID3v1 genre number
    int m_nMp3ChannelIndex = 0;
    int m_nMp3BitrateIndex = 0;
    int m_nMp3QualityIndex = 0;
    int m_nMp3VbrQualityIndex = 0; // 0 constant bitrate, 1..10 "0-Best".."9-Lowest"
    int m_nMp3VbrBitrateIndex = 0;
    int m_nWavChannelIndex = 0;
    int m_nWavBitsIndex = 0;
    int m_nWavSampleIndex = 0;
    int m_nOggMinBitrateIndex = 0;
    int m_nOggNominalBitrateIndex = 0;
    int m_nOggMaxBitrateIndex = 0;
    int m_nOggModeIndex = 0; // kept and edited, but no conversion reads it
    int m_nWmaBitrateIndex = 0;
    int m_nFlacLevelIndex = 0; // the compression level itself, 0 fastest to 8 smallest
    int m_nOpusBitrateIndex = 0;
    int m_nOpusApplicationIndex = 0; // 0 audio, 1 VoIP
    int m_nAacBitrateIndex = 0;
    // 0 "Same as the source", 1 "44100 Hz stereo 16 bit"; "Sound Index" of each format's section.
    int m_nFlacSoundIndex = 0;
    int m_nOpusSoundIndex = 0;
    int m_nAacSoundIndex = 0;

    // Beyond the design's keys: the folder of the last file opened, where the Open dialog starts
    // ("Last Folder" in "General", written only once there is one). Empty when unknown.
    CBoundedText m_szLastFolder{kPathChars};

    // Beyond the design's keys, in sections of their own that only the window writes:
    // "Window": where the main window was (Left, Top, Width, Height of its inner area in pixels,
    // Maximized 0/1) and the scale of its waveform (Waveform Scale: 0 linear, 1 decibels), written
    // once the window has set them (known);
    // "Recent Files": File1 (the newest) to File10, the files the window opened last.
    struct WindowPlace {
        bool known = false;
        int left = 0, top = 0, width = 0, height = 0;
        bool maximized = false;
    };
    WindowPlace m_window;
    // Beyond the design's keys: loudness and fades, section "Sound" (SoundOptions.h).
    SoundOptions m_sound;
    int m_nWaveformScale = 0;
    static constexpr size_t kRecentFiles = 10;
    std::vector<std::string> m_recentFiles; // newest first; each at most kPathChars characters

    // Beyond the design's keys, in a section of its own, "Pieces" (written once it differs from the
    // defaults or is there already): where Split at Silence finds silence, "Silence dB" (dBFS, -90 to -10)
    // and "Shortest Silence ms" (100 to 60000).
    static constexpr int kDefaultSilenceDb = -40;
    static constexpr int kDefaultShortestSilenceMs = 1000;
    int m_nSilenceDb = kDefaultSilenceDb;
    int m_nShortestSilenceMs = kDefaultShortestSilenceMs;

private:
    void LoadWindowSections(const CIniFile& ini);
    void SaveWindowSections(CIniFile& ini) const;

    // A settings file that exists but could not be read at the last load; it is never written over.
    std::string m_strUnreadablePath;
};

// The one settings record of the process.
extern CAudioSettings g_settings;

// "param.ini" of the program directory when that directory is writable and not an installed copy
// (a build tree, a portable copy); otherwise $XDG_CONFIG_HOME/quillet/param.ini (by default
// <home>/.config/quillet/). forWriting creates that folder when it is missing.
std::string SettingsFilePath(bool forWriting = false);
