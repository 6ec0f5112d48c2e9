#pragma once

#include "AudioTracks.h" // modules/shared: the one numbering of audio tracks

#include <QComboBox>
#include <QLabel>
#include <QObject>
#include <string>
#include <vector>

// The main window's audio track chooser: a label and a list in the Settings group, shown only while the
// open source has more than one audio track. It lists every track as its users know it ("2: deu, AAC
// stereo, Commentary"), starts at the track the file marks as default (else the first), and tells the
// window when the user picks another. The key T opens the list. GUI thread only; the widgets are the
// window's and outlive this object.
class CTrackChooser : public QObject {
    Q_OBJECT
public:
    CTrackChooser(QWidget* window, QLabel& label, QComboBox& list);

    // Reads the source's tracks (a short probe of its headers) and shows or hides the chooser. Returns
    // whether it is shown.
    bool Load(const std::string& path);
    // No source: hidden, no tracks.
    void Clear();
    bool IsShown() const { return m_tracks.size() > 1; }
    // The chosen track's number; 0 (the default track) while the source has fewer than two.
    int Track() const;
    const std::vector<AudioTrack>& Tracks() const { return m_tracks; }

signals:
    void TrackChosen(int track);

private:
    void Fill();

    QLabel& m_label;
    QComboBox& m_list;
    std::vector<AudioTrack> m_tracks;
};
