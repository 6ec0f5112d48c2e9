#include "TestMedia.h"
#include "TestSupport.h"

namespace {

QByteArray Run(const QString& program, const QStringList& args, int* exitCode) {
    std::vector<std::string> list;
    for (const QString& a : args)
        list.push_back(a.toStdString());
    std::string out, err;
    *exitCode = RunProgram(program.toStdString(), list, &out, &err);
    return *exitCode < 0 ? QByteArray() : QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

} // namespace

bool RunFfmpeg(const QStringList& args) {
    int code = 0;
    Run("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"} + args, &code);
    return code == 0;
}

bool MakeTestSource(const std::string& path, double seconds, bool withVideo) {
    const QString d = QString::number(seconds);
    QStringList args{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=" + d,
                     "-f", "lavfi", "-i", "sine=frequency=660:sample_rate=44100:duration=" + d};
    if (withVideo)
        args += {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=15:duration=" + d};
    args += {"-filter_complex", "[0:a][1:a]amerge=inputs=2[a]", "-map", "[a]"};
    if (withVideo)
        args += {"-map", "2:v"};
    args += QString::fromStdString(path);
    return RunFfmpeg(args);
}

long DecodedFrames(const std::string& path) {
    int code = 0;
    const QByteArray pcm = Run("ffmpeg",
                               {"-hide_banner", "-loglevel", "error", "-nostdin", "-i",
                                QString::fromStdString(path), "-f", "s16le", "-ac", "2", "-ar", "44100", "-"},
                               &code);
    return code == 0 ? static_cast<long>(pcm.size() / 4) : -1;
}

std::string ProbeTag(const std::string& path, const std::string& tag) {
    int code = 0;
    const QByteArray out =
        Run("ffprobe",
            {"-v", "error", "-show_entries",
             "format_tags=" + QString::fromStdString(tag) + ":stream_tags=" + QString::fromStdString(tag),
             "-of", "default=noprint_wrappers=1:nokey=1", QString::fromStdString(path)},
            &code);
    return code == 0 ? out.trimmed().split('\n').value(0).toStdString() : std::string();
}
