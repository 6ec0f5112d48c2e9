#pragma once

#include "TestMedia.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// Drives an encoder stream as the jobs do, in chunks whose sizes cycle through `pattern` (0 = the
// samples per chunk), so odd sizes split sample pairs across calls. `write(count, values, out, &written)`
// returns an error code, 0 for success. The output buffer has a guard zone behind it, so a write past
// its stated size shows.
struct ChunkFeeder {
    explicit ChunkFeeder(uint32_t size) : bufferSize(size), buffer(size + 4096, 0xA5) {}
    uint32_t bufferSize;
    std::vector<uint8_t> buffer, bytes;
    bool guardIntact = true;
    uint32_t largest = 0;

    void Take(uint32_t written) {
        guardIntact = guardIntact && std::all_of(buffer.begin() + bufferSize, buffer.end(),
                                                 [](uint8_t b) { return b == 0xA5; });
        largest = std::max(largest, written);
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + written);
    }
    template <typename Write>
    uint32_t Feed(const std::vector<int16_t>& pcm, uint32_t perChunk, const std::vector<uint32_t>& pattern,
                  Write write) {
        for (size_t i = 0, pos = 0; pos < pcm.size(); ++i) {
            const uint32_t want = pattern[i % pattern.size()] == 0 ? perChunk : pattern[i % pattern.size()];
            const auto n = static_cast<uint32_t>(std::min<size_t>(want, pcm.size() - pos));
            uint32_t written = 0;
            if (const uint32_t err = write(n, pcm.data() + pos, buffer.data(), &written); err != 0)
                return err;
            Take(written);
            pos += n;
        }
        return 0;
    }
};
