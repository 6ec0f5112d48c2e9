#include "CliSoundOptions.h"

#include <cmath>

namespace {

bool ParseNumber(const QString& text, double lowest, double highest, double& out) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < lowest || v > highest)
        return false;
    out = v;
    return true;
}

} // namespace

QList<QCommandLineOption> SoundCliOptions() {
    return {
        {"normalize",
         "Bring the loudness of the range to LUFS (ITU-R BS.1770 / EBU R128, -70 to -5; a bare "
         "--normalize: -16), held back where the true peak would pass the ceiling (see --true-peak).",
         "LUFS"},
        {"true-peak", "The true-peak ceiling of --normalize, in dBTP (-9 to 0; default -1).", "DBTP"},
        {"fade-in", "Fade the start of the range in over MS milliseconds (at most half the range).", "MS"},
        {"fade-out", "Fade the end of the range out over MS milliseconds (at most half the range).", "MS"},
    };
}

QStringList ExpandSoundArguments(QStringList arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--"))
            break;
        if (arguments[i] == QLatin1String("--normalize"))
            arguments[i] = QStringLiteral("--normalize=%1").arg(SoundOptions::kDefaultTarget);
    }
    return arguments;
}

bool ApplySoundCliOptions(const QCommandLineParser& parser, SoundOptions& options, std::string* error) {
    if (parser.isSet("normalize")) {
        if (!ParseNumber(parser.value("normalize"), SoundOptions::kMinTarget, SoundOptions::kMaxTarget,
                         options.targetLufs)) {
            *error = "--normalize takes a loudness in LUFS, -70 to -5";
            return false;
        }
        options.normalize = true;
    }
    if (parser.isSet("true-peak") && !ParseNumber(parser.value("true-peak"), SoundOptions::kMinTruePeak,
                                                  SoundOptions::kMaxTruePeak, options.truePeakDbtp)) {
        *error = "--true-peak takes a ceiling in dBTP, -9 to 0";
        return false;
    }
    for (const auto& [name, field] :
         {std::pair{"fade-in", &SoundOptions::fadeInMs}, std::pair{"fade-out", &SoundOptions::fadeOutMs}}) {
        double ms = 0;
        if (!parser.isSet(name))
            continue;
        if (!ParseNumber(parser.value(name), 0, SoundOptions::kMaxFadeMs, ms)) {
            *error = std::string("--") + name + " takes a length in milliseconds, 0 to 60000";
            return false;
        }
        options.*field = static_cast<int>(std::lround(ms));
    }
    return true;
}
