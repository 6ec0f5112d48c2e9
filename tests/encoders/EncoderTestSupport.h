#pragma once

#include "TestMedia.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// The encoder's output buffer with a guard zone behind it, so a write past its stated size shows.
struct GuardedOutput {
    explicit GuardedOutput(uint32_t size) : size(size), buffer(size + 4096, kGuard) {}
    uint8_t* Data() { return buffer.data(); }
    // Appends what the last call wrote and checks the guard zone.
    void Take(uint32_t written) {
        intact =
            intact && std::all_of(buffer.begin() + size, buffer.end(), [](uint8_t b) { return b == kGuard; });
        largest = std::max(largest, written);
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + written);
    }

    static constexpr uint8_t kGuard = 0xA5;
    uint32_t size;
    std::vector<uint8_t> buffer;
    std::vector<uint8_t> bytes;
    bool intact = true;
    uint32_t largest = 0;
};

// Feeds the samples as the jobs do, in chunks whose sizes cycle through `pattern` (0 = the samples per
// chunk), so odd sizes split sample pairs across calls. `write(count, values)` returns false on an error.
template <typename Write>
void FeedChunks(const std::vector<int16_t>& pcm, uint32_t perChunk, const std::vector<uint32_t>& pattern,
                Write write) {
    size_t pos = 0;
    for (size_t i = 0; pos < pcm.size(); ++i) {
        const uint32_t want = pattern[i % pattern.size()] == 0 ? perChunk : pattern[i % pattern.size()];
        const auto n = static_cast<uint32_t>(std::min<size_t>(want, pcm.size() - pos));
        if (!write(n, pcm.data() + pos))
            return;
        pos += n;
    }
}
