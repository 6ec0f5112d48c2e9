#include "PieceList.h"

#include "AudioSettings.h"
#include "MessageService.h"
#include "OutputNaming.h"
#include "PcmFile.h"
#include "PeakOverview.h"
#include "SourceTags.h"
#include "SystemHelpers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

int NumberWidth(int count) {
    int width = 2;
    for (int limit = 100; count >= limit && width < 9; limit *= 10)
        ++width;
    return width;
}

void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetLE32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Where the samples of a WAV file lie: the canonical 44-byte header (whose 8-bit PCM the hand-over
// parser does not take) or any header ParseWavHeader reads.
struct WavData {
    bool canonical = false;
    uint8_t head[kPcmHeaderBytes] = {};
    WavLayout layout;
};

bool ReadWavData(int fd, const std::string& path, WavData& wav, std::string& problem) {
    struct stat st;
    uint8_t head[4096] = {};
    const ssize_t got = fstat(fd, &st) == 0 ? pread(fd, head, sizeof head, 0) : -1;
    if (got < 44) {
        problem = path + " is no WAV file.";
        return false;
    }
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    std::memcpy(wav.head, head, std::min<size_t>(static_cast<size_t>(got), kPcmHeaderBytes));
    if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 12, "fmt ", 4) == 0 &&
        GetLE32(head + 16) == 16 && std::memcmp(head + 36, "data", 4) == 0) {
        wav.canonical = true;
        wav.layout.dataOffset = 44;
        wav.layout.dataBytes = std::min<uint64_t>(GetLE32(head + 40), fileSize - 44);
        return true;
    }
    if (!ParseWavHeader(head, static_cast<size_t>(got), fileSize, wav.layout, problem)) {
        problem = path + ": " + problem;
        return false;
    }
    return true;
}

} // namespace

std::string PieceNamePart(const std::string& name, int number) {
    std::string text = CleanTagText(name);
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("/\\:*?\"<>|", c))
            c = '_';
    }
    // Names that are all dots or end in a dot or blank confuse other systems' file managers.
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? "Piece " + std::to_string(number) : text;
}

std::string PieceFileStem(const std::string& base, int number, int count, const std::string& name) {
    return base + Format(" - %0*d - ", NumberWidth(count), number) + PieceNamePart(name, number);
}

std::shared_ptr<COutputClaim> ClaimPieceOutput(const std::string& folder, const std::string& base, int number,
                                               int count, const std::string& name, const std::string& ext,
                                               std::string* error) {
    const std::string stem = PieceFileStem(base, number, count, name);
    return COutputClaim::ClaimFirstFree([&](int n) { return PieceCandidate(folder, stem, n, ext); }, error);
}

std::string ExpandPiecePattern(const std::string& pattern, const std::string& base, int number, int count,
                               const std::string& name) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 == pattern.size()) {
            out += pattern[i];
            continue;
        }
        switch (pattern[++i]) {
        case 'b':
            out += base;
            break;
        case 'n':
            out += Format("%0*d", NumberWidth(count), number);
            break;
        case 't':
            out += PieceNamePart(name, number);
            break;
        default:
            out += pattern[i];
        }
    }
    return out;
}

bool AppendWavData(const std::string& into, const std::string& from, std::string& problem) {
    const int out = open(into.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    const int in = open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    auto finish = [&](bool ok, const std::string& text) {
        if (!ok)
            problem = text;
        if (out >= 0 && close(out) != 0 && ok) {
            problem = "Cannot write " + into + " (" + std::strerror(errno) + ").";
            ok = false;
        }
        if (in >= 0)
            close(in);
        return ok;
    };
    if (out < 0 || in < 0)
        return finish(false, "Cannot open " + (out < 0 ? into : from) + " (" + std::strerror(errno) + ").");
    WavData a, b;
    if (!ReadWavData(out, into, a, problem) || !ReadWavData(in, from, b, problem))
        return finish(false, problem);
    const bool same =
        a.canonical == b.canonical &&
        (a.canonical ? std::memcmp(a.head + 20, b.head + 20, 16) == 0 : a.layout.format == b.layout.format);
    if (!same || (!a.canonical && a.layout.dataOffset != kPcmHeaderBytes))
        return finish(false,
                      "The pieces of " + into + " do not have the same sound format; they cannot be joined.");
    const uint64_t total = a.layout.dataBytes + b.layout.dataBytes;
    if (a.canonical && total > 0xFFFFFFFFull - 36)
        return finish(false, "The joined pieces are too long for one WAV file (4 GB).");
    std::vector<uint8_t> buffer(1 << 20);
    for (uint64_t done = 0; done < b.layout.dataBytes;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), b.layout.dataBytes - done));
        if (!ReadFullyAt(in, buffer.data(), n, static_cast<off_t>(b.layout.dataOffset + done)))
            return finish(false, "Cannot read " + from + ".");
        if (!WriteFullyAt(out, buffer.data(), n,
                          static_cast<off_t>(a.layout.dataOffset + a.layout.dataBytes + done)))
            return finish(false, "Cannot write " + into + " (" + std::strerror(errno) + ").");
        done += n;
    }
    if (a.canonical) {
        PutLE32(a.head + 4, static_cast<uint32_t>(36 + total));
        PutLE32(a.head + 40, static_cast<uint32_t>(total));
        if (!WriteFullyAt(out, a.head, 44, 0))
            return finish(false, "Cannot write " + into + " (" + std::strerror(errno) + ").");
    } else {
        uint8_t header[kPcmHeaderBytes];
        BuildPcmHeader(header, a.layout.format, total);
        if (!WriteFullyAt(out, header, sizeof header, 0))
            return finish(false, "Cannot write " + into + " (" + std::strerror(errno) + ").");
    }
    // Nothing may follow the samples (a file that had a tail after its data would now be cut short).
    if (ftruncate(out, static_cast<off_t>(a.layout.dataOffset + total)) != 0)
        return finish(false, "Cannot write " + into + " (" + std::strerror(errno) + ").");
    return finish(true, "");
}

std::vector<Piece> SplitOverviewAtSilence(const CPeakOverview& overview, double thresholdDb,
                                          double shortestSilence) {
    const double covered = overview.CoveredSeconds();
    if (covered <= 0)
        return {};
    // A span of 10 ms (or one bin where bins are longer) sees a gap between words without counting
    // every bin of a long file.
    constexpr double kSpan = 0.01;
    const auto count = static_cast<size_t>(std::ceil(covered / kSpan));
    std::vector<CPeakOverview::Peak> peaks;
    overview.Spans(0, kSpan, count, peaks);
    std::vector<float> levels(peaks.size());
    for (size_t i = 0; i < peaks.size(); ++i)
        levels[i] =
            static_cast<float>(std::max(std::abs(int{peaks[i].lo}), std::abs(int{peaks[i].hi}))) / 32768.0f;
    std::vector<Piece> pieces = SplitAtSilence(levels, kSpan, thresholdDb, shortestSilence);
    for (Piece& piece : pieces)
        piece.end = std::min(piece.end, covered);
    return pieces;
}

std::string DefaultPieceAlbum(const std::string& sourcePath, int track) {
    SourceTags tags;
    if (ReadSourceTags(sourcePath, track, tags) && !tags.title.empty())
        return tags.title;
    return CleanTagText(SourceBaseName(sourcePath));
}

// The run's presenter for each piece's job: "Piece k of n" in the caption, one bar over the whole run
// (each piece a share, each of its steps a share of that).
class CPieceRun::View : public IJobView {
public:
    View(IJobView& outer, int count) : m_outer(outer), m_count(count) {}
    void Begin(int index, int steps) {
        std::lock_guard lock(m_mutex);
        m_index = index;
        m_steps = steps;
        m_step = 0;
        m_lower = 0;
        m_upper = 1;
    }
    void SetCaption(const std::string& text) override {
        // A joined run is one job: its caption is the single conversion's.
        m_outer.SetCaption(m_count > 1 ? Format("Piece %d of %d - ", m_index + 1, m_count) + text : text);
    }
    void SetStep(const std::string& text) override {
        {
            std::lock_guard lock(m_mutex);
            m_step = std::min(m_step + 1, m_steps);
        }
        m_outer.SetStep(text);
    }
    void SetElapsed(const std::string& text) override { m_outer.SetElapsed(text); }
    void SetTimeLeft(const std::string& text) override { m_outer.SetTimeLeft(text); }
    void SetProgressRange(int lower, int upper) override {
        std::lock_guard lock(m_mutex);
        m_lower = lower;
        m_upper = upper > lower ? upper : lower + 1;
        if (!m_rangeSet)
            m_outer.SetProgressRange(0, kScale);
        m_rangeSet = true;
    }
    void SetProgressPos(int pos) override {
        int whole;
        {
            std::lock_guard lock(m_mutex);
            const double inStep =
                std::clamp(static_cast<double>(pos - m_lower) / (m_upper - m_lower), 0.0, 1.0);
            const double inPiece = (std::max(m_step - 1, 0) + inStep) / std::max(m_steps, 1);
            whole = static_cast<int>((m_index + inPiece) / m_count * kScale);
        }
        m_outer.SetProgressPos(whole);
    }

private:
    static constexpr int kScale = 1000;
    IJobView& m_outer;
    const int m_count;
    std::mutex m_mutex;
    int m_index = 0, m_steps = 1, m_step = 0, m_lower = 0, m_upper = 1;
    bool m_rangeSet = false;
};

CPieceRun::CPieceRun(IJobView& view, QObject* parent) : QObject(parent), m_outer(view) {}

CPieceRun::~CPieceRun() {
    if (m_job && !m_job->IsEnded())
        m_job->Cancel();
}

void CPieceRun::Start() {
    const int jobs = m_bJoin ? 1 : static_cast<int>(m_pieces.size());
    m_view = std::make_unique<View>(m_outer, jobs);
    auto tags = std::make_shared<SourceTags>();
    ReadSourceTags(m_strSourcePath, m_nAudioTrack, *tags);
    m_sourceTags = std::move(tags);
    m_nPiece = 0;
    StartPiece();
}

void CPieceRun::StartPiece() {
    const int format = g_settings.m_nFormatIndex;
    const int count = static_cast<int>(m_pieces.size());
    m_view->Begin(static_cast<int>(m_nPiece), format == FORMAT_WAV || format == FORMAT_ORIGINAL ? 1 : 2);
    m_job = std::make_unique<CConversionJob>(*m_view);
    CConversionJob& job = *m_job;
    job.m_strSourcePath = m_strSourcePath;
    job.m_nAudioTrack = m_nAudioTrack;
    job.m_output = m_nPiece < m_outputs.size() ? m_outputs[m_nPiece] : nullptr;
    job.m_strOutputPath = job.m_output ? job.m_output->Path() : "";
    if (m_bJoin) {
        job.m_joinRanges = m_pieces;
        job.m_dStartTime = m_pieces.front().start;
        job.m_dEndTime = m_pieces.front().end;
    } else {
        const Piece& piece = m_pieces[m_nPiece];
        job.m_dStartTime = piece.start;
        job.m_dEndTime = piece.end;
        job.m_pieceTags = {true, piece.name.empty() ? "Piece " + std::to_string(m_nPiece + 1) : piece.name,
                           Format("%d/%d", static_cast<int>(m_nPiece) + 1, count), m_strAlbum, m_sourceTags};
    }
    if (format != FORMAT_WAV && format != FORMAT_ORIGINAL) {
        job.m_tempWav = CTempWavFile::Reserve(m_strTempFolder);
        if (!job.m_tempWav) {
            ShowMessage("Cannot create a temporary file in " + m_strTempFolder + " (" + std::strerror(errno) +
                            ").",
                        MsgButtons::Ok, nullptr, MsgIcon::Warning);
            m_bFailed = true;
            End(IDCANCEL);
            return;
        }
    }
    job.m_strTempWavPath = job.m_tempWav ? job.m_tempWav->Path() : m_strTempFolder + CTempWavFile::kName;
    connect(&job, &CConversionJob::Ended, this, &CPieceRun::OnJobEnded, Qt::QueuedConnection);
    job.m_bEndPromptly = true;
    job.Start();
}

void CPieceRun::OnJobEnded(int result) {
    if (IsEnded() || !m_job)
        return;
    if (result != IDOK) {
        m_bFailed = m_job->IsFailed();
        End(result);
        return;
    }
    m_written.push_back(m_job->m_strOutputPath);
    if (!m_job->ClosingNote().empty())
        m_notes.push_back(m_job->ClosingNote());
    if (m_job->IsShort()) {
        m_bShort = true;
        m_notes.push_back(m_job->ShortWarning());
    }
    const size_t jobs = m_bJoin ? 1 : m_pieces.size();
    if (++m_nPiece >= jobs) {
        End(IDOK);
        return;
    }
    StartPiece(); // the finished job is let go here, outside its own signal
}

void CPieceRun::Cancel() {
    if (IsEnded())
        return;
    if (m_job)
        m_job->Cancel();
    End(IDCANCEL);
}

void CPieceRun::End(int result) {
    if (IsEnded())
        return;
    m_nResult = result;
    // Claims of pieces never started go; their empty files are no result.
    m_outputs.clear();
    emit Ended(result);
}
