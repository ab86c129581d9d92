#include "image/HexViewModel.h"

#include <algorithm>

namespace {

constexpr int kProgramBytesPerCell = 2;
constexpr int kDataBytesPerCell = 1;
constexpr int kMinAddressDigits = 4;
constexpr int kByteDigits = 2;
constexpr int kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;
constexpr char kLowerDigits[] = "0123456789abcdef";
constexpr char kUpperDigits[] = "0123456789ABCDEF";

// "%0*x" / "%0*X" of value, written straight into a QString.
QString Hex(unsigned value, int minDigits, const char* digits) {
    int count = 1;
    for (unsigned rest = value >> kNibbleBits; rest != 0; rest >>= kNibbleBits) {
        ++count;
    }
    count = std::max(count, minDigits);
    QString text(count, QLatin1Char('0'));
    for (int i = count - 1; i >= 0 && value != 0; --i) {
        text[i] = QLatin1Char(digits[value & kNibbleMask]);
        value >>= kNibbleBits;
    }
    return text;
}

}  // namespace

CHexViewModel::CHexViewModel(Kind kind, QObject* parent)
    : QAbstractTableModel(parent), m_kind(kind) {}

int CHexViewModel::BytesPerCell() const {
    return m_kind == Kind::Program ? kProgramBytesPerCell : kDataBytesPerCell;
}

void CHexViewModel::Refresh(const std::vector<uint8_t>& image, int size) {
    beginResetModel();
    m_edits.clear();
    m_bytes.clear();
    m_nRows = 0;
    if (!image.empty() && size > 0) {
        // Rows cover size; bytes the image does not have show as empty
        // cells rather than being read from beyond its end.
        const size_t take = std::min(image.size(), static_cast<size_t>(size));
        m_bytes.assign(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(take));
        const int perRow = BytesPerRow();
        m_nRows = static_cast<int>((static_cast<long long>(size) + perRow - 1) / perRow);
    }
    endResetModel();
}

void CHexViewModel::Clear() {
    beginResetModel();
    m_edits.clear();
    m_bytes.clear();
    m_nRows = 0;
    endResetModel();
}

int CHexViewModel::AddressDigits() const {
    const unsigned last = m_nRows > 0 ? static_cast<unsigned>((m_nRows - 1) * BytesPerRow()) : 0;
    return Hex(last, kMinAddressDigits, kLowerDigits).size();
}

int CHexViewModel::CellDigits() const {
    return BytesPerCell() * kByteDigits;
}

QString CHexViewModel::FormatCell(int row, int column) const {
    const size_t rowStart = static_cast<size_t>(row) * static_cast<size_t>(BytesPerRow());
    if (column == kAddressColumn) {
        return Hex(static_cast<unsigned>(rowStart), kMinAddressDigits, kLowerDigits);
    }
    const size_t first = rowStart + static_cast<size_t>(column - 1) * BytesPerCell();
    if (first + static_cast<size_t>(BytesPerCell()) > m_bytes.size()) {
        return QString();
    }
    if (m_kind == Kind::Program) {
        // High byte first: image bytes 0x0C, 0x94 show as 940c.
        return Hex(m_bytes[first + 1], kByteDigits, kLowerDigits) +
               Hex(m_bytes[first], kByteDigits, kLowerDigits);
    }
    return Hex(m_bytes[first], kByteDigits, kUpperDigits);
}

QString CHexViewModel::CellText(int row, int column) const {
    if (row < 0 || row >= m_nRows || column < 0 || column >= kColumnCount) {
        return QString();
    }
    auto it = m_edits.find(Key(row, column));
    if (it != m_edits.end()) {
        return it->second;
    }
    return FormatCell(row, column);
}

bool CHexViewModel::IsEdited(int row, int column) const {
    return m_edits.count(Key(row, column)) != 0;
}

int CHexViewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_nRows;
}

int CHexViewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CHexViewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return QVariant();
    }
    return CellText(index.row(), index.column());
}

QVariant CHexViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) {
        return QVariant();
    }
    if (orientation == Qt::Vertical) {
        return QVariant();
    }
    if (section == kAddressColumn) {
        return QStringLiteral("Adr");
    }
    if (section < 0 || section >= kColumnCount) {
        return QVariant();
    }
    // The byte offset of the cell within its row: 00, 02, ... 0E or 00 ... 07.
    return Hex(static_cast<unsigned>((section - 1) * BytesPerCell()), kByteDigits, kUpperDigits);
}

Qt::ItemFlags CHexViewModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

bool CHexViewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (m_kind != Kind::Program || role != Qt::EditRole || !index.isValid() ||
        index.row() >= m_nRows || index.column() >= kColumnCount) {
        return false;
    }
    const QString text = value.toString();
    if (text.isEmpty()) {
        return false;
    }
    m_edits[Key(index.row(), index.column())] = text;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}
