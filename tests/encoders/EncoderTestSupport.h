#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A module opened from the program directory by file name, as the program opens it.
class LoadedModule {
public:
    explicit LoadedModule(const std::string& fileName);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool IsLoaded() const { return m_handle != nullptr; }
    const std::string& Error() const { return m_error; }
    template <typename Fn> Fn Get(const char* name) const { return reinterpret_cast<Fn>(Symbol(name)); }

private:
    void* Symbol(const char* name) const;
    void* m_handle = nullptr;
    std::string m_error;
};

// Interleaved stereo test signals, 16-bit. A tone pair with a little noise, and full-scale white noise
// (the hardest input for an encoder's output size).
std::vector<int16_t> MakeTone(size_t frames, uint32_t seed = 1);
std::vector<int16_t> MakeNoise(size_t frames, uint32_t seed = 1);

struct ToolResult {
    bool finished = false;
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs a program without a shell and waits for it (with a generous deadline).
ToolResult RunTool(const std::string& program, const std::vector<std::string>& args);

struct DecodedAudio {
    bool ok = false;
    int channels = 0;
    int64_t frames = -1;
    std::string error;
};
// Decodes the whole file with the FFmpeg command-line tools.
DecodedAudio DecodeWithFfmpeg(const std::string& path);
// Sample frames that mpg123 decodes from an MP3 file; -1 on failure.
int64_t DecodeMp3WithMpg123(const std::string& path);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void AppendBytes(std::vector<uint8_t>* to, const uint8_t* data, size_t count);
