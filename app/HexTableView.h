// One of the main window's two hex views: a table over a CHexViewModel with
// fixed column widths and grid lines. An edit, whatever gesture starts it,
// opens on the cell under the mouse pointer within the row being edited
// (the "Adr" cell included) and is refused when the pointer lies outside
// every cell of that row. Data view edits open on the row's address and are
// always discarded.
#pragma once

#include <QTableView>

#include "image/HexViewModel.h"

class CHexTableView : public QTableView {
    Q_OBJECT

public:
    CHexTableView(CHexViewModel::Kind kind, QWidget* parent = nullptr);

    CHexViewModel* Model() const { return m_model; }

    // Column of the cell being edited, -1 when no edit is open.
    int EditColumn() const { return m_nEditColumn; }

    // The width the view needs to show every column next to its scroll bar.
    int FullWidth() const;
    // Makes every column as wide as its longest text in the view's font:
    // the row labels at least addressDigits long (and as long as the rows
    // now held need), the cells their four or two digits, the headers
    // their captions. true when a width changed.
    bool FitColumns(int addressDigits = 0);
    // The column width that shows digits hex digits whole, margins and grid
    // line included.
    int TextWidth(int digits) const;

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    // The cell of row that the pointer lies over, or an invalid index.
    QModelIndex CellUnderPointer(int row, const QEvent* event) const;
    int HeaderWidth(int column) const;

    CHexViewModel* m_model;
    int m_nEditColumn = -1;
    int m_nEditRow = -1;
};
