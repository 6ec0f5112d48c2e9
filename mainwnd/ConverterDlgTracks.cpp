// The main window's part in choosing the audio track: the chooser's row in the Settings group, and the
// preview, the waveform and Convert following the chosen track.
#include "ConverterDlg.h"
#include "DialogUnits.h"

namespace {

// The tag rows of the design, and the same rows moved closer together under a track row.
constexpr int kDesignRows[] = {88, 109, 130, 151};
constexpr int kTrackRow = 85;
constexpr int kRowsUnderTrack[] = {102, 119, 136, 153};

} // namespace

void CConverterDlg::LoadTracks() {
    m_trackChooser.Load(m_strSourcePath);
    PlaceTagRows();
    m_player.SetAudioTrack(m_trackChooser.Track());
}

void CConverterDlg::ClearTracks() {
    m_trackChooser.Clear();
    PlaceTagRows();
}

// Without a chooser the group keeps the design's layout; with one, the rows close up to make room.
void CConverterDlg::PlaceTagRows() {
    const QFont font = DialogFont();
    const bool track = m_trackChooser.IsShown();
    QWidget* const edits[] = {&m_editArtist, &m_editAlbum, &m_editYear, &m_comboGenre};
    for (size_t i = 0; i < std::size(edits); ++i) {
        const int y = track ? kRowsUnderTrack[i] : kDesignRows[i];
        MoveAnchored(m_tagLabels[i], DluToPixels(font, 259, y + 3, 30, 8));
        MoveAnchored(edits[i], DluToPixels(font, 290, y, 68, 13));
    }
    MoveAnchored(&m_labelTrack, DluToPixels(font, 259, kTrackRow + 3, 30, 8));
    MoveAnchored(&m_comboTrack, DluToPixels(font, 290, kTrackRow, 68, 13));
}

void CConverterDlg::OnTrackChosen(int track) {
    m_player.SetAudioTrack(track);
    if (!m_strSourcePath.empty() && m_bFileLoaded) {
        m_waveformReader.Start(m_strSourcePath, track);
        m_waveform.SetOverview(m_waveformReader.Overview());
    }
    ShowCopyHint(true); // what a copy gives depends on the track's codec
}

void CConverterDlg::MoveAnchored(QWidget* widget, const QRect& base) {
    if (!widget)
        return;
    for (Anchor& a : m_anchors) {
        if (a.widget != widget)
            continue;
        a.base = base;
        const int dx = std::max(0, width() - m_baseSize.width());
        const int dy = std::max(0, height() - m_baseSize.height());
        QRect g = base.translated(a.moveX ? dx : 0, a.moveY ? dy : 0);
        g.setSize(g.size() + QSize(a.growW ? dx : 0, a.growH ? dy : 0));
        widget->setGeometry(g);
        return;
    }
    widget->setGeometry(base);
}
