// The indicator windows (the set, file and check logic is tested without windows).
#include "support/WindowTestBase.h"

#include "core/AdminMode.h"
#include "core/ListWindow.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "reports/IndicatorWindows.h"

#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QPushButton>
#include <QTest>
#include <QButtonGroup>
#include <QLineEdit>
#include <QTextCursor>
#include <QTextEdit>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QTreeWidgetItem>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using namespace indicators;
using namespace sample::ids;

namespace {

using IndicatorSetupWindow = SampleTest;
using IndicatorViewWindow = SampleTest;
using IndicatorEditorWindow = SampleTest;
using IndicatorRoads = SampleTest;

QTreeWidgetItem *select(TMISetup &w, qint64 ident) {
    QTreeWidgetItem *n = w.findNode(ident);
    if (n) w.tree()->setCurrentItem(n);
    return n;
}

} // namespace

TEST_F(IndicatorSetupWindow, DeletingASetAsksFirst) {
    TMISetup w{WorkContext{}};
    w.setEditingMode();
    w.show();
    select(w, SetHealth);
    w.deleteSet();
    EXPECT_EQ(dialogs.questions.last(), QStringLiteral("Вы действительно желаете удалить \"Показатели здоровья\"?"));
    EXPECT_NE(w.findNode(SetHealth), nullptr);
    dialogs.answers.push_back(true);
    w.deleteSet();
    EXPECT_EQ(w.findNode(SetHealth), nullptr);
    EXPECT_EQ(db::scalar(db::connection(db::kMain), QStringLiteral("select count(*) from formulas where term=?"),
                         {SetStaffing}).toInt(), 0);
}

// The set tree has a fixed border and no title-bar buttons: a window
// manager gets the same size as its least and its greatest.
TEST_F(IndicatorSetupWindow, FixedBorderWithoutTitleBarButtons) {
    TMISetup w{WorkContext{}};
    w.show();
    QApplication::processEvents();
    const Qt::WindowFlags f = w.windowFlags();
    EXPECT_TRUE(f & Qt::CustomizeWindowHint);
    EXPECT_TRUE(f & Qt::WindowTitleHint);
    EXPECT_FALSE(f & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                      Qt::WindowSystemMenuHint));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    const QSize before = w.size();
    w.resize(before + QSize(200, 150));
    QApplication::processEvents();
    EXPECT_EQ(w.size(), before);
}

TEST_F(IndicatorSetupWindow, ClosingReloadsTheCacheAndTheViewTakesTheReportCaption) {
    {
        TMISetup w{WorkContext{}};
        w.setViewingMode();
        w.setWindowTitle(QStringLiteral("Свод по области - \"дерево\" показателей"));
        w.show();
        select(w, SetHealth);
        w.addSetAtLevel();
        dialogs.modals.push_back([](QDialog *) { return int(QDialog::Accepted); });
        select(w, SetStaffing);
        w.openCurrentSet();
        EXPECT_EQ(dialogs.modalTitles.last(), QStringLiteral("Свод по области"));
    }
    EXPECT_EQ(shared().Caches.tree.size(), 3);
}

TEST_F(IndicatorViewWindow, ComputesSplitsAndPrints) {
    const WorkContext types{ReportMode::Types, ValueTable::Data, false, 0, QStringLiteral("5,9")};
    TShowStat w(types, SetStaffing);
    w.setWindowTitle(QStringLiteral("Больница"));
    w.setHeading(QStringLiteral("Обеспеченность кадрами"));
    w.show();
    ASSERT_EQ(w.grid()->rowCount(), 3);
    EXPECT_EQ(w.grid()->item(1, 1)->text(), QStringLiteral("97.14"));

    // Filled, the title row and column are fixed cells.
    EXPECT_TRUE(w.grid()->fixedCells());

    w.grid()->setCurrentCell(1, 1);
    w.breakdown(false);
    EXPECT_EQ(w.breakdownLines().size(), 3);
    EXPECT_EQ(Form1().heading(), QStringLiteral("Обеспеченность кадрами - Врачей на 10000 населения - Значение"));
    // The split list is opened over the modal view so that the user can reach it.
    EXPECT_EQ(dialogs.modalTitles, QStringList{QStringLiteral("Больница")});
    Form1().hide();

    w.printToWord();
    w.printToExcel();
    ASSERT_EQ(dialogs.opened.size(), 2);
    EXPECT_TRUE(dialogs.opened[0].endsWith(QStringLiteral(".docx")));
    EXPECT_TRUE(dialogs.opened[1].endsWith(QStringLiteral(".xlsx")));
}

TEST(IndicatorEditorTint, ChangedReferencesInAdministratorMode) {
    SampleFixture f(true);
    FakeDialogs dialogs;
    f.reloadCaches();
    // Row 1 of Ф30 (1000) means something else this year; the previous year
    // is the same, so only cells naming that row are tinted.
    db::exec(db::connection(db::kMain),
             QStringLiteral("update titles set txt=? where \"table\"=? and \"column\"=1 and \"row\"=4"),
             {QStringLiteral("Другая строка"), TableF30Staff});
    StoreGridCell(SetStaffing, 1, 1, QStringLiteral("Ф30Т[2000]СТР1ГР4"), 64, 20);
    TMIForms w(SetStaffing);
    w.show();
    EXPECT_FALSE(w.isMarked(1, 2));
    AdminMode::instance().setOn(true);
    EXPECT_TRUE(w.isMarked(1, 2));
    EXPECT_FALSE(w.isMarked(1, 1));
    AdminMode::instance().setOn(false);
    EXPECT_FALSE(w.isMarked(1, 2));
}

// "Размеры" > "Включить" makes the titles fixed cells whose lines size the
// columns and rows; "Сохранить" stores the sizes so made.
TEST_F(IndicatorEditorWindow, SizesEditedOnTheFixedTitles) {
    TMIForms w(SetStaffing);
    w.show();
    w.show();
    QApplication::processEvents();
    EXPECT_EQ(w.sizesCommand()->text(), QStringLiteral("Включить"));
    w.sizesCommand()->trigger();
    QApplication::processEvents();
    EXPECT_EQ(w.sizesCommand()->text(), QStringLiteral("Выключить"));
    ASSERT_TRUE(w.grid()->fixedCellsShown());
    QTableView *row = w.grid()->fixedRowView();
    const int edge = row->columnViewportPosition(1) + row->columnWidth(1);
    const int before = w.grid()->columnWidth(1);
    QTest::mousePress(row->viewport(), Qt::LeftButton, {}, QPoint(edge, 4));
    QTest::mouseMove(row->viewport(), QPoint(edge + 25, 4));
    QTest::mouseRelease(row->viewport(), Qt::LeftButton, {}, QPoint(edge + 25, 4));
    EXPECT_EQ(w.grid()->columnWidth(1), before + 25);
    w.saveSizes();
    EXPECT_EQ(LoadSet(SetStaffing).widths.value(1), before + 25);
    w.sizesCommand()->trigger();
    EXPECT_EQ(w.sizesCommand()->text(), QStringLiteral("Включить"));
    EXPECT_FALSE(w.grid()->fixedCells());
}

// Storing right after an insert or a delete copies no text of a moved cell.
TEST_F(IndicatorEditorWindow, EditFieldFollowsInsertedAndDeletedCells) {
    TMIForms w(SetStaffing);
    w.show();
    // The heading "Значение" is not cut off by its stored width of 64.
    EXPECT_GE(w.grid()->columnWidth(1),
              QFontMetrics(w.grid()->font()).horizontalAdvance(QStringLiteral("Значение")) + 6);
    // Opening "Добавить > Строку" before any cell was chosen here stores
    // nothing over the corner.
    const QString corner = LoadSet(SetStaffing).cell(0, 0);
    ASSERT_LT(w.grid()->currentRow(), 0);
    emit w.rowMenu()->aboutToShow();
    EXPECT_EQ(LoadSet(SetStaffing).cell(0, 0), corner);
    const QString firstTitle = w.grid()->item(1, 0)->text();
    w.grid()->setCurrentCell(1, 0);

    w.insertRowBefore();
    ASSERT_EQ(w.grid()->rowCount(), 4);
    EXPECT_EQ(w.grid()->currentRow(), 1);
    EXPECT_TRUE(w.formulaEdit()->toPlainText().isEmpty());
    w.formulaEdit()->setPlainText(QStringLiteral("Новый показатель"));
    w.applyFormula();
    SetTable t = LoadSet(SetStaffing);
    EXPECT_EQ(t.cell(0, 1), QStringLiteral("Новый показатель"));
    EXPECT_EQ(t.cell(0, 2), firstTitle);

    // Column before column 1: the new column is current and empty.
    const QString moved = t.cell(1, 2);
    w.grid()->setCurrentCell(2, 1);
    w.insertColumnBefore();
    EXPECT_EQ(w.grid()->currentColumn(), 1);
    EXPECT_TRUE(w.formulaEdit()->toPlainText().isEmpty());
    w.applyFormula();
    t = LoadSet(SetStaffing);
    EXPECT_EQ(t.cell(2, 2), moved);
    EXPECT_EQ(t.cell(1, 2), QStringLiteral(" "));

    // Deleting the current row: "Ok" afterwards does not write the deleted text.
    w.grid()->setCurrentCell(2, 2);
    w.deleteRow();
    const SetTable before = LoadSet(SetStaffing);
    EXPECT_EQ(w.formulaEdit()->toPlainText(), w.grid()->currentItem() ? w.grid()->currentItem()->text() : QString());
    w.applyFormula();
    const SetTable after = LoadSet(SetStaffing);
    EXPECT_EQ(after.cells, before.cells);
}

// Editing from the main window's command, viewing from the types list.
TEST_F(IndicatorRoads, EditingAndViewingFromTheirOpeners) {
    dialogs.modals.push_back([&](QDialog *d) {
        auto *tree = qobject_cast<TMISetup *>(d);
        EXPECT_NE(tree, nullptr);
        if (!tree) return int(QDialog::Rejected);
        tree->show();
        select(*tree, SetStaffing);
        dialogs.modals.push_back([](QDialog *e) {
            auto *editor = qobject_cast<TMIForms *>(e);
            EXPECT_NE(editor, nullptr);
            if (!editor) return int(QDialog::Rejected);
            editor->show();
            editor->grid()->setCurrentCell(1, 1);
            editor->formulaEdit()->setPlainText(QStringLiteral("Ф30Т[1000]СТР1ГР5 * 2"));
            editor->applyFormula();
            return int(QDialog::Accepted);
        });
        tree->editSetMembers();
        return int(QDialog::Accepted);
    });
    openIndicatorSetup(nullptr, WorkContext{});
    EXPECT_EQ(LoadSet(SetStaffing).cell(1, 1), QStringLiteral("Ф30Т[1000]СТР1ГР5*2"));

    // Types list: institutions 5 and 9, values of "data"; ГР5 = 48 + 88.
    const WorkContext types{ReportMode::Types, ValueTable::Data, false, 0, QStringLiteral("5,9")};
    QStringList shown;
    dialogs.modals.push_back([&](QDialog *d) {
        auto *tree = qobject_cast<TMISetup *>(d);
        EXPECT_NE(tree, nullptr);
        if (!tree) return int(QDialog::Rejected);
        tree->show();
        select(*tree, SetStaffing);
        dialogs.modals.push_back([&](QDialog *v) {
            auto *view = qobject_cast<TShowStat *>(v);
            EXPECT_NE(view, nullptr);
            if (!view) return int(QDialog::Rejected);
            view->show();
            shown << view->windowTitle() << view->heading() << view->grid()->item(1, 1)->text();
            return int(QDialog::Accepted);
        });
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(tree->tree(), &enter);
        return int(QDialog::Accepted);
    });
    openIndicatorTreeForViewing(nullptr, QStringLiteral("Сельские больницы"), types);
    EXPECT_EQ(shown, (QStringList{QString(), QStringLiteral("Обеспеченность кадрами"), QStringLiteral("272.00")}));
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u'\n').toStdString();
}

// A name pasted with a line break is stored with a blank, and the tree shows what is stored.
TEST_F(IndicatorSetupWindow, RenamedSetShowsTheNameAsStored) {
    TMISetup w{WorkContext{}};
    w.setEditingMode();
    w.show();
    QTreeWidgetItem *n = select(w, SetHealth);
    ASSERT_NE(n, nullptr);
    w.nameEdit()->setText(QStringLiteral("Итого\nпо\tрайону"));
    ASSERT_TRUE(w.nameEdit()->text().contains(u'\n'));
    w.saveSetName();
    EXPECT_EQ(n->text(0), QStringLiteral("Итого по району"));
    EXPECT_EQ(db::scalar(db::connection(db::kMain), QStringLiteral("select part from tree where ident=?"), {SetHealth})
                  .toString(),
              n->text(0));
}

// The decipher of the reference under the caret has a fixed place: its two halves (this year, the previous year
// where they differ) are of one height, and the formula field and the commands below do not move as cells with and
// without references are chosen.
TEST(IndicatorEditorDecipher, HalvesOfOneHeightAtAFixedPlace) {
    SampleFixture f(true);
    FakeDialogs dialogs;
    f.reloadCaches();
    db::exec(db::connection(db::kMain),
             QStringLiteral("update titles set txt=? where \"table\"=? and \"column\"=1 and \"row\"=4"),
             {QStringLiteral("Другая строка"), TableF30Staff});
    AdminMode::instance().setOn(true);
    struct Off { ~Off() { AdminMode::instance().setOn(false); } } off;
    TMIForms w(SetStaffing);
    w.show();
    QApplication::processEvents();
    const QPoint memo = w.formulaEdit()->mapTo(&w, QPoint(0, 0)), ok = w.okButton()->mapTo(&w, QPoint(0, 0));
    auto choose = [&](int row, int column, int caret) {
        w.grid()->setCurrentCell(row, column);
        w.selectCell(row, column);
        QTextCursor c = w.formulaEdit()->textCursor();
        c.setPosition(qMin(caret, int(w.formulaEdit()->toPlainText().size())));
        w.formulaEdit()->setTextCursor(c);
        w.RefreshDecipher();
        QApplication::processEvents();
    };
    choose(2, 1, 3);   // a reference to the changed row
    QTextEdit *previous = nullptr;
    for (QTextEdit *t : w.findChildren<QTextEdit *>())
        if (t != w.decipherView() && t->isVisible()) previous = t;
    ASSERT_TRUE(previous) << "no previous-year half for " << w.formulaEdit()->toPlainText().toStdString();
    EXPECT_EQ(previous->height(), w.decipherView()->height());
    EXPECT_EQ(previous->y(), w.decipherView()->y());
    EXPECT_EQ(w.formulaEdit()->mapTo(&w, QPoint(0, 0)), memo);
    EXPECT_EQ(w.okButton()->mapTo(&w, QPoint(0, 0)), ok);
    choose(1, 0, 0);   // a title: no reference
    EXPECT_EQ(w.formulaEdit()->mapTo(&w, QPoint(0, 0)), memo);
    EXPECT_EQ(w.okButton()->mapTo(&w, QPoint(0, 0)), ok);
}

// Below the formula, Tab goes in reading order: "Ok", what to find, what to put, the scope, "Заменить".
TEST_F(IndicatorEditorWindow, CommandsBelowTheFormulaInReadingOrder) {
    TMIForms w(SetStaffing);
    w.show();
    QApplication::setActiveWindow(&w);
    QApplication::processEvents();
    QList<QWidget *> seen;
    w.okButton()->setFocus();
    for (int i = 0; i < 4; ++i) {
        seen << QApplication::focusWidget();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    seen << QApplication::focusWidget();
    ASSERT_EQ(seen.size(), 5);
    EXPECT_EQ(seen[0], w.okButton());
    EXPECT_EQ(seen[1], w.findEdit());
    EXPECT_EQ(seen[2], w.replaceWithEdit());
    EXPECT_EQ(seen[3], w.scopeButtons()->checkedButton());
    EXPECT_EQ(seen[4], w.replaceButton());
}
