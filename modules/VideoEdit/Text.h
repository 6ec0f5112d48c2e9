#pragma once

#include <string>
#include <system_error>

extern "C" {
#include <libavutil/error.h>
}

namespace videoedit {

inline std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

inline std::string AvErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

inline std::string ErrnoText(int err) {
    return std::error_code(err, std::generic_category()).message();
}

} // namespace videoedit
