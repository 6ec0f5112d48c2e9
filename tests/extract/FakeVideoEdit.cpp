// A stand-in for VideoEdit.so: each extraction raises its events from another thread and returns only
// after they were raised, so a test knows they are queued. A WAV path "fail" makes the run fail.
#include "VideoEdit/VideoEdit.h"

#include <string>
#include <thread>

struct VideoEditInstance {
    VE_EVENT_PROC proc;
    void* user;
};

extern "C" {

VE_API VideoEditInstance* veCreate(VE_EVENT_PROC proc, void* user) {
    return new VideoEditInstance{proc, user};
}

VE_API void veDestroy(VideoEditInstance* ve) {
    delete ve;
}

VE_API void veResetExtraction(VideoEditInstance*) {}

VE_API int veSetSourceRange(VideoEditInstance*, const char*, double, double) {
    return 1;
}

VE_API int veExtractToWav(VideoEditInstance* ve, const char* wavPath, int16_t, int32_t, int16_t) {
    const std::string path = wavPath;
    std::thread worker([ve, path] {
        ve->proc(ve->user, VE_EVENT_EXTRACTION_PROGRESS, 1, 2, nullptr);
        if (path == "fail")
            ve->proc(ve->user, VE_EVENT_EXTRACTION_FAILED, 0, 0, "fake failure \xC3\xA4\xC3\xB6");
        else
            ve->proc(ve->user, VE_EVENT_EXTRACTION_FINISHED, 0, 0, nullptr);
    });
    worker.join();
    return 1;
}

#ifndef FAKE_WITHOUT_STOP
VE_API void veStopExtraction(VideoEditInstance*) {}
#endif

VE_API long DllRegisterServer(void) {
    return 0;
}

} // extern "C"
