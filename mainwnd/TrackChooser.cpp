#include "TrackChooser.h"

#include <QAbstractItemView>
#include <QShortcut>

namespace {

// Wide enough for "2: deu, AAC stereo, Commentary"; longer names show whole in the open list.
constexpr int kListTextChars = 48;

} // namespace

CTrackChooser::CTrackChooser(QWidget* window, QLabel& label, QComboBox& list)
    : QObject(window), m_label(label), m_list(list) {
    m_label.setBuddy(&m_list);
    m_list.setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_list.setMinimumContentsLength(4);
    m_list.setToolTip(QStringLiteral("The audio track to preview and convert (T)"));
    m_label.hide();
    m_list.hide();
    connect(&m_list, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(m_tracks.size())) {
            m_list.setToolTip(m_list.currentText());
            emit TrackChosen(m_tracks[static_cast<size_t>(index)].number);
        }
    });
    connect(new QShortcut(Qt::Key_T, window), &QShortcut::activated, this, [this] {
        if (!m_list.isVisible() || !m_list.isEnabled())
            return;
        m_list.setFocus(Qt::ShortcutFocusReason);
        m_list.showPopup();
    });
}

bool CTrackChooser::Load(const std::string& path) {
    ProbeAudioTracks(path, m_tracks);
    Fill();
    return IsShown();
}

void CTrackChooser::Clear() {
    m_tracks.clear();
    Fill();
}

void CTrackChooser::Fill() {
    QSignalBlocker block(m_list);
    m_list.clear();
    const bool shown = IsShown();
    if (shown) {
        const int chosen = DefaultAudioTrack(m_tracks);
        for (const AudioTrack& t : m_tracks)
            m_list.addItem(QString::fromStdString(DescribeAudioTrack(t)));
        m_list.setCurrentIndex(chosen - 1);
        m_list.setToolTip(m_list.currentText());
        const int wide = m_list.fontMetrics().averageCharWidth() * kListTextChars;
        m_list.view()->setMinimumWidth(std::max(m_list.width(), wide));
    }
    m_label.setVisible(shown);
    m_list.setVisible(shown);
}

int CTrackChooser::Track() const {
    if (!IsShown() || m_list.currentIndex() < 0)
        return 0;
    return m_tracks[static_cast<size_t>(m_list.currentIndex())].number;
}
