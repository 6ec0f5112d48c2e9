#include "SystemHelpers.h"

#include "MessageService.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

namespace {

std::mutex g_appDirMutex;
std::string g_appDirOverride;

} // namespace

void SetAppDirectoryForTesting(const std::string& dir) {
    std::lock_guard lock(g_appDirMutex);
    g_appDirOverride = dir.empty() || dir.back() == '/' ? dir : dir + '/';
}

std::string GetAppDirectory() {
    {
        std::lock_guard lock(g_appDirMutex);
        if (!g_appDirOverride.empty())
            return g_appDirOverride;
    }
    std::string buf(256, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            return "./";
        if (static_cast<size_t>(n) < buf.size()) {
            buf.resize(static_cast<size_t>(n));
            break;
        }
        buf.resize(buf.size() * 2);
    }
    return buf.substr(0, buf.rfind('/') + 1);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectoryPath(const std::string& path) {
    if (path.empty())
        return false;
    // The first component is the root for an absolute path and is never created.
    std::string acc = path.front() == '/' ? "/" : "";
    size_t pos = path.front() == '/' ? 1 : 0;
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        if (next == std::string::npos)
            next = path.size();
        std::string component = path.substr(pos, next - pos);
        pos = next + 1;
        if (component.empty())
            continue;
        if (!acc.empty() && acc.back() != '/')
            acc += '/';
        acc += component;
        if (DirectoryExists(acc))
            continue;
        // Another process may create the level between the test and mkdir; that still counts.
        if (mkdir(acc.c_str(), 0777) != 0 && !(errno == EEXIST && DirectoryExists(acc)))
            return false;
    }
    return true;
}

std::string FormatTime(double seconds) {
    // Callers pass times of zero or more; anything else (a negative span, a time too long for the
    // tenths to count) shows at the nearest end instead of as a negative or wrapped number.
    const double tenths = seconds * 10;
    const int t = tenths >= 1 ? (tenths < INT_MAX ? static_cast<int>(tenths) : INT_MAX) : 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%01d", t / 36000, (t % 36000) / 600, (t % 600) / 10,
                  t % 10);
    return buf;
}

int64_t GetFileSize64(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return -1;
    struct stat st;
    const bool ok = fstat(fileno(f), &st) == 0;
    std::fclose(f);
    return ok ? static_cast<int64_t>(st.st_size) : -1;
}

int32_t GetFileSizeBytes(const std::string& path) {
    const int64_t size = GetFileSize64(path);
    return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
}

uint32_t GetTickCount32() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

int GetDirectXVersion() {
    const unsigned format = avformat_version(), codec = avcodec_version(), util = avutil_version(),
                   resample = swresample_version();
    if (format == 0 || codec == 0 || util == 0 || resample == 0) {
        ShowMessage("Failed to read the versions of the FFmpeg libraries!  ");
        return -1;
    }
    // A runtime of other major versions has another ABI than the one the program was built for.
    const bool same = AV_VERSION_MAJOR(format) == LIBAVFORMAT_VERSION_MAJOR &&
                      AV_VERSION_MAJOR(codec) == LIBAVCODEC_VERSION_MAJOR &&
                      AV_VERSION_MAJOR(util) == LIBAVUTIL_VERSION_MAJOR &&
                      AV_VERSION_MAJOR(resample) == LIBSWRESAMPLE_VERSION_MAJOR;
    return same ? 93 : 50;
}

bool IsRealPlayerInstalled() {
    if (!av_find_input_format("rm"))
        return false;
    for (AVCodecID id : {AV_CODEC_ID_COOK, AV_CODEC_ID_RA_144, AV_CODEC_ID_RA_288, AV_CODEC_ID_SIPR,
                         AV_CODEC_ID_ATRAC3, AV_CODEC_ID_RALF}) {
        if (avcodec_find_decoder(id))
            return true;
    }
    return false;
}

bool SupportsWmaOutput() {
    return WmaOutputMissing().empty();
}

std::string FfmpegPackages() {
    const std::string codec = std::to_string(LIBAVCODEC_VERSION_MAJOR);
    return "libavformat" + std::to_string(LIBAVFORMAT_VERSION_MAJOR) + ", libavcodec" + codec +
           " (or libavcodec-extra" + codec + "), libavutil" + std::to_string(LIBAVUTIL_VERSION_MAJOR) +
           " and libswresample" + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR);
}

std::string WmaOutputMissing() {
    const std::string module = GetAppDirectory() + "WmAudSDK.so";
    if (!FileExists(module))
        return "Sorry, WMA output is not available: the WMA module " + module +
               " is missing.\nPlease reinstall Quillet.";
    if (!avcodec_find_encoder(AV_CODEC_ID_WMAV2) || !av_guess_format("asf", nullptr, nullptr))
        return "Sorry, WMA output is not available: the FFmpeg libraries of this system have no WMA "
               "encoder or no ASF muxer.\nPlease install the complete FFmpeg libraries of your distribution "
               "(on Debian and Ubuntu: " +
               FfmpegPackages() + ").";
    return {};
}

bool ReadFullyAt(int fd, void* data, size_t size, int64_t at) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool WriteFullyAt(int fd, const void* data, size_t size, int64_t at) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = pwrite(fd, p, size, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}
