#pragma once

// What the fuzz targets share: a check that stops the run where gtest is not there to report, a private
// folder per target, writing the input to a file and the modules of the program directory.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

inline void Check(bool ok, const char* what, int line) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s (line %d)\n", what, line);
        std::abort();
    }
}
#define CHECK(cond) Check(static_cast<bool>(cond), #cond, __LINE__)

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

// A module of the program directory, loaded once; its entry points by name.
inline void* Module(const char* name) {
    void* handle = dlopen((std::string(QUILLET_BIN_DIR) + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        std::fprintf(stderr, "%s\n", dlerror());
    CHECK(handle);
    return handle;
}

template <class Fn> Fn Entry(void* module, const char* name) {
    auto fn = reinterpret_cast<Fn>(dlsym(module, name));
    CHECK(fn);
    return fn;
}
