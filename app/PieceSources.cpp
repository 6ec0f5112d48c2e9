#include "PieceSources.h"

#include "MediaProbe.h"
#include "MediaTimeline.h"
#include "SourceTags.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/stat.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr size_t kMaxCueBytes = 1 << 20; // a sheet of 99 tracks is a few kilobytes

// A non-negative decimal number, all of the text.
bool ParseNumber(const std::string& text, double& out) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        std::count(text.begin(), text.end(), '.') > 1 || text == ".")
        return false;
    out = std::strtod(text.c_str(), nullptr);
    return std::isfinite(out);
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A cue sheet's argument: "quoted text" or one word.
std::string CueArgument(const std::string& rest) {
    const std::string text = Trim(rest);
    if (!text.empty() && text[0] == '"') {
        const size_t close = text.find('"', 1);
        return text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return text.substr(0, text.find_first_of(" \t"));
}

// mm:ss:ff, frames of 1/75 s.
bool ParseCueTime(const std::string& text, double& seconds) {
    const size_t a = text.find(':'), b = text.find(':', a == std::string::npos ? a : a + 1);
    if (a == std::string::npos || b == std::string::npos || text.find(':', b + 1) != std::string::npos)
        return false;
    const std::string mm = text.substr(0, a), ss = text.substr(a + 1, b - a - 1), ff = text.substr(b + 1);
    for (const std::string* part : {&mm, &ss, &ff})
        if (part->empty() || part->size() > 6 || part->find_first_not_of("0123456789") != std::string::npos)
            return false;
    const long m = std::atol(mm.c_str()), s = std::atol(ss.c_str()), f = std::atol(ff.c_str());
    if (s >= 60 || f >= 75)
        return false;
    seconds = static_cast<double>(m * 60 + s) + static_cast<double>(f) / 75.0;
    return true;
}

} // namespace

bool ParseClock(const std::string& input, double& seconds) {
    const std::string text = Trim(input);
    std::vector<std::string> parts;
    for (size_t from = 0;;) {
        const size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon == std::string::npos ? std::string::npos : colon - from));
        if (colon == std::string::npos)
            break;
        from = colon + 1;
    }
    if (parts.size() > 3)
        return false;
    double total = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        double value = 0;
        const bool last = i + 1 == parts.size();
        // Only the seconds may have a fraction; every part after a colon stays below 60.
        if (!ParseNumber(parts[i], value) || (!last && parts[i].find('.') != std::string::npos) ||
            (i > 0 && value >= 60))
            return false;
        total = total * 60 + value;
    }
    seconds = total;
    return true;
}

bool ParseRange(const std::string& text, Piece& piece) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos || !ParseClock(text.substr(0, dash), piece.start))
        return false;
    const std::string end = Trim(text.substr(dash + 1));
    if (end.empty())
        piece.end = kInfinity;
    else if (!ParseClock(end, piece.end))
        return false;
    return piece.end > piece.start;
}

bool ReadChapters(const std::string& path, std::vector<Piece>& pieces, std::string& problem) {
    pieces.clear();
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* ctx = nullptr;
    if (OpenLocalMedia(&ctx, path) < 0 || avformat_find_stream_info(ctx, nullptr) < 0) {
        avformat_close_input(&ctx);
        problem = "Cannot read " + path + " as a video or audio file.";
        return false;
    }
    const MediaTimeline timeline = TimelineOf(ctx);
    const double length = timeline.length > 0 ? timeline.length : kInfinity;
    struct Entry {
        double start, end;
        std::string title;
    };
    std::vector<Entry> entries;
    for (unsigned i = 0; i < ctx->nb_chapters; ++i) {
        const AVChapter* ch = ctx->chapters[i];
        if (!ch || ch->time_base.num <= 0 || ch->time_base.den <= 0 || ch->start == AV_NOPTS_VALUE)
            continue;
        const double start = timeline.Seconds(ch->start, ch->time_base);
        const double end = ch->end != AV_NOPTS_VALUE && ch->end > ch->start
                               ? timeline.Seconds(ch->end, ch->time_base)
                               : kInfinity;
        const AVDictionaryEntry* title = av_dict_get(ch->metadata, "title", nullptr, 0);
        // A table that points past the file or before it is damaged there, not everywhere.
        if (!std::isfinite(start) || start >= length || end <= 0)
            continue;
        entries.push_back({std::max(start, 0.0), std::min(end, length),
                           title ? CleanTagText(title->value) : std::string()});
    }
    const unsigned total = ctx->nb_chapters;
    avformat_close_input(&ctx);
    // Muxers keep the table in order; a damaged one is put in order, each chapter ending where the next
    // starts at the latest, so no two pieces overlap.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.start < b.start; });
    for (size_t i = 0; i < entries.size(); ++i) {
        const double next = i + 1 < entries.size() ? entries[i + 1].start : length;
        const double end = std::min(entries[i].end, next);
        if (end - entries[i].start > 1e-6)
            pieces.push_back({entries[i].start, end, entries[i].title});
    }
    if (total > 0 && pieces.empty()) {
        problem = "The chapter table of " + path + " is damaged: none of its " + std::to_string(total) +
                  " chapters lies within the file.";
        return false;
    }
    return true;
}

bool ParseCueSheet(const std::string& input, const std::string& name, CueSheet& sheet, std::string& problem) {
    sheet = CueSheet();
    std::string text = input;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    struct Track {
        int number = 0;
        double index0 = -1, index1 = -1;
        std::string title, performer;
    };
    std::vector<Track> tracks;
    int files = 0;
    std::istringstream lines(text);
    std::string line;
    auto fail = [&](int number, const std::string& why) {
        problem = "The cue sheet " + name + " cannot be read: " +
                  (number > 0 ? "line " + std::to_string(number) + ": " : std::string()) + why;
        sheet = CueSheet();
        return false;
    };
    for (int number = 1; std::getline(lines, line); ++number) {
        line = Trim(line);
        const size_t space = line.find_first_of(" \t");
        std::string word = line.substr(0, space);
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char c) { return std::toupper(c); });
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "FILE") {
            if (++files > 1)
                return fail(number,
                            "a sheet of several FILEs is not taken; split it into one sheet per file.");
        } else if (word == "TRACK") {
            const std::string arg = CueArgument(rest);
            const int n = std::atoi(arg.c_str());
            if (arg.empty() || arg.find_first_not_of("0123456789") != std::string::npos || n < 1 || n > 99)
                return fail(number, "TRACK needs a number from 1 to 99.");
            tracks.push_back({});
            tracks.back().number = n;
        } else if (word == "INDEX") {
            std::istringstream args(rest);
            std::string index, time;
            args >> index >> time;
            double seconds = 0;
            if (tracks.empty())
                return fail(number, "INDEX before the first TRACK.");
            if (!ParseCueTime(time, seconds))
                return fail(number, "\"" + time + "\" is no time mm:ss:ff (frames 0 to 74).");
            const int which = std::atoi(index.c_str());
            if (which == 0)
                tracks.back().index0 = seconds;
            else if (which == 1)
                tracks.back().index1 = seconds;
        } else if (word == "TITLE" || word == "PERFORMER") {
            const std::string value = CleanTagText(CueArgument(rest));
            std::string& field = tracks.empty()
                                     ? (word == "TITLE" ? sheet.title : sheet.performer)
                                     : (word == "TITLE" ? tracks.back().title : tracks.back().performer);
            field = value;
        }
    }
    if (tracks.empty())
        return fail(0, "it lists no TRACK.");
    for (size_t i = 0; i < tracks.size(); ++i) {
        const Track& t = tracks[i];
        const std::string label = "track " + std::to_string(t.number);
        if (t.index1 < 0)
            return fail(0, label + " has no INDEX 01.");
        if (t.index0 > t.index1)
            return fail(0, label + ": its INDEX 00 lies after its INDEX 01.");
        if (i > 0 && t.index1 <= tracks[i - 1].index1)
            return fail(0, label + " starts before the track before it ends.");
    }
    for (size_t i = 0; i < tracks.size(); ++i) {
        const Track& t = tracks[i];
        std::string title = t.title;
        if (!t.performer.empty() && t.performer != sheet.performer)
            title = title.empty() ? t.performer : t.performer + " - " + title;
        sheet.pieces.push_back({t.index1, i + 1 < tracks.size() ? tracks[i + 1].index1 : kInfinity, title});
    }
    return true;
}

bool ReadCueSheet(const std::string& path, CueSheet& sheet, std::string& problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "The cue sheet " + path + " cannot be opened.";
        return false;
    }
    std::string text(kMaxCueBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxCueBytes) {
        problem = "The cue sheet " + path + " is too large to be one (more than 1 MB).";
        return false;
    }
    return ParseCueSheet(text, path, sheet, problem);
}

std::string CueSheetBeside(const std::string& sourcePath) {
    const size_t slash = sourcePath.rfind('/');
    const size_t dot = sourcePath.rfind('.');
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                                 ? sourcePath.substr(0, dot)
                                 : sourcePath;
    for (const char* ext : {".cue", ".CUE"}) {
        struct stat st;
        if (stat((stem + ext).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return stem + ext;
    }
    return "";
}

std::vector<Piece> SplitAtSilence(const std::vector<float>& levels, double span, double thresholdDb,
                                  double shortestSilence) {
    std::vector<Piece> pieces;
    if (span <= 0)
        return pieces;
    const float threshold = static_cast<float>(std::pow(10.0, thresholdDb / 20.0));
    const size_t shortest = static_cast<size_t>(std::max(1.0, std::ceil(shortestSilence / span)));
    const size_t count = levels.size();
    size_t soundFrom = 0; // where the current stretch of sound began
    bool inSound = false;
    auto close = [&](size_t to) {
        if (inSound && static_cast<double>(to - soundFrom) * span >= kShortestPiece)
            pieces.push_back({static_cast<double>(soundFrom) * span, static_cast<double>(to) * span, ""});
        inSound = false;
    };
    for (size_t i = 0; i < count;) {
        if (levels[i] >= threshold) {
            if (!inSound) {
                inSound = true;
                soundFrom = i;
            }
            ++i;
            continue;
        }
        size_t quiet = i;
        while (quiet < count && levels[quiet] < threshold)
            ++quiet;
        // A quiet run that is long enough, or the quiet at either end, separates pieces.
        if (quiet - i >= shortest || quiet == count || !inSound)
            close(i);
        i = quiet;
    }
    close(count);
    return pieces;
}
