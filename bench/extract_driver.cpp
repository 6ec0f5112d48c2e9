// Runs step 1 the way the program does, through VideoEdit.so loaded at run time, for benchmarks:
//   extract_driver <VideoEdit.so> <source> <start> <end|inf> <wav> [channels rate bytesPerSample]
// Exits 0 after ExtractionFinished, 1 after ExtractionFailed (its message on stderr), 2 on bad use.
#include "VideoEdit/VideoEdit.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex;
std::condition_variable g_done;
int g_result = -1;
std::string g_message;

void OnEvent(void*, int event, double, double, const char* message) {
    if (event == VE_EVENT_EXTRACTION_PROGRESS)
        return;
    std::lock_guard lock(g_mutex);
    g_result = event == VE_EVENT_EXTRACTION_FINISHED ? 0 : 1;
    g_message = message ? message : "";
    g_done.notify_all();
}

template <typename Fn> Fn Symbol(void* library, const char* name) {
    auto fn = reinterpret_cast<Fn>(dlsym(library, name));
    if (!fn) {
        std::fprintf(stderr, "missing %s\n", name);
        std::exit(2);
    }
    return fn;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6 && argc != 9) {
        std::fprintf(stderr, "usage: %s VideoEdit.so source start end wav [channels rate bytes]\n", argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW);
    if (!library) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    auto create = Symbol<decltype(&veCreate)>(library, "veCreate");
    auto destroy = Symbol<decltype(&veDestroy)>(library, "veDestroy");
    auto setRange = Symbol<decltype(&veSetSourceRange)>(library, "veSetSourceRange");
    auto extract = Symbol<decltype(&veExtractToWav)>(library, "veExtractToWav");

    VideoEditInstance* ve = create(&OnEvent, nullptr);
    setRange(ve, argv[2], std::strtod(argv[3], nullptr), std::strtod(argv[4], nullptr));
    const int channels = argc == 9 ? std::atoi(argv[6]) : 2;
    const int rate = argc == 9 ? std::atoi(argv[7]) : 44100;
    const int bytes = argc == 9 ? std::atoi(argv[8]) : 2;
    extract(ve, argv[5], static_cast<int16_t>(channels), rate, static_cast<int16_t>(bytes));
    {
        std::unique_lock lock(g_mutex);
        g_done.wait(lock, [] { return g_result >= 0; });
    }
    destroy(ve);
    if (g_result != 0)
        std::fprintf(stderr, "%s\n", g_message.c_str());
    return g_result;
}
