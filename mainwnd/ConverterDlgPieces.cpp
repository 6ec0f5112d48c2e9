// The main window's list of pieces: adding the marked range, loading a piece's marks, the source's own
// chapters and cue sheet, Split at Silence, and Convert with pieces (PieceList.h does the conversion).

#include "AudioSettings.h"
#include "ConverterDlg.h"
#include "DialogUnits.h"
#include "FileManager.h"
#include "MessageService.h"
#include "OutputNaming.h"
#include "PieceList.h"
#include "PiecesPanel.h"
#include "ProcessingDlg.h"
#include "SystemHelpers.h"

#include <QShortcut>
#include <cmath>

void CConverterDlg::BuildPiecesPanel() {
    const QFont font = DialogFont();
    const QRect frame = DluToPixels(font, 4, 0, 0, 96);
    m_nPiecesHeight = frame.height() + frame.left();
    m_pPieces = new CPiecesPanel(this);
    const QRect base(frame.left(), m_baseSize.height(), m_baseSize.width() - 2 * frame.left(),
                     frame.height());
    m_pPieces->setGeometry(base);
    m_pPieces->hide();
    // Under everything, as wide as the window: it takes the room the window grows by when it shows.
    m_anchors.push_back({m_pPieces, base, 0, 1, 1, 0});

    connect(m_pPieces, &CPiecesPanel::AddRequested, this, [this] { OnAddPiece(); });
    connect(m_pPieces, &CPiecesPanel::SplitRequested, this, [this] { OnSplitAtSilence(); });
    connect(m_pPieces, &CPiecesPanel::PieceSelected, this,
            [this](double start, double end) { OnPieceSelected(start, end); });
    connect(m_pPieces, &CPiecesPanel::PiecesChanged, this, [this] {
        std::vector<std::pair<double, double>> spans;
        for (const Piece& p : m_pPieces->Pieces())
            spans.emplace_back(p.start, std::isfinite(p.end) ? p.end : m_dDuration);
        m_waveform.SetPieces(std::move(spans));
    });
    connect(new QShortcut(Qt::Key_A, this), &QShortcut::activated, this, [this] { OnAddPiece(); });
    // Delete only where the list has the focus: elsewhere the key is the tag fields' and the slider's.
    auto* remove = new QShortcut(QKeySequence::Delete, m_pPieces);
    remove->setContext(Qt::WidgetWithChildrenShortcut);
    connect(remove, &QShortcut::activated, &m_pPieces->m_delete, &QPushButton::click);
}

void CConverterDlg::ShowPiecesPanel(bool show) {
    if (!m_pPieces || m_pPieces->isVisible() == show)
        return;
    // The window grows by the panel's height and the panel takes exactly that: the rest keeps its place.
    const int by = show ? m_nPiecesHeight : -m_nPiecesHeight;
    m_baseSize.rheight() += by;
    setMinimumSize(m_baseSize);
    m_pPieces->setVisible(show);
    resize(width(), height() + by);
}

void CConverterDlg::OnAddPiece() {
    if (!m_bFileLoaded)
        return;
    const double end = m_dEndTime > m_dStartTime ? m_dEndTime : m_dDuration;
    if (!(end > m_dStartTime))
        return;
    ShowPiecesPanel(true);
    m_pPieces->Add(m_dStartTime, end);
    m_status.Announce(QStringLiteral("Piece %1 added").arg(m_pPieces->Pieces().size()));
}

void CConverterDlg::OnPieceSelected(double start, double end) {
    m_dStartTime = start;
    SetLabel(m_labelStart, " Start Time: " + FormatTime(start));
    SetEndMark(std::isfinite(end) ? end : m_dDuration);
    SeekTo(start);
}

void CConverterDlg::OnSplitAtSilence() {
    const auto overview = m_waveformReader.Overview();
    if (!m_bFileLoaded || !overview)
        return;
    if (!overview->IsComplete()) {
        m_pPieces->Tell(QStringLiteral("The waveform is still being read; split again once it is complete."));
        return;
    }
    std::vector<Piece> pieces =
        SplitOverviewAtSilence(*overview, g_settings.m_nSilenceDb, g_settings.m_nShortestSilenceMs / 1000.0);
    if (pieces.empty()) {
        m_pPieces->Tell(QStringLiteral("No sound above %1 dB was found.").arg(g_settings.m_nSilenceDb));
        return;
    }
    ShowPiecesPanel(true);
    m_pPieces->SetPieces(std::move(pieces));
    m_pPieces->Tell(QStringLiteral("%1 pieces between silences: check them on the waveform before Convert.")
                        .arg(m_pPieces->Pieces().size()));
}

void CConverterDlg::OfferPieceTables() {
    if (!m_pPieces)
        return;
    m_pPieces->Clear();
    std::string problem;
    std::vector<Piece> chapters;
    const bool read = ReadChapters(m_strSourcePath, chapters, problem);
    CueSheet sheet;
    const std::string cue = CueSheetBeside(m_strSourcePath);
    if (!cue.empty() && ReadCueSheet(cue, sheet, problem)) {
        m_pPieces->Offer(QStringLiteral("Cue Sheet (%1)").arg(sheet.pieces.size()), sheet.pieces,
                         sheet.title);
    } else if (read && !chapters.empty()) {
        m_pPieces->Offer(QStringLiteral("Chapters (%1)").arg(chapters.size()), chapters, "");
    }
    // A table that cannot be read is told; the source opens as any other.
    if (!problem.empty() && (!cue.empty() || !read))
        m_pPieces->Tell(QString::fromStdString(problem));
    else if (!m_pPieces->m_table.isHidden())
        m_pPieces->Tell(QStringLiteral("This file has its own pieces: ") + m_pPieces->m_table.text());
    ShowPiecesPanel(!m_pPieces->m_table.isHidden() || !m_pPieces->m_note.text().isEmpty() ||
                    m_pPieces->isVisible());
}

bool CConverterDlg::ConvertPieces() {
    if (!m_pPieces || m_pPieces->Pieces().empty())
        return false;
    const int format = g_settings.m_nFormatIndex;
    const int track = m_trackChooser.Track();
    const bool join = m_pPieces->Join();
    if (join && format == FORMAT_ORIGINAL) {
        ShowMessage(
            "Pieces are joined by encoding them: choose a format other than \"original\" to join them.",
            MsgButtons::Ok, this, MsgIcon::Warning);
        return true;
    }
    std::vector<Piece> pieces = m_pPieces->Pieces();
    for (Piece& p : pieces)
        if (!std::isfinite(p.end) && m_dDuration > p.start)
            p.end = m_dDuration;
    const int count = static_cast<int>(pieces.size());
    const std::string folder =
        OutputFolder(m_strSourcePath, g_settings.m_nOutputPathType, g_settings.m_szOutputPath.str());
    const std::string base = SourceBaseName(m_strSourcePath);
    const std::string ext = OutputExtension(format, m_strSourcePath, track);
    if (m_player.GetPlayState() == 2)
        m_player.Pause();
    // Every name is claimed before anything is decoded.
    std::vector<std::shared_ptr<COutputClaim>> outputs;
    std::string refusal;
    for (int k = 1; k <= (join ? 1 : count); ++k) {
        auto claim = join ? COutputClaim::ClaimNumbered(m_strSourcePath, format, g_settings.m_nOutputPathType,
                                                        g_settings.m_szOutputPath.str(), &refusal, track)
                          : ClaimPieceOutput(folder, base, k, count, pieces[static_cast<size_t>(k - 1)].name,
                                             ext, &refusal);
        if (!claim) {
            ShowMessage(refusal, MsgButtons::Ok, this, MsgIcon::Warning);
            return true;
        }
        outputs.push_back(std::move(claim));
    }

    m_status.Announce(QStringLiteral("Converting %1 pieces to ").arg(count) + m_comboFormat.currentText());
    CProcessingDlg dlg(this);
    dlg.m_pieceRun = std::make_unique<CPieceRun>(dlg);
    CPieceRun& run = *dlg.m_pieceRun;
    run.m_strSourcePath = m_strSourcePath;
    run.m_nAudioTrack = track;
    run.m_pieces = pieces;
    run.m_bJoin = join;
    run.m_outputs = std::move(outputs);
    run.m_strAlbum = m_pPieces->OfferedAlbum().empty() ? DefaultPieceAlbum(m_strSourcePath, track)
                                                       : m_pPieces->OfferedAlbum();
    run.m_strTempFolder = g_settings.m_szTempPath.str();
    const int result = dlg.exec();
    std::string written;
    for (const std::string& path : run.Written())
        written += "\n" + path;
    std::string notes;
    for (const std::string& note : run.Notes())
        notes += "\n\n" + note;
    if (result == IDOK) {
        m_status.Announce(QStringLiteral("Converted %1 pieces").arg(run.Written().size()));
        if (ShowMessage("Completed converting! \n\nThe output audio files have been saved to:" + written +
                            notes,
                        MsgButtons::OkShowFolder, this,
                        run.IsShort() ? MsgIcon::Warning : MsgIcon::Information) == IDSHOWFOLDER &&
            !run.Written().empty())
            ShowInFileManager(run.Written().front());
        return true;
    }
    m_status.Announce(dlg.IsFailed() ? QStringLiteral("Converting failed")
                                     : QStringLiteral("Converting cancelled"));
    ShowMessage(
        std::string(dlg.IsFailed() ? "Converting task failed!  " : "Converting task has been canceled!  ") +
            (written.empty() ? "" : "\n\nThe pieces finished before it stay:" + written),
        MsgButtons::Ok, this, MsgIcon::Warning);
    return true;
}
