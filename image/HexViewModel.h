// Table models of the two hex views. A refresh takes a copy of the image's
// bytes (a plain memcpy, even for 128 KB) and the cells are formatted only
// when the view asks for them, so rebuilding the view of the largest device
// costs microseconds instead of building 65536 strings up front.
//
// Column 0 ("Adr") holds the row's first byte address, "%04x"; the other
// eight columns hold one program word ("%02x%02x", high byte then low byte)
// or one data byte ("%02X"). An edit replaces only the shown text of one cell
// of the program view; the image is never written, and the next refresh
// shows the image again. The data view never takes an edit.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <unordered_map>
#include <vector>

class CHexViewModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum class Kind { Program, Data };

    static constexpr int kCellColumns = 8;
    static constexpr int kColumnCount = kCellColumns + 1;  // "Adr" and eight cells
    static constexpr int kAddressColumn = 0;

    explicit CHexViewModel(Kind kind, QObject* parent = nullptr);

    Kind GetKind() const { return m_kind; }
    // Bytes covered by one cell (2 for a program word, 1 for a data byte)
    // and by one row.
    int BytesPerCell() const;
    int BytesPerRow() const { return BytesPerCell() * kCellColumns; }
    // Digits of the longest text each column can show: the last row's
    // address (at least four), and four or two for the cells.
    int AddressDigits() const;
    int CellDigits() const;

    // Rebuilds the rows from the image: one row per BytesPerRow() bytes below
    // size. An empty image or a size of 0 or less gives no rows. Edited texts
    // are dropped.
    void Refresh(const std::vector<uint8_t>& image, int size);
    // Removes every row; the next Refresh brings them back.
    void Clear();

    // The text a cell shows (an edit's text when there is one).
    QString CellText(int row, int column) const;
    // Whether the shown text of a cell is an edit rather than the image.
    bool IsEdited(int row, int column) const;

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // An edit with text replaces the shown text of a program-view cell; an
    // empty text, or any edit of the data view, leaves the cell as it was.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

private:
    QString FormatCell(int row, int column) const;
    static int Key(int row, int column) { return row * kColumnCount + column; }

    Kind m_kind;
    std::vector<uint8_t> m_bytes;  // the image as of the last refresh
    int m_nRows = 0;
    std::unordered_map<int, QString> m_edits;
};
