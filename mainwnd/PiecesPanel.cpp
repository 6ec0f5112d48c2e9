#include "PiecesPanel.h"

#include "AudioSettings.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <cmath>

namespace {

// Pieces come from cue sheets to the 75th of a second: the list shows milliseconds.
QString ClockText(double seconds) {
    if (!std::isfinite(seconds))
        return QStringLiteral("end");
    const auto ms = static_cast<long long>(std::llround(seconds * 1000));
    return QString::asprintf("%lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                             ms % 1000);
}

QString PieceName(const Piece& piece, int number) {
    return piece.name.empty() ? QStringLiteral("Piece %1").arg(number) : QString::fromStdString(piece.name);
}

} // namespace

CPiecesPanel::CPiecesPanel(QWidget* parent)
    : QFrame(parent), m_list(0, kColumns, this), m_add(QStringLiteral("Add"), this),
      m_delete(QStringLiteral("Delete"), this), m_table(this),
      m_silence(QStringLiteral("Split at Silence"), this), m_join(QStringLiteral("Join"), this),
      m_silenceDb(this), m_silenceSeconds(this), m_note(this) {
    setFrameStyle(QFrame::StyledPanel);
    m_list.setObjectName(QString::number(IDC_PIECES_LIST));
    m_add.setObjectName(QString::number(IDC_PIECE_ADD));
    m_delete.setObjectName(QString::number(IDC_PIECE_DELETE));
    m_join.setObjectName(QString::number(IDC_PIECES_JOIN));
    m_table.setObjectName(QString::number(IDC_PIECES_TABLE));
    m_silence.setObjectName(QString::number(IDC_PIECES_SILENCE));
    m_silenceDb.setObjectName(QString::number(IDC_SILENCE_DB));
    m_silenceSeconds.setObjectName(QString::number(IDC_SILENCE_SECONDS));
    for (QPushButton* b : {&m_add, &m_delete, &m_table, &m_silence})
        b->setAutoDefault(false);
    m_add.setToolTip(QStringLiteral("Add the marked range as a piece (A)"));
    m_delete.setToolTip(QStringLiteral("Remove the selected piece (Delete)"));
    m_join.setToolTip(QStringLiteral("Convert the pieces, in order, into one file"));
    m_silence.setToolTip(QStringLiteral("Propose pieces between silences, read from the waveform"));
    m_table.hide();

    m_silenceDb.setRange(-90, -10);
    m_silenceDb.setSuffix(QStringLiteral(" dB"));
    m_silenceDb.setValue(g_settings.m_nSilenceDb);
    m_silenceDb.setToolTip(QStringLiteral("Silence is sound below this level (dBFS)"));
    m_silenceSeconds.setRange(0.1, 60);
    m_silenceSeconds.setDecimals(1);
    m_silenceSeconds.setSingleStep(0.1);
    m_silenceSeconds.setSuffix(QStringLiteral(" s"));
    m_silenceSeconds.setValue(g_settings.m_nShortestSilenceMs / 1000.0);
    m_silenceSeconds.setToolTip(QStringLiteral("The shortest silence that separates pieces"));
    connect(&m_silenceDb, &QSpinBox::valueChanged, this, [](int db) { g_settings.m_nSilenceDb = db; });
    connect(&m_silenceSeconds, &QDoubleSpinBox::valueChanged, this,
            [](double s) { g_settings.m_nShortestSilenceMs = static_cast<int>(std::lround(s * 1000)); });

    m_list.setHorizontalHeaderLabels({QStringLiteral("#"), QStringLiteral("Start"), QStringLiteral("End"),
                                      QStringLiteral("Length"), QStringLiteral("Name")});
    m_list.verticalHeader()->hide();
    m_list.setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list.setSelectionMode(QAbstractItemView::SingleSelection);
    m_list.horizontalHeader()->setStretchLastSection(true);
    m_list.setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);

    auto* row = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{&m_add, &m_delete, &m_table, &m_silence, &m_silenceDb,
                                                      &m_silenceSeconds})
        row->addWidget(w);
    row->addStretch();
    row->addWidget(&m_join);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(3);
    column->addLayout(row);
    column->addWidget(&m_list, 1);
    column->addWidget(&m_note);

    connect(&m_add, &QPushButton::clicked, this, &CPiecesPanel::AddRequested);
    connect(&m_delete, &QPushButton::clicked, this, &CPiecesPanel::OnDelete);
    connect(&m_silence, &QPushButton::clicked, this, &CPiecesPanel::SplitRequested);
    connect(&m_table, &QPushButton::clicked, this, [this] {
        SetPieces(m_offered);
        Tell(QString());
    });
    connect(&m_list, &QTableWidget::itemSelectionChanged, this, [this] {
        const int k = Selected();
        if (!m_bFilling && k >= 0)
            emit PieceSelected(m_pieces[static_cast<size_t>(k)].start, m_pieces[static_cast<size_t>(k)].end);
    });
    connect(&m_list, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (m_bFilling || item->column() != kName || item->row() >= static_cast<int>(m_pieces.size()))
            return;
        m_pieces[static_cast<size_t>(item->row())].name = item->text().trimmed().toStdString();
    });
    Refill();
}

void CPiecesPanel::Add(double start, double end) {
    m_pieces.push_back({start, end, "Piece " + std::to_string(m_pieces.size() + 1)});
    Refill();
    // Nothing stays selected: the marks that follow are the next piece's, not a change to this one.
    m_bFilling = true;
    m_list.clearSelection();
    m_bFilling = false;
    m_list.scrollToBottom();
    emit PiecesChanged();
}

void CPiecesPanel::SetPieces(std::vector<Piece> pieces) {
    m_pieces = std::move(pieces);
    for (size_t k = 0; k < m_pieces.size(); ++k)
        if (m_pieces[k].name.empty())
            m_pieces[k].name = "Piece " + std::to_string(k + 1);
    Refill();
    emit PiecesChanged();
}

void CPiecesPanel::Clear() {
    m_pieces.clear();
    Offer(QString(), {}, "");
    Tell(QString());
    Refill();
    emit PiecesChanged();
}

int CPiecesPanel::Selected() const {
    const QList<QTableWidgetItem*> items = m_list.selectedItems();
    return items.isEmpty() ? -1 : items.front()->row();
}

void CPiecesPanel::Select(int row) {
    SelectQuietly(row);
    if (row >= 0 && row < static_cast<int>(m_pieces.size()))
        emit PieceSelected(m_pieces[static_cast<size_t>(row)].start, m_pieces[static_cast<size_t>(row)].end);
}

void CPiecesPanel::SelectQuietly(int row) {
    m_bFilling = true;
    m_list.selectRow(row);
    m_bFilling = false;
}

void CPiecesPanel::MarksChanged(double start, double end) {
    const int k = Selected();
    if (k < 0 || m_bFilling)
        return;
    Piece& piece = m_pieces[static_cast<size_t>(k)];
    if (piece.start == start && piece.end == end)
        return;
    piece.start = start;
    piece.end = end;
    Refill();
    SelectQuietly(k);
    emit PiecesChanged();
}

void CPiecesPanel::Offer(const QString& what, std::vector<Piece> pieces, const std::string& album) {
    m_offered = std::move(pieces);
    m_strOfferedAlbum = album;
    m_table.setText(QStringLiteral("Use ") + what);
    m_table.setVisible(!m_offered.empty());
}

void CPiecesPanel::Tell(const QString& text) {
    m_note.setText(text);
}

void CPiecesPanel::OnDelete() {
    const int k = Selected();
    if (k < 0)
        return;
    m_pieces.erase(m_pieces.begin() + k);
    Refill();
    if (!m_pieces.empty())
        Select(std::min(k, static_cast<int>(m_pieces.size()) - 1));
    emit PiecesChanged();
}

void CPiecesPanel::Refill() {
    m_bFilling = true;
    m_list.clearSelection(); // so that selecting a row again loads its marks
    m_list.setRowCount(static_cast<int>(m_pieces.size()));
    for (int k = 0; k < static_cast<int>(m_pieces.size()); ++k) {
        const Piece& p = m_pieces[static_cast<size_t>(k)];
        const QString texts[kColumns] = {QString::number(k + 1), ClockText(p.start), ClockText(p.end),
                                         ClockText(p.end - p.start), PieceName(p, k + 1)};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            if (c != kName)
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            m_list.setItem(k, c, item);
        }
    }
    m_list.resizeColumnsToContents();
    m_list.horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch); // the width left
    m_delete.setEnabled(!m_pieces.empty());
    m_bFilling = false;
}
