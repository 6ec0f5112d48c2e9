#pragma once

#include "PieceSources.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <string>
#include <vector>

// The list of pieces under the main window's preview: one row per piece (number, start, end, length,
// name), the commands that fill it (Add, chapters or cue sheet, Split at Silence) and Join. It holds the
// pieces and tells the window what the user did; the window does the marking, the preview and the
// conversion. GUI thread only.
class CPiecesPanel : public QFrame {
    Q_OBJECT
public:
    enum {
        IDC_PIECES_LIST = 1080,
        IDC_PIECE_ADD = 1081,
        IDC_PIECE_DELETE = 1082,
        IDC_PIECES_JOIN = 1083,
        IDC_PIECES_TABLE = 1084, // chapters or cue sheet
        IDC_PIECES_SILENCE = 1085,
        IDC_SILENCE_DB = 1086,
        IDC_SILENCE_SECONDS = 1087,
    };
    enum Column { kNumber, kStart, kEnd, kLength, kName, kColumns };

    explicit CPiecesPanel(QWidget* parent);

    const std::vector<Piece>& Pieces() const { return m_pieces; }
    bool Join() const { return m_join.isChecked(); }
    // Adds a piece after the others, named "Piece k", and leaves no row selected: the marks that follow
    // are the next piece's.
    void Add(double start, double end);
    void SetPieces(std::vector<Piece> pieces);
    void Clear();
    // The selected row, or -1.
    int Selected() const;
    void Select(int row);
    // The marks moved: the selected piece takes them.
    void MarksChanged(double start, double end);
    // A source's own table of pieces (its chapters or the cue sheet beside it), offered on a button;
    // `what` says which ("3 chapters", "cue sheet: 12 tracks"). An empty list takes the offer away.
    void Offer(const QString& what, std::vector<Piece> pieces, const std::string& album);
    const std::string& OfferedAlbum() const { return m_strOfferedAlbum; }
    // Tells the user something about the pieces (a damaged table, a split that found nothing).
    void Tell(const QString& text);

    QTableWidget m_list;
    QPushButton m_add, m_delete, m_table, m_silence;
    QCheckBox m_join;
    QSpinBox m_silenceDb;
    QDoubleSpinBox m_silenceSeconds;
    QLabel m_note;

signals:
    void PieceSelected(double start, double end);
    void PiecesChanged();
    void AddRequested();
    void SplitRequested();

private:
    void Refill();
    void SelectQuietly(int row); // without loading its marks
    void OnDelete();

    std::vector<Piece> m_pieces;
    std::vector<Piece> m_offered;
    std::string m_strOfferedAlbum;
    bool m_bFilling = false;
};
