#include "EncoderLibrary.h"

#include "SystemHelpers.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>

void* LoadEncoderModule(const char* fileName) {
    return dlopen((GetAppDirectory() + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* EncoderEntry(void* module, const char* name) {
    return module ? dlsym(module, name) : nullptr;
}

bool WriteAll(std::FILE* file, const void* data, size_t bytes) {
    return bytes == 0 || std::fwrite(data, 1, bytes, file) == bytes;
}

bool CloseOutput(std::FILE*& file) {
    if (!file)
        return true;
    const bool ok = std::fflush(file) == 0 && !std::ferror(file);
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    return ok && closed;
}

std::string SystemReason() {
    const int error = errno;
    return error == 0 ? std::string() : std::string(" (") + std::strerror(error) + ")";
}

std::string FileNameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}
