#pragma once

// What the fuzz targets share: a check that stops the run where gtest is not there to report, a private
// folder per target, and writing the input to a file.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__);                           \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

// A folder of this run's own under /tmp, made once, with a trailing '/'.
inline const std::string& FuzzDir(const char* target) {
    static const std::string dir = [target] {
        std::string pattern = std::string("/tmp/quillet-fuzz-") + target + "-XXXXXX";
        const char* made = mkdtemp(pattern.data());
        CHECK(made);
        return std::string(made) + "/";
    }();
    return dir;
}

inline void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    CHECK(f);
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
}
