// The hex view models on their own, and cell editing in the real window's
// views: the cell under the pointer is the one edited, the image is never
// written, and the data view never changes.
#include <QApplication>
#include <QCursor>
#include <QLineEdit>
#include <QStyle>
#include <QtTest>
#include <random>

#include "app/HexTableView.h"
#include "image/HexViewModel.h"
#include "tests/app/AppTestSupport.h"

namespace {

constexpr int kColumn0A = 6;  // the program view's column headed "0A"

// The open cell editor of a view, or nullptr.
// A double click as the user makes it: press and release, then the
// double-click event (QTest sends the last one alone).
void DoubleClick(QAbstractItemView* view, const QPoint& at) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

QLineEdit* OpenEditor(QAbstractItemView* view) {
    for (QLineEdit* e : view->viewport()->findChildren<QLineEdit*>()) {
        if (e->isVisible()) {
            return e;
        }
    }
    return nullptr;
}

void PointAt(CHexTableView* view, int row, int column) {
    const QRect cell = view->visualRect(view->Model()->index(row, column));
    QCursor::setPos(view->viewport()->mapToGlobal(cell.center()));
}

// Selects row, puts the pointer over (row, column) and presses the edit key.
QLineEdit* EditWithKey(CHexTableView* view, int row, int pointerRow, int column) {
    view->setFocus();
    view->setCurrentIndex(view->Model()->index(row, 0));
    PointAt(view, pointerRow, column);
    QTest::keyClick(view, Qt::Key_F2);
    return OpenEditor(view);
}

void Type(QLineEdit* editor, const QString& text, Qt::Key end) {
    editor->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(editor, Qt::Key_Backspace);
    } else {
        QTest::keyClicks(editor, text);
    }
    QTest::keyClick(editor, end);
    QCoreApplication::processEvents();  // the delegate commits on a queued call
}

}  // namespace

class ViewsTest : public QObject {
    Q_OBJECT

private slots:
    void programCellsHighByteFirst();
    void dataCellsUpperCaseAndHeaders();
    void rowsFollowSizeAndShortImagesAreSafe();
    void modelEditsOverrideTextUntilRefresh();
    void editOpensOnCellUnderPointer();
    void editOfAddressChangesLabelOnly();
    void escapeOrEmptyTextLeavesCell();
    void pointerOutsideRowRefusesEdit();
    void doubleClickEditsClickedCell();
    void dataViewEditLeavesRowUnchanged();
    void refreshDropsEditsAndSelection();
    void widestTextFitsItsColumnAtTwoFontSizes();

private:
    std::unique_ptr<CTestSettings> m_settings;
    CScriptedChooser m_chooser;
    std::unique_ptr<CProgrammerDlg> Window();
};

std::unique_ptr<CProgrammerDlg> ViewsTest::Window() {
    m_settings = std::make_unique<CTestSettings>();
    auto dlg = MakeWindow(*m_settings, m_chooser);
    dlg->Session().Images().m_progImage[0] = 0x0C;
    dlg->Session().Images().m_progImage[1] = 0x94;
    dlg->RefreshProgView();
    dlg->show();
    if (!QTest::qWaitForWindowActive(dlg.get())) {
        qWarning("window not active");
    }
    return dlg;
}

void ViewsTest::programCellsHighByteFirst() {
    CHexViewModel model(CHexViewModel::Kind::Program);
    std::vector<uint8_t> image(131072, 0xFF);
    image[0] = 0x0C;
    image[1] = 0x94;
    image[0x1fffe] = 0x01;
    image[0x1ffff] = 0xAB;
    model.Refresh(image, 131072);
    QCOMPARE(model.rowCount(), 8192);
    QCOMPARE(model.columnCount(), 9);
    QCOMPARE(model.CellText(0, 0), QStringLiteral("0000"));
    QCOMPARE(model.CellText(0, 1), QStringLiteral("940c"));
    QCOMPARE(model.CellText(0, 2), QStringLiteral("ffff"));
    QCOMPARE(model.CellText(8191, 0), QStringLiteral("1fff0"));
    QCOMPARE(model.CellText(8191, 8), QStringLiteral("ab01"));
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("940c"));
    QStringList headers;
    for (int c = 0; c < 9; ++c) {
        headers << model.headerData(c, Qt::Horizontal).toString();
    }
    QCOMPARE(headers, (QStringList{"Adr", "00", "02", "04", "06", "08", "0A", "0C", "0E"}));
}

void ViewsTest::dataCellsUpperCaseAndHeaders() {
    CHexViewModel model(CHexViewModel::Kind::Data);
    std::vector<uint8_t> image(512, 0xFF);
    image[9] = 0xab;
    image[10] = 0x05;
    model.Refresh(image, 512);
    QCOMPARE(model.rowCount(), 64);
    QCOMPARE(model.CellText(1, 0), QStringLiteral("0008"));
    QCOMPARE(model.CellText(1, 2), QStringLiteral("AB"));
    QCOMPARE(model.CellText(1, 3), QStringLiteral("05"));
    QCOMPARE(model.CellText(63, 0), QStringLiteral("01f8"));
    QStringList headers;
    for (int c = 0; c < 9; ++c) {
        headers << model.headerData(c, Qt::Horizontal).toString();
    }
    QCOMPARE(headers, (QStringList{"Adr", "00", "01", "02", "03", "04", "05", "06", "07"}));
}

void ViewsTest::rowsFollowSizeAndShortImagesAreSafe() {
    CHexViewModel model(CHexViewModel::Kind::Program);
    std::vector<uint8_t> image(64, 0x11);
    model.Refresh(image, 0);
    QCOMPARE(model.rowCount(), 0);
    model.Refresh({}, 1024);
    QCOMPARE(model.rowCount(), 0);
    // A size beyond the image: the rows it names show, the missing bytes
    // read as empty cells instead of past the end of the image.
    model.Refresh(image, 100);
    QCOMPARE(model.rowCount(), 7);
    QCOMPARE(model.CellText(3, 8), QStringLiteral("1111"));
    QCOMPARE(model.CellText(4, 1), QString());
    QCOMPARE(model.CellText(6, 0), QStringLiteral("0060"));
    QCOMPARE(model.CellText(7, 0), QString());
    model.Clear();
    QCOMPARE(model.rowCount(), 0);
}

void ViewsTest::modelEditsOverrideTextUntilRefresh() {
    CHexViewModel prog(CHexViewModel::Kind::Program);
    std::vector<uint8_t> image(32, 0xFF);
    prog.Refresh(image, 32);
    QVERIFY(prog.setData(prog.index(1, 3), QStringLiteral("12zz")));
    QCOMPARE(prog.CellText(1, 3), QStringLiteral("12zz"));
    QVERIFY(!prog.setData(prog.index(1, 3), QString()));
    QCOMPARE(prog.CellText(1, 3), QStringLiteral("12zz"));
    QVERIFY(prog.IsEdited(1, 3));
    prog.Refresh(image, 32);
    QCOMPARE(prog.CellText(1, 3), QStringLiteral("ffff"));

    CHexViewModel data(CHexViewModel::Kind::Data);
    data.Refresh(image, 32);
    QVERIFY(!data.setData(data.index(0, 0), QStringLiteral("zz")));
    QCOMPARE(data.CellText(0, 0), QStringLiteral("0000"));
}

void ViewsTest::editOpensOnCellUnderPointer() {
    auto dlg = Window();
    CHexTableView* view = dlg->ProgView();
    const std::vector<uint8_t> image = dlg->Session().Images().m_progImage;

    QLineEdit* editor = EditWithKey(view, 3, 3, kColumn0A);
    QVERIFY(editor != nullptr);
    QCOMPARE(view->EditColumn(), kColumn0A);
    QCOMPARE(editor->text(), QStringLiteral("ffff"));
    Type(editor, QStringLiteral("12zz"), Qt::Key_Return);

    QCOMPARE(view->Model()->CellText(3, kColumn0A), QStringLiteral("12zz"));
    QCOMPARE(view->Model()->CellText(3, 1), QStringLiteral("ffff"));
    QVERIFY(dlg->Session().Images().m_progImage == image);  // the image is never written
    QCOMPARE(view->EditColumn(), -1);
    // The edited row ends neither selected nor current.
    QVERIFY(!view->selectionModel()->isRowSelected(3, QModelIndex()));
    QVERIFY(view->selectionModel()->currentIndex().row() != 3);
}

void ViewsTest::editOfAddressChangesLabelOnly() {
    auto dlg = Window();
    CHexTableView* view = dlg->ProgView();
    QLineEdit* editor = EditWithKey(view, 0, 0, 0);
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->text(), QStringLiteral("0000"));
    Type(editor, QStringLiteral("start"), Qt::Key_Enter);
    QCOMPARE(view->Model()->CellText(0, 0), QStringLiteral("start"));
    QCOMPARE(view->Model()->CellText(0, 1), QStringLiteral("940c"));
    QCOMPARE(dlg->Session().Images().m_progImage[0], uint8_t(0x0C));
}

void ViewsTest::escapeOrEmptyTextLeavesCell() {
    auto dlg = Window();
    CHexTableView* view = dlg->ProgView();

    QLineEdit* editor = EditWithKey(view, 0, 0, 1);
    QVERIFY(editor != nullptr);
    Type(editor, QStringLiteral("abcd"), Qt::Key_Escape);
    QCOMPARE(view->Model()->CellText(0, 1), QStringLiteral("940c"));
    QVERIFY(dlg->isVisible());  // Escape in the editor does not close the window
    QCOMPARE(view->EditColumn(), -1);

    editor = EditWithKey(view, 0, 0, 1);
    QVERIFY(editor != nullptr);
    Type(editor, QString(), Qt::Key_Return);
    QCOMPARE(view->Model()->CellText(0, 1), QStringLiteral("940c"));
    QVERIFY(!view->Model()->IsEdited(0, 1));
}

void ViewsTest::pointerOutsideRowRefusesEdit() {
    auto dlg = Window();
    CHexTableView* view = dlg->ProgView();
    QVERIFY(EditWithKey(view, 3, 5, 2) == nullptr);
    QCOMPARE(view->EditColumn(), -1);
    // Outside the view altogether.
    view->setCurrentIndex(view->Model()->index(3, 0));
    QCursor::setPos(view->mapToGlobal(QPoint(-50, -50)));
    QTest::keyClick(view, Qt::Key_F2);
    QVERIFY(OpenEditor(view) == nullptr);
}

void ViewsTest::doubleClickEditsClickedCell() {
    auto dlg = Window();
    CHexTableView* view = dlg->ProgView();
    const QRect cell = view->visualRect(view->Model()->index(2, 8));
    DoubleClick(view, cell.center());
    QLineEdit* editor = OpenEditor(view);
    QVERIFY(editor != nullptr);
    QCOMPARE(view->EditColumn(), 8);
    Type(editor, QStringLiteral("beef"), Qt::Key_Return);
    QCOMPARE(view->Model()->CellText(2, 8), QStringLiteral("beef"));
}

void ViewsTest::dataViewEditLeavesRowUnchanged() {
    auto dlg = Window();
    CHexTableView* view = dlg->DataView();
    QStringList before;
    for (int c = 0; c < 9; ++c) {
        before << view->Model()->CellText(2, c);
    }
    const QRect cell = view->visualRect(view->Model()->index(2, 4));
    DoubleClick(view, cell.center());
    QLineEdit* editor = OpenEditor(view);
    QVERIFY(editor != nullptr);
    Type(editor, QStringLiteral("00"), Qt::Key_Return);
    QStringList after;
    for (int c = 0; c < 9; ++c) {
        after << view->Model()->CellText(2, c);
    }
    QCOMPARE(after, before);
    QCOMPARE(before.first(), QStringLiteral("0010"));
}

void ViewsTest::refreshDropsEditsAndSelection() {
    auto dlg = Window();
    CHexTableView* view = dlg->ProgView();
    QLineEdit* editor = EditWithKey(view, 1, 1, 1);
    QVERIFY(editor != nullptr);
    Type(editor, QStringLiteral("zz"), Qt::Key_Return);
    view->selectRow(4);
    dlg->RefreshProgView();
    QCOMPARE(view->Model()->CellText(1, 1), QStringLiteral("ffff"));
    QVERIFY(!view->selectionModel()->hasSelection());
}

// Every cell and row label of a full 256 KB image shows whole, in the
// application's font at two sizes: nothing is elided.
void ViewsTest::widestTextFitsItsColumnAtTwoFontSizes() {
    constexpr int kBigFlash = 262144;
    constexpr int kBigEeprom = 4096;
    const QFont original = QApplication::font();
    std::mt19937 random(7);
    std::vector<uint8_t> image(kBigFlash);
    for (uint8_t& b : image) {
        b = static_cast<uint8_t>(random());
    }
    for (const int points : {9, 18}) {
        QFont font = original;
        font.setPointSize(points);
        QApplication::setFont(font);
        for (const auto kind : {CHexViewModel::Kind::Program, CHexViewModel::Kind::Data}) {
            CHexTableView view(kind);
            const bool program = kind == CHexViewModel::Kind::Program;
            view.Model()->Refresh(image, program ? kBigFlash : kBigEeprom);
            view.FitColumns();
            const QFontMetrics metrics(view.font());
            const int margins =
                2 * (view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1);
            for (int c = 0; c < CHexViewModel::kColumnCount; ++c) {
                int widest = 0;
                for (int row = 0; row < view.Model()->rowCount(); ++row) {
                    widest =
                        std::max(widest, metrics.horizontalAdvance(view.Model()->CellText(row, c)));
                }
                QVERIFY2(widest + margins <= view.columnWidth(c),
                         qPrintable(QStringLiteral("%1 pt, column %2: %3 + %4 > %5")
                                        .arg(points)
                                        .arg(c)
                                        .arg(widest)
                                        .arg(margins)
                                        .arg(view.columnWidth(c))));
            }
            QCOMPARE(view.Model()->CellText(view.Model()->rowCount() - 1, 0),
                     program ? QStringLiteral("3fff0") : QStringLiteral("0ff8"));
        }
    }
    QApplication::setFont(original);
}

QTEST_MAIN(ViewsTest)
#include "ViewsTest.moc"
