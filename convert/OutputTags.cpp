#include "OutputTags.h"

#include "AudioSettings.h"
#include "Genres.h"
#include "JobFrame.h"

namespace {

// The window's text unless it is empty or at its first-run default while the source has its own.
std::string Pick(const std::string& window, const char* firstRun, const std::string& source) {
    const std::string text = CleanTagText(window, CAudioSettings::kTagChars);
    if (text.empty() || (text == firstRun && !source.empty()))
        return source;
    return text;
}

} // namespace

OutputTags MergeOutputTags(const SourceTags& source, const CAudioSettings& settings,
                           const std::string& fallbackTitle) {
    OutputTags out;
    out.title = source.title.empty() ? CleanTagText(fallbackTitle) : source.title;
    out.artist = Pick(settings.m_szArtist.str(), "Unknown Artist", source.artist);
    out.album = Pick(settings.m_szAlbum.str(), "Unknown Album", source.album);
    out.year = Pick(settings.m_szYear.str(), "2005", source.date);
    const int genre = settings.m_nGenreIndex;
    const std::string windowGenre = genre >= 0 && genre < kGenreCount ? kGenreNames[genre] : "";
    out.genre = Pick(windowGenre, kGenreNames[0], source.genre);
    out.track = source.track;
    out.comment = source.comment;
    out.cover = source.cover;
    return out;
}

void ApplyPieceTags(OutputTags& tags, const PieceTags& piece, const CAudioSettings& settings) {
    if (!piece.set)
        return;
    tags.title = CleanTagText(piece.title);
    tags.track = piece.track;
    const std::string window = CleanTagText(settings.m_szAlbum.str(), CAudioSettings::kTagChars);
    if (window.empty() || window == "Unknown Album")
        tags.album = CleanTagText(piece.album);
}

OutputTags JobOutputTags(const std::string& fallbackTitle) {
    const CJobState& job = CurrentJob();
    SourceTags source;
    if (job.m_pieceTags.source)
        source = *job.m_pieceTags.source;
    else if (!job.m_strSourcePath.empty())
        ReadSourceTags(job.m_strSourcePath, job.m_nAudioTrack, source);
    OutputTags tags = MergeOutputTags(source, g_settings, fallbackTitle);
    ApplyPieceTags(tags, job.m_pieceTags, g_settings);
    return tags;
}
