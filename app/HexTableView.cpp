#include "app/HexTableView.h"

#include <QCursor>
#include <QHeaderView>
#include <QItemSelection>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>

namespace {

constexpr int kRowPadding = 2;  // pixels above and below a row's text
constexpr int kGridLine = 1;    // the grid line drawn at a cell's right edge
// Every character a cell or a row label can hold.
constexpr char kHexDigits[] = "0123456789abcdefABCDEF";

}  // namespace

CHexTableView::CHexTableView(CHexViewModel::Kind kind, QWidget* parent)
    : QTableView(parent), m_model(new CHexViewModel(kind, this)) {
    setModel(m_model);
    const bool program = kind == CHexViewModel::Kind::Program;

    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    if (program) {
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setSelectionMode(QAbstractItemView::SingleSelection);
    } else {
        setSelectionBehavior(QAbstractItemView::SelectItems);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed);

    verticalHeader()->hide();
    // Fixed row heights keep a reset of 8192 rows from measuring each one.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2 * kRowPadding);
    verticalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setMinimumSectionSize(1);

    FitColumns();
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

int CHexTableView::TextWidth(int digits) const {
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const char* c = kHexDigits; *c != '\0'; ++c) {
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(*c)));
    }
    // An item view keeps a focus-frame margin and one pixel on each side
    // of a cell's text before it elides it.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return digits * widest + 2 * margin + kGridLine;
}

int CHexTableView::HeaderWidth(int column) const {
    const QString text = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
    return QFontMetrics(horizontalHeader()->font()).horizontalAdvance(text) + 2 * margin +
           kGridLine;
}

bool CHexTableView::FitColumns(int addressDigits) {
    const int digits = std::max(addressDigits, m_model->AddressDigits());
    bool changed = false;
    for (int c = 0; c < CHexViewModel::kColumnCount; ++c) {
        const int text =
            TextWidth(c == CHexViewModel::kAddressColumn ? digits : m_model->CellDigits());
        const int width = std::max(text, HeaderWidth(c));
        if (columnWidth(c) != width) {
            setColumnWidth(c, width);
            changed = true;
        }
    }
    return changed;
}

int CHexTableView::FullWidth() const {
    int width = 0;
    for (int c = 0; c < CHexViewModel::kColumnCount; ++c) {
        width += columnWidth(c);
    }
    return width + verticalScrollBar()->sizeHint().width() + 2 * frameWidth();
}

QModelIndex CHexTableView::CellUnderPointer(int row, const QEvent* event) const {
    QPoint pointer;
    if (event != nullptr &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseButtonDblClick)) {
        pointer = static_cast<const QMouseEvent*>(event)->position().toPoint();
    } else {
        pointer = viewport()->mapFromGlobal(QCursor::pos());
    }
    for (int c = 0; c < CHexViewModel::kColumnCount; ++c) {
        QModelIndex cell = m_model->index(row, c);
        if (visualRect(cell).contains(pointer)) {
            return cell;
        }
    }
    return QModelIndex();
}

bool CHexTableView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // Let the base class pass events to open editors and arm its delayed
    // edit; only the moment an edit really begins is redirected.
    const bool begins = trigger == QAbstractItemView::DoubleClicked ||
                        trigger == QAbstractItemView::EditKeyPressed ||
                        trigger == QAbstractItemView::AllEditTriggers;
    if (!begins || !index.isValid() || state() == QAbstractItemView::EditingState) {
        return QTableView::edit(index, trigger, event);
    }
    QModelIndex target;
    if (m_model->GetKind() == CHexViewModel::Kind::Data) {
        target = m_model->index(index.row(), CHexViewModel::kAddressColumn);
    } else {
        target = CellUnderPointer(index.row(), event);
    }
    if (!target.isValid()) {
        return false;
    }
    m_nEditColumn = target.column();
    m_nEditRow = target.row();
    if (!QTableView::edit(target, trigger, event)) {
        m_nEditColumn = -1;
        m_nEditRow = -1;
        return false;
    }
    return true;
}

void CHexTableView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    QTableView::closeEditor(editor, hint);
    const int row = m_nEditRow;
    m_nEditColumn = -1;
    m_nEditRow = -1;
    if (m_model->GetKind() != CHexViewModel::Kind::Program || row < 0 ||
        row >= m_model->rowCount()) {
        return;
    }
    // The edited row ends neither selected nor focused.
    QItemSelection rowSelection(m_model->index(row, 0),
                                m_model->index(row, CHexViewModel::kColumnCount - 1));
    selectionModel()->select(rowSelection, QItemSelectionModel::Deselect);
    if (selectionModel()->currentIndex().row() == row) {
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
}
