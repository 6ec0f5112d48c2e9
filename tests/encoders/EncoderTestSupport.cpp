#include "EncoderTestSupport.h"
#include "TestSupport.h"

#include <cmath>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <stdexcept>

LoadedModule::LoadedModule(const std::string& fileName) {
    const std::string path = std::string(QUILLET_BIN_DIR) + fileName;
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr)
        m_error = dlerror();
}

LoadedModule::~LoadedModule() {
    if (m_handle != nullptr)
        dlclose(m_handle);
}

void* LoadedModule::Symbol(const char* name) const {
    return m_handle != nullptr ? dlsym(m_handle, name) : nullptr;
}

namespace {

// A small deterministic generator, so every run encodes the same signal.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : m_state(seed) {}
    int16_t Next() {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<int16_t>(m_state >> 16);
    }

private:
    uint32_t m_state;
};

} // namespace

std::vector<int16_t> MakeTone(size_t frames, uint32_t seed) {
    std::vector<int16_t> pcm(frames * 2);
    Lcg noise(seed);
    const double pi = std::acos(-1.0);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        pcm[2 * i] = static_cast<int16_t>(9000 * std::sin(2 * pi * 440 * t) + noise.Next() / 64);
        pcm[2 * i + 1] = static_cast<int16_t>(7000 * std::sin(2 * pi * 660 * t + seed) + noise.Next() / 64);
    }
    return pcm;
}

std::vector<int16_t> MakeNoise(size_t frames, uint32_t seed) {
    std::vector<int16_t> pcm(frames * 2);
    Lcg noise(seed);
    for (auto& v : pcm)
        v = noise.Next();
    return pcm;
}

ToolResult RunTool(const std::string& program, const std::vector<std::string>& args) {
    ToolResult result;
    result.exitCode = RunProgram(program, args, &result.out, &result.err);
    result.finished = result.exitCode >= 0;
    if (result.exitCode == 127 && result.err.empty())
        result.err = program + " did not start";
    return result;
}

DecodedAudio DecodeWithFfmpeg(const std::string& path) {
    DecodedAudio audio;
    const ToolResult probe = RunTool("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                                 "stream=channels", "-of", "csv=p=0", path});
    if (!probe.finished || probe.exitCode != 0) {
        audio.error = "ffprobe: " + probe.err;
        return audio;
    }
    audio.channels = std::atoi(probe.out.c_str());
    const ToolResult decode = RunTool("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-f", "s16le", "-"});
    if (!decode.finished || decode.exitCode != 0 || audio.channels <= 0) {
        audio.error = "ffmpeg: " + decode.err;
        return audio;
    }
    audio.error = decode.err;
    audio.frames = static_cast<int64_t>(decode.out.size()) / (2 * audio.channels);
    audio.ok = decode.out.size() % static_cast<size_t>(2 * audio.channels) == 0;
    return audio;
}

int64_t DecodeMp3WithMpg123(const std::string& path) {
    // --mono mixes to one channel, so every sample frame is two bytes.
    const ToolResult r = RunTool("mpg123", {"-q", "--mono", "-s", path});
    if (!r.finished || r.exitCode != 0)
        return -1;
    return static_cast<int64_t>(r.out.size() / 2);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void AppendBytes(std::vector<uint8_t>* to, const uint8_t* data, size_t count) {
    to->insert(to->end(), data, data + count);
}
