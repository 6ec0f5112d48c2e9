#include "VideoEdit.h"

#include "SystemHelpers.h"
#include "ThreadHandOver.h"

#include <dlfcn.h>

namespace {

template <typename Fn> bool Resolve(void* library, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(library, name));
    return fn != nullptr;
}

} // namespace

CVideoEdit::CVideoEdit(QObject* parent) : QObject(parent) {
    const std::string path = GetAppDirectory() + "VideoEdit.so";
    m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_library)
        return;
    const bool complete =
        Resolve(m_library, "veCreate", m_create) && Resolve(m_library, "veDestroy", m_destroy) &&
        Resolve(m_library, "veResetExtraction", m_reset) &&
        Resolve(m_library, "veSetSourceRange", m_setSourceRange) &&
        Resolve(m_library, "veExtractToWav", m_extractToWav) &&
        Resolve(m_library, "veSetAudioTrack", m_setAudioTrack) &&
        Resolve(m_library, "veExtractToSourceWav", m_extractToSourceWav) &&
        Resolve(m_library, "veStopExtraction", m_stop) && Resolve(m_library, "veCopyRange", m_copyRange) &&
        Resolve(m_library, "veSetMeasureLoudness", m_setMeasureLoudness) &&
        Resolve(m_library, "veGetLoudness", m_getLoudness);
    if (complete)
        m_instance = m_create(&CVideoEdit::EventProc, this);
    if (!m_instance) {
        dlclose(m_library);
        m_library = nullptr;
    }
}

CVideoEdit::~CVideoEdit() {
    // Joins the extraction thread, so no event procedure runs once this returns; events already
    // queued die with this object.
    if (m_instance)
        m_destroy(m_instance);
    NextGeneration();
    if (m_library)
        dlclose(m_library);
}

void CVideoEdit::ResetExtraction() {
    if (m_instance)
        m_reset(m_instance);
    NextGeneration();
}

bool CVideoEdit::SetSourceRange(const std::string& path, double start, double end) {
    return m_instance && m_setSourceRange(m_instance, path.c_str(), start, end) != 0;
}

bool CVideoEdit::SetAudioTrack(int track) {
    return m_instance && m_setAudioTrack(m_instance, track) != 0;
}

bool CVideoEdit::SetMeasureLoudness(bool on) {
    return m_instance && m_setMeasureLoudness(m_instance, on ? 1 : 0) != 0;
}

CMeasuredLoudness CVideoEdit::MeasuredLoudness() const {
    CMeasuredLoudness result;
    VE_LOUDNESS l{};
    l.dwStructSize = sizeof l;
    if (m_instance && m_getLoudness(m_instance, &l) != 0) {
        result.measured = true;
        result.integratedLufs = l.dIntegratedLufs;
        result.truePeakDbtp = l.dTruePeakDbtp;
    }
    return result;
}

bool CVideoEdit::FailUnloaded() {
    NextGeneration();
    const quint64 generation = m_generation.load();
    m_calls.Post([this, generation] {
        Deliver(generation, VE_EVENT_EXTRACTION_FAILED, 0, 0, QStringLiteral("Error loading VideoEdit.so"));
    });
    return false;
}

bool CVideoEdit::ExtractToWav(const std::string& wavPath, short channels, int sampleRate,
                              short bytesPerSample) {
    if (!m_instance)
        return FailUnloaded();
    // The previous run must be over before the number moves on, or its last events would pass as the
    // new run's.
    m_stop(m_instance);
    NextGeneration();
    return m_extractToWav(m_instance, wavPath.c_str(), channels, sampleRate, bytesPerSample) != 0;
}

bool CVideoEdit::CopyRange(const std::string& outputPath, int track, const CCopyTags& tags) {
    if (!m_instance)
        return FailUnloaded();
    m_stop(m_instance);
    NextGeneration();
    VE_COPY_TAGS t{sizeof(VE_COPY_TAGS), tags.title.c_str(), tags.artist.c_str(),
                   tags.album.c_str(),   tags.year.c_str(),  tags.genre.c_str()};
    return m_copyRange(m_instance, outputPath.c_str(), track, &t) != 0;
}

bool CVideoEdit::DescribeCopy(const std::string& sourcePath, int track, CCopyInfo* info,
                              std::string* message) {
    void* library = dlopen((GetAppDirectory() + "VideoEdit.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    decltype(&veDescribeCopy) describe = nullptr;
    if (!library || !Resolve(library, "veDescribeCopy", describe)) {
        if (library)
            dlclose(library);
        if (message)
            *message = "Error loading VideoEdit.so";
        return false;
    }
    VE_COPY_INFO out{};
    out.dwStructSize = sizeof out;
    char text[1024] = {};
    const bool ok = describe(sourcePath.c_str(), track, &out, text, sizeof text) != 0;
    dlclose(library);
    if (message)
        *message = text;
    if (ok && info) {
        info->exact = out.nExact != 0;
        info->frameSeconds = out.dFrameSeconds;
        info->extension = out.szExtension;
        info->codec = out.szCodec;
    }
    return ok;
}

bool CVideoEdit::ExtractToSourceWav(const std::string& wavPath) {
    if (!m_instance)
        return FailUnloaded();
    m_stop(m_instance);
    NextGeneration();
    return m_extractToSourceWav(m_instance, wavPath.c_str()) != 0;
}

void CVideoEdit::StopExtraction() {
    if (m_instance)
        m_stop(m_instance);
    NextGeneration();
}

void CVideoEdit::EventProc(void* user, int event, double a, double b, const char* message) {
    auto* self = static_cast<CVideoEdit*>(user);
    const quint64 generation = self->m_generation.load();
    const QString text = message ? QString::fromUtf8(message) : QString();
    self->m_calls.Post(
        [self, generation, event, a, b, text] { self->Deliver(generation, event, a, b, text); });
}

void CVideoEdit::Deliver(quint64 generation, int event, double a, double b, const QString& message) {
    if (generation != m_generation.load())
        return;
    switch (event) {
    case VE_EVENT_EXTRACTION_PROGRESS:
        emit ExtractionProgress(a, b);
        break;
    case VE_EVENT_EXTRACTION_FINISHED:
        emit ExtractionFinished(a, message);
        break;
    case VE_EVENT_EXTRACTION_FAILED:
        emit ExtractionFailed(message);
        break;
    default:
        break;
    }
}
