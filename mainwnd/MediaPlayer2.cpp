#include "MediaPlayer2.h"

#include "MediaProbe.h"
#include "ThreadHandOver.h"

#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <mpv/client.h>
#include <mpv/render.h>
#include <system_error>

namespace {

std::string& AudioOutput() {
    static std::string ao;
    return ao;
}

// Ids of the observed properties (reply_userdata of their change events).
enum : uint64_t { kObserveEof = 1, kObservePause, kObserveTimePos, kObserveDuration };

// mpv reads no configuration, runs no scripts or helpers and takes no input of its own; keep-open
// leaves a finished file loaded at its end, which is how the stopped state keeps its position, and
// without pausing there, so that Play and a seek from the end play on without a second request.
const char* const kOptions[][2] = {
    {"config", "no"},
    {"load-scripts", "no"},
    {"load-stats-overlay", "no"},
    {"load-osd-console", "no"},
    {"load-auto-profiles", "no"},
    {"ytdl", "no"},
    {"osc", "no"},
    {"terminal", "no"},
    {"input-default-bindings", "no"},
    {"input-vo-keyboard", "no"},
    {"resume-playback", "no"},
    {"idle", "yes"},
    {"vo", "libmpv"},
    {"hwdec", "no"},
    {"keep-open", "yes"},
    {"keep-open-pause", "no"},
    {"audio-fallback-to-null", "yes"},
    {"audio-client-name", "Quillet"},
    {"cover-art-auto", "no"},
    {"audio-display", "no"},
    {"audio-file-auto", "no"},
    {"sub-auto", "no"},
    {"sid", "no"},
    {"osd-level", "0"},
    {"hr-seek", "yes"},
    // Positions are the file's own timestamps, whatever the demuxer; MediaTimeline maps them.
    {"rebase-start-time", "no"},
};

bool GetFlag(mpv_handle* mpv, const char* name) {
    int flag = 0;
    return mpv_get_property(mpv, name, MPV_FORMAT_FLAG, &flag) >= 0 && flag;
}

} // namespace

// The software renderer's target: rows aligned to 64 bytes, as mpv's fast paths want them.
struct CMediaPlayer2::FrameBuffer {
    std::unique_ptr<uchar, decltype(&std::free)> data{nullptr, &std::free};
    QSize size;
    size_t stride = 0;
    QImage image;

    bool Resize(const QSize& wanted) {
        if (wanted == size && data)
            return true;
        image = QImage();
        size = QSize();
        stride = (static_cast<size_t>(wanted.width()) * 4 + 63) & ~static_cast<size_t>(63);
        data.reset(static_cast<uchar*>(std::aligned_alloc(64, stride * wanted.height())));
        if (!data)
            return false;
        size = wanted;
        image = QImage(data.get(), wanted.width(), wanted.height(), static_cast<qsizetype>(stride),
                       QImage::Format_RGB32);
        return true;
    }
};

void CMediaPlayer2::SetAudioOutputForTesting(const std::string& ao) {
    AudioOutput() = ao;
}

CMediaPlayer2::CMediaPlayer2(QWidget* parent) : QWidget(parent), m_frame(std::make_unique<FrameBuffer>()) {
    setAttribute(Qt::WA_OpaquePaintEvent);

    // libmpv refuses to start unless numbers are read and written the C way; Qt's own formatting
    // does not depend on it.
    std::setlocale(LC_NUMERIC, "C");
    m_mpv = mpv_create();
    if (!m_mpv)
        return;
    for (const auto& option : kOptions)
        mpv_set_option_string(m_mpv, option[0], option[1]);
    if (!AudioOutput().empty())
        mpv_set_option_string(m_mpv, "ao", AudioOutput().c_str());
    if (mpv_initialize(m_mpv) < 0) {
        mpv_terminate_destroy(m_mpv);
        m_mpv = nullptr;
        return;
    }
    mpv_observe_property(m_mpv, kObserveEof, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, kObservePause, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(m_mpv, kObserveTimePos, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(m_mpv, kObserveDuration, "duration", MPV_FORMAT_DOUBLE);

    // Without a render context mpv has no video output: audio still previews.
    char apiType[] = MPV_RENDER_API_TYPE_SW;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, apiType}, {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&m_render, m_mpv, params) < 0)
        m_render = nullptr;
    if (m_render)
        mpv_render_context_set_update_callback(m_render, &CMediaPlayer2::OnRenderUpdate, this);
    mpv_set_wakeup_callback(m_mpv, &CMediaPlayer2::OnMpvWakeup, this);
}

CMediaPlayer2::~CMediaPlayer2() {
    StopScan();
    if (!m_mpv)
        return;
    // Both setters wait for a callback in progress, so none reaches this object afterwards; calls
    // already posted to the GUI thread die with the object.
    mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
    if (m_render) {
        mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
        mpv_render_context_free(m_render);
    }
    mpv_terminate_destroy(m_mpv);
}

void CMediaPlayer2::OnMpvWakeup(void* self) {
    auto* player = static_cast<CMediaPlayer2*>(self);
    if (!player->m_drainQueued.exchange(true))
        PostToGuiThread(player, [player] { player->DrainEvents(); });
}

void CMediaPlayer2::OnRenderUpdate(void* self) {
    auto* player = static_cast<CMediaPlayer2*>(self);
    if (!player->m_renderQueued.exchange(true))
        PostToGuiThread(player, [player] {
            player->m_renderQueued = false;
            player->RenderFrame(false);
        });
}

void CMediaPlayer2::SetAudioTrack(int number) {
    m_audioTrack = std::max(number, 0);
    if (m_mpv && m_phase != Phase::Closed) {
        const std::string aid = number > 0 ? std::to_string(number) : "auto";
        mpv_set_property_string(m_mpv, "aid", aid.c_str());
    }
}

int CMediaPlayer2::GetAudioTrack() const {
    int64_t id = 0;
    return m_mpv && mpv_get_property(m_mpv, "current-tracks/audio/id", MPV_FORMAT_INT64, &id) >= 0
               ? static_cast<int>(id)
               : 0;
}

void CMediaPlayer2::SetFileName(const std::string& utf8Path) {
    // An absolute path never reads as a protocol ("av://", "concat:") to mpv or to libavformat.
    std::error_code ec;
    m_path = utf8Path.empty() ? std::string() : std::filesystem::absolute(utf8Path, ec).string();
    if (ec)
        m_path = utf8Path;
    // mpv would play a folder as a playlist of what it holds, which is not the source, and would wait
    // for ever on a FIFO: only a regular file is a source.
    if (!m_path.empty() && !std::filesystem::is_regular_file(m_path, ec))
        m_path.clear();
    StopScan();
    m_timeline = MediaTimeline();
    const bool probed = !m_path.empty() && ProbeMediaTimeline(m_path, m_timeline);
    m_probedDuration = m_timeline.length;
    m_durationAnnounced = m_probedDuration > 0;
    m_landing.Reset();
    m_lead = 0;
    StartLoad(false);
    if (probed && m_probedDuration == 0)
        StartScan();
}

void CMediaPlayer2::StartScan() {
    m_scanStop = false;
    const uint64_t serial = m_loadSerial;
    try {
        m_scan = std::thread([this, serial, path = m_path] {
            const double seconds = ScanMediaDuration(path, m_scanStop);
            if (seconds > 0)
                PostToGuiThread(this, [this, serial, seconds] {
                    if (serial != m_loadSerial || m_probedDuration > 0)
                        return;
                    m_probedDuration = seconds;
                    if (!m_durationAnnounced) {
                        m_durationAnnounced = true;
                        emit DurationChanged();
                    }
                });
        });
    } catch (const std::system_error&) {
        // Without a thread the duration stays what the player learns by playing.
    }
}

void CMediaPlayer2::StopScan() {
    m_scanStop = true;
    if (m_scan.joinable())
        m_scan.join();
}

void CMediaPlayer2::StartLoad(bool paused) {
    ++m_loadSerial;
    m_bHoldTarget = false;
    SetPauseAt(-1);
    m_entryId = -1;
    m_activeEntry = -1;
    m_paused = paused;
    m_eofReached = false;
    m_timePos = m_timeline.PlayerSeconds(0);
    m_mpvDuration = 0;
    m_seekPending = false;
    m_seekIssued = false;
    m_videoSeen = false;
    m_hasFrame = false;
    update();

    if (!m_mpv || m_path.empty()) {
        FailLoad();
        return;
    }
    int pause = paused ? 1 : 0;
    mpv_set_property_async(m_mpv, 0, "pause", MPV_FORMAT_FLAG, &pause);
    // The path goes as one named argument, so mpv never parses it; the audio track is an option of this
    // file alone (the player-wide one follows what the user last chose in the file before).
    const std::string options =
        "aid=" + (m_audioTrack > 0 ? std::to_string(m_audioTrack) : std::string("auto"));
    const char* keys[] = {"name", "url", "flags", "options"};
    mpv_node values[4];
    const char* texts[] = {"loadfile", m_path.c_str(), "replace", options.c_str()};
    for (int i = 0; i < 4; ++i) {
        values[i].format = MPV_FORMAT_STRING;
        values[i].u.string = const_cast<char*>(texts[i]);
    }
    mpv_node_list list{4, values, const_cast<char**>(keys)};
    mpv_node command{};
    command.format = MPV_FORMAT_NODE_MAP;
    command.u.list = &list;
    mpv_node result{};
    if (mpv_command_node(m_mpv, &command, &result) < 0) {
        FailLoad();
        return;
    }
    if (result.format == MPV_FORMAT_NODE_MAP) {
        for (int i = 0; i < result.u.list->num; ++i) {
            if (std::string_view(result.u.list->keys[i]) == "playlist_entry_id" &&
                result.u.list->values[i].format == MPV_FORMAT_INT64)
                m_entryId = result.u.list->values[i].u.int64;
        }
    }
    mpv_free_node_contents(&result);
    m_phase = Phase::Opening;
    UpdateState();
}

void CMediaPlayer2::DrainEvents() {
    m_drainQueued = false;
    if (!m_mpv)
        return;
    bool flagsChanged = false;
    bool landed = false;
    for (;;) {
        mpv_event* event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        switch (event->event_id) {
        case MPV_EVENT_START_FILE: {
            const auto* start = static_cast<mpv_event_start_file*>(event->data);
            // After a redirection (the file was a playlist) the first entry it names is ours.
            if (m_phase == Phase::Opening && m_entryId < 0)
                m_entryId = start->playlist_entry_id;
            m_activeEntry = start->playlist_entry_id;
            break;
        }
        case MPV_EVENT_FILE_LOADED:
            if (m_phase == Phase::Opening && m_activeEntry == m_entryId) {
                m_phase = Phase::Starting;
                if (m_seekPending && !m_seekIssued)
                    Seek(m_seekTarget);
            }
            break;
        case MPV_EVENT_PLAYBACK_RESTART:
            if (m_activeEntry != m_entryId || (m_phase != Phase::Starting && m_phase != Phase::Loaded))
                break;
            // mpv may fold a seek into the start of the file: one restart then ends both.
            landed = m_seekPending && m_seekIssued && m_seekAcknowledged;
            if (landed) {
                m_seekPending = false;
                m_bHoldTarget = true;
            }
            RefreshPlaybackProperties();
            if (landed && GetPictureWidth() > 0 &&
                m_landing.Late(m_seekTarget, m_timeline.FromPlayerSeconds(m_timePos), FrameSeconds()))
                Seek(m_seekTarget);
            if (m_phase == Phase::Starting) {
                // The first restart after loading: playback has really begun.
                m_phase = Phase::Loaded;
            }
            UpdateState();
            break;
        case MPV_EVENT_END_FILE: {
            const auto* end = static_cast<mpv_event_end_file*>(event->data);
            if (end->playlist_entry_id != m_entryId || m_phase == Phase::Closed)
                break;
            if (end->reason == MPV_END_FILE_REASON_ERROR) {
                FailLoad();
            } else if (end->reason == MPV_END_FILE_REASON_REDIRECT) {
                m_entryId = -1;
            } else if (end->reason == MPV_END_FILE_REASON_EOF && m_phase == Phase::Loaded) {
                // keep-open did not hold the file (it should); it still ended normally.
                m_phase = Phase::Ended;
                m_eofReached = true;
                m_seekPending = false;
                UpdateState();
            } else if (end->reason == MPV_END_FILE_REASON_EOF) {
                FailLoad(); // ended before anything played
            } else {
                m_phase = Phase::Closed;
                UpdateState();
            }
            break;
        }
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto* property = static_cast<mpv_event_property*>(event->data);
            const bool isDouble = property->format == MPV_FORMAT_DOUBLE;
            switch (event->reply_userdata) {
            case kObserveEof:
            case kObservePause:
                // Observed values of different properties may arrive out of mpv's order (a seek
                // seen before the unpause sent ahead of it): read both together instead.
                flagsChanged = true;
                break;
            case kObserveTimePos:
                if (isDouble && m_activeEntry == m_entryId)
                    m_timePos = *static_cast<double*>(property->data);
                CheckPauseAt();
                break;
            case kObserveDuration:
                if (isDouble && m_activeEntry == m_entryId)
                    SetMpvDuration(*static_cast<double*>(property->data));
                break;
            default:
                break;
            }
            break;
        }
        case MPV_EVENT_COMMAND_REPLY:
            if (m_seekPending && m_seekIssued && event->reply_userdata == m_seekSerial) {
                if (event->error < 0)
                    m_seekPending = false;
                else
                    m_seekAcknowledged = true;
            }
            break;
        default:
            break;
        }
    }
    if (flagsChanged && m_phase == Phase::Loaded) {
        RefreshPlayFlags();
        UpdateState();
        CheckPauseAt();
    }
}

void CMediaPlayer2::RefreshPlayFlags() {
    m_paused = GetFlag(m_mpv, "pause");
    m_eofReached = GetFlag(m_mpv, "eof-reached");
    if (!m_paused || m_eofReached)
        m_bHoldTarget = false;
}

void CMediaPlayer2::RefreshPlaybackProperties() {
    RefreshPlayFlags();
    double value = 0;
    if (mpv_get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &value) >= 0)
        m_timePos = value;
    if (mpv_get_property(m_mpv, "duration", MPV_FORMAT_DOUBLE, &value) >= 0)
        SetMpvDuration(value);
}

void CMediaPlayer2::SetMpvDuration(double seconds) {
    m_mpvDuration = seconds > 0 && seconds <= kMaxMediaDuration ? seconds : 0;
    if (m_mpvDuration > 0 && !m_durationAnnounced && m_phase != Phase::Closed && m_phase != Phase::Opening) {
        m_durationAnnounced = true;
        Notify({Notice::kDuration, 0, 0});
    }
}

void CMediaPlayer2::UpdateState() {
    int state = kClosed;
    switch (m_phase) {
    case Phase::Closed:
        state = kClosed;
        break;
    case Phase::Opening:
    case Phase::Starting:
        state = kWaiting;
        break;
    case Phase::Loaded:
        state = m_eofReached ? kStopped : m_paused ? kPaused : kPlaying;
        break;
    case Phase::Ended:
        state = kStopped;
        break;
    }
    if (state == m_state)
        return;
    Notify({Notice::kState, m_state, state});
    m_state = state;
}

void CMediaPlayer2::FailLoad() {
    m_phase = Phase::Closed;
    m_seekPending = false;
    UpdateState();
    if (m_failedSerial != m_loadSerial) {
        m_failedSerial = m_loadSerial;
        Notify({Notice::kError, 0, 0});
    }
}

// Signals always leave from a posted call of their own, never from inside an operation or the event
// loop's drain, so a handler may call back into the player, open another file or run a message box.
void CMediaPlayer2::Notify(const Notice& notice) {
    m_notices.push_back(notice);
    if (m_deliveryQueued)
        return;
    m_deliveryQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_deliveryQueued = false;
            DeliverNotices();
        },
        Qt::QueuedConnection);
}

void CMediaPlayer2::DeliverNotices() {
    QPointer<CMediaPlayer2> alive(this);
    while (alive && !m_notices.empty()) {
        const Notice notice = m_notices.front();
        m_notices.pop_front();
        if (notice.kind == Notice::kError)
            emit Error();
        else if (notice.kind == Notice::kDuration)
            emit DurationChanged();
        else
            emit PlayStateChange(notice.oldState, notice.newState);
    }
}

double CMediaPlayer2::GetDuration() const {
    if (m_probedDuration > 0)
        return m_probedDuration;
    return m_phase == Phase::Loaded || m_phase == Phase::Ended ? std::max(0.0, m_mpvDuration) : 0;
}

double CMediaPlayer2::GetCurrentPosition() const {
    if (m_phase == Phase::Closed)
        return 0;
    // Paused where a seek went, the position is where it was asked to go. mpv's own reading is the
    // shown frame's time there (1.12 s for 1.1 s at 25 frames a second), and for sound alone it runs
    // early by what the audio output holds (0.17 s without a device).
    if (m_seekPending || (m_bHoldTarget && m_phase == Phase::Loaded))
        return m_seekTarget;
    if (m_phase != Phase::Loaded && m_phase != Phase::Ended)
        return 0;
    // At the end the position is the end, not the start of the last video frame; mpv's clock may
    // also run a little past the duration the headers give, which the marks must not exceed.
    const double duration = GetDuration();
    const double position = m_timeline.FromPlayerSeconds(m_timePos);
    if (duration <= 0)
        return std::clamp(position, 0.0, kMaxMediaDuration);
    return m_state == kStopped ? duration : std::clamp(position, 0.0, duration);
}

void CMediaPlayer2::SetCurrentPosition(double seconds) {
    if (!m_mpv || m_phase == Phase::Closed)
        return;
    SetPauseAt(-1);
    seconds = std::max(0.0, GetDuration() > 0 ? std::min(seconds, GetDuration()) : seconds);
    if (m_phase == Phase::Ended) {
        StartLoad(true);
        m_seekPending = true;
        m_seekTarget = seconds;
        return;
    }
    if (m_phase == Phase::Opening) {
        // mpv cannot seek before the file is loaded; the seek goes out with FILE_LOADED.
        m_seekPending = true;
        m_seekIssued = false;
        m_seekTarget = seconds;
        return;
    }
    Seek(seconds);
}

void CMediaPlayer2::Seek(double seconds) {
    m_bHoldTarget = false;
    m_seekPending = true;
    m_seekIssued = true;
    m_seekAcknowledged = false;
    m_seekTarget = seconds;
    ++m_seekSerial;
    // Requests reach mpv's core in the order they are made: the lead is in place for this seek.
    if (m_landing.Lead() != m_lead) {
        m_lead = m_landing.Lead();
        mpv_set_property_async(m_mpv, 0, "hr-seek-demuxer-offset", MPV_FORMAT_DOUBLE, &m_lead);
    }
    mpv_node items[3];
    items[0].format = MPV_FORMAT_STRING;
    items[0].u.string = const_cast<char*>("seek");
    items[1].format = MPV_FORMAT_DOUBLE;
    items[1].u.double_ = m_timeline.PlayerSeconds(seconds);
    items[2].format = MPV_FORMAT_STRING;
    items[2].u.string = const_cast<char*>("absolute+exact");
    mpv_node_list list{3, items, nullptr};
    mpv_node command;
    command.format = MPV_FORMAT_NODE_ARRAY;
    command.u.list = &list;
    if (mpv_command_node_async(m_mpv, m_seekSerial, &command) < 0)
        m_seekPending = false;
}

double CMediaPlayer2::FrameSeconds() const {
    double fps = 0;
    return mpv_get_property(m_mpv, "container-fps", MPV_FORMAT_DOUBLE, &fps) >= 0 && fps > 0 ? 1 / fps : 0.1;
}

int CMediaPlayer2::GetPlayState() const {
    return m_state;
}

int CMediaPlayer2::GetPictureWidth() const {
    if (!m_mpv || (m_phase != Phase::Starting && m_phase != Phase::Loaded))
        return 0;
    // Unavailable when no video track is selected; cover art is a picture of the file, not of the source.
    int albumArt = 0;
    if (mpv_get_property(m_mpv, "current-tracks/video/albumart", MPV_FORMAT_FLAG, &albumArt) < 0 || albumArt)
        return 0;
    int64_t width = 0;
    if (mpv_get_property(m_mpv, "width", MPV_FORMAT_INT64, &width) < 0 || width <= 0)
        mpv_get_property(m_mpv, "current-tracks/video/demux-w", MPV_FORMAT_INT64, &width);
    return static_cast<int>(std::max<int64_t>(0, width));
}

void CMediaPlayer2::Play() {
    if (!m_mpv)
        return;
    switch (m_phase) {
    case Phase::Closed:
        return;
    case Phase::Ended:
        StartLoad(false);
        return;
    case Phase::Loaded:
    case Phase::Opening:
    case Phase::Starting:
        break;
    }
    // Unpausing at the end does nothing by itself; the seek that follows it then plays. The other
    // order could show a moment of pause at the start.
    int pause = 0;
    mpv_set_property_async(m_mpv, 0, "pause", MPV_FORMAT_FLAG, &pause);
    if (m_phase == Phase::Loaded && m_eofReached && !m_seekPending)
        Seek(0);
}

void CMediaPlayer2::Pause() {
    SetPauseAt(-1);
    if (!m_mpv || m_phase == Phase::Closed || m_phase == Phase::Ended)
        return;
    int pause = 1;
    mpv_set_property_async(m_mpv, 0, "pause", MPV_FORMAT_FLAG, &pause);
}

bool CMediaPlayer2::IsShownOnScreen() const {
    return isVisible() && !window()->isMinimized() && width() > 0 && height() > 0;
}

// Draws only while shown; a hidden player still takes mpv's frames (without drawing them) so that
// its video output never waits for us.
void CMediaPlayer2::RenderFrame(bool force) {
    if (!m_render)
        return;
    const bool newFrame = mpv_render_context_update(m_render) & MPV_RENDER_UPDATE_FRAME;
    if (newFrame)
        m_videoSeen = true;
    if (!newFrame && !(force && m_videoSeen))
        return;
    int noBlock = 0;
    if (!IsShownOnScreen()) {
        int skip = 1;
        mpv_render_param params[] = {{MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
                                     {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &noBlock},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
        mpv_render_context_render(m_render, params);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize target(qRound(width() * ratio), qRound(height() * ratio));
    if (!m_frame->Resize(target))
        return;
    int size[2] = {target.width(), target.height()};
    char format[] = "bgr0"; // QImage::Format_RGB32 in memory order on little-endian machines
    size_t stride = m_frame->stride;
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, size},
                                 {MPV_RENDER_PARAM_SW_FORMAT, format},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                 {MPV_RENDER_PARAM_SW_POINTER, m_frame->data.get()},
                                 {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &noBlock},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_render(m_render, params) < 0)
        return;
    // The padding byte is undefined; RGB32 wants it opaque.
    for (int y = 0; y < target.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(m_frame->data.get() + m_frame->stride * y);
        for (int x = 0; x < target.width(); ++x)
            row[x] |= 0xff000000u;
    }
    m_frame->image.setDevicePixelRatio(ratio);
    m_hasFrame = true;
    update();
}

void CMediaPlayer2::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage& image = m_frame->image;
    if (!m_hasFrame || image.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const QSizeF imageSize = image.deviceIndependentSize();
    if (imageSize.toSize() == size()) {
        painter.drawImage(QPointF(0, 0), image);
        return;
    }
    // A frame of an earlier size, until mpv draws one for the new size.
    painter.fillRect(rect(), Qt::black);
    const QSizeF fitted = imageSize.scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.drawImage(target, image);
}

void CMediaPlayer2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RequestRedraw();
}

void CMediaPlayer2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    RequestRedraw();
}

void CMediaPlayer2::RequestRedraw() {
    if (!m_render || !m_videoSeen || m_redrawQueued)
        return;
    m_redrawQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_redrawQueued = false;
            RenderFrame(true);
        },
        Qt::QueuedConnection);
}

void CMediaPlayer2::SetPauseAt(double seconds) {
    m_pauseAt = seconds >= 0 ? seconds : -1;
    m_pauseAtSeenPos = -1;
    m_pauseAtTimer.stop();
    CheckPauseAt();
}

// Watched at every position mpv reports and, in between, by a timer set for the moment the time should
// come, so the pause falls within a few milliseconds of it.
void CMediaPlayer2::CheckPauseAt() {
    if (m_pauseAt < 0)
        return;
    if (m_phase == Phase::Closed || m_phase == Phase::Ended || (m_phase == Phase::Loaded && m_eofReached)) {
        SetPauseAt(-1);
        return;
    }
    if (m_phase != Phase::Loaded || m_paused || m_seekPending)
        return; // not playing yet: looked at again when it is
    double pos = m_timePos;
    mpv_get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &pos);
    pos = m_timeline.FromPlayerSeconds(pos);
    // The position moves in steps of a video frame; in between, the clock tells how far it has come.
    const auto now = std::chrono::steady_clock::now();
    if (pos != m_pauseAtSeenPos) {
        m_pauseAtSeenPos = pos;
        m_pauseAtSeenTime = now;
    } else {
        pos += std::min(0.1, std::chrono::duration<double>(now - m_pauseAtSeenTime).count());
    }
    const double left = m_pauseAt - pos;
    if (left > 0.005) {
        m_pauseAtTimer.start(std::clamp(static_cast<int>(left * 1000), 1, 200), Qt::PreciseTimer, this);
        return;
    }
    const double at = m_pauseAt;
    m_pauseAt = -1;
    m_pauseAtTimer.stop();
    int pause = 1;
    mpv_set_property_async(m_mpv, 0, "pause", MPV_FORMAT_FLAG, &pause);
    Seek(at);
}

void CMediaPlayer2::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_pauseAtTimer.timerId())
        CheckPauseAt();
    else
        QWidget::timerEvent(event);
}
