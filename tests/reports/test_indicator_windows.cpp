// The indicator windows over the sample configuration: the set tree in both
// modes, the set editor and the view with its split and outputs.
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

#include "core/AdminMode.h"
#include "core/ListWindow.h"
#include "core/SampleConfig.h"
#include "core/SharedState.h"
#include "platform/Database.h"
#include "reports/IndicatorWindows.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <gtest/gtest.h>

using namespace indicators;
using namespace sample::ids;

namespace {

struct Env {
    SampleFixture fixture;
    FakeDialogs dialogs;
    Env() { fixture.reloadCaches(); }
};

QTreeWidgetItem *select(TMISetup &w, qint64 ident) {
    QTreeWidgetItem *n = w.findNode(ident);
    if (n) w.TreeView1->setCurrentItem(n);
    return n;
}

QString savePng(QWidget &w, const QString &name) {
    w.resize(w.size());
    w.show();
    const QString path = QStringLiteral("/tmp/%1.png").arg(name);
    w.grab().save(path);
    w.hide();
    return path;
}

} // namespace

TEST(IndicatorSetupWindow, TreeFromCacheAndModes) {
    Env env;
    const qint64 orphan = AddSet(QStringLiteral("Без родителя"), 999);
    env.fixture.reloadCaches();
    TMISetup w;
    w.setEditingMode();
    w.FormActivate();
    ASSERT_EQ(w.TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(w.TreeView1->topLevelItem(0)->text(0), QStringLiteral("Показатели здоровья"));
    EXPECT_EQ(w.TreeView1->topLevelItem(0)->child(0)->text(0), QStringLiteral("Обеспеченность кадрами"));
    EXPECT_EQ(w.findNode(orphan), nullptr);
    EXPECT_TRUE(w.N3->isVisible());
    EXPECT_FALSE(w.N8->isVisible());
    EXPECT_FALSE(w.N7->isVisible());   // administrator only
    savePng(w, QStringLiteral("indicator_tree"));

    // Selecting sets CurrentTerm and the rename field; renaming writes the table.
    select(w, SetStaffing);
    EXPECT_EQ(CurrentTerm(), SetStaffing);
    w.Edit1->setText(QStringLiteral("Кадры"));
    w.Button1Click();
    EXPECT_EQ(db::scalar(db::connection(db::kMain), QStringLiteral("select part from tree where ident=?"),
                         {SetStaffing}).toString(),
              QStringLiteral("Кадры"));

    // In editing mode a double click opens the editor.
    w.TreeView1DblClick();
    EXPECT_EQ(env.dialogs.modalTitles.last(), QStringLiteral("MIForms"));

    // Adding beside a root set makes a root set; below makes a child.
    select(w, SetHealth);
    w.N5Click();
    EXPECT_EQ(w.TreeView1->topLevelItemCount(), 2);
    w.N6Click();
    EXPECT_EQ(w.findNode(SetHealth)->childCount(), 2);

    // Deleting asks first.
    select(w, SetHealth);
    w.N2Click();
    EXPECT_EQ(env.dialogs.questions.last(), QStringLiteral("Вы действительно желаете удалить \"Показатели здоровья\"?"));
    EXPECT_NE(w.findNode(SetHealth), nullptr);
    env.dialogs.answers.push_back(true);
    w.N2Click();
    EXPECT_EQ(w.findNode(SetHealth), nullptr);
    EXPECT_EQ(db::scalar(db::connection(db::kMain), QStringLiteral("select count(*) from formulas where term=?"),
                         {SetStaffing}).toInt(),
              0);
}

TEST(IndicatorSetupWindow, ClosingReloadsTheCacheAndViewingModeOpensTheView) {
    Env env;
    {
        TMISetup w;
        w.setViewingMode();
        w.setWindowTitle(QStringLiteral("Свод по области - \"дерево\" показателей"));
        w.FormActivate();
        select(w, SetHealth);
        w.N5Click();
        env.dialogs.modals.push_back([](QDialog *d) {
            auto *view = qobject_cast<TShowStat *>(d);
            EXPECT_NE(view, nullptr);
            if (view) EXPECT_EQ(view->Label1->text(), QStringLiteral("Обеспеченность кадрами"));
            return int(QDialog::Accepted);
        });
        select(w, SetStaffing);
        w.TreeView1DblClick();
        EXPECT_EQ(env.dialogs.modalTitles.last(), QStringLiteral("Свод по области"));
        EXPECT_EQ(IndicatorTerm(), SetStaffing);
    }
    EXPECT_EQ(shared().TreeList.size(), 3);

    // A caption without " -" gives the view an empty caption.
    TMISetup w;
    w.setViewingMode();
    w.setWindowTitle(QStringLiteral("Больница"));
    w.FormActivate();
    select(w, SetStaffing);
    w.N8Click();
    EXPECT_EQ(env.dialogs.modalTitles.last(), QString());
}

TEST(IndicatorSetupWindow, FileCommands) {
    Env env;
    TMISetup w;
    w.setEditingMode();
    w.FormActivate();
    select(w, SetHealth);
    const QString path = env.fixture.root() + QStringLiteral("health.stt");
    env.dialogs.files.push_back(path);
    w.N9Click();
    EXPECT_EQ(env.dialogs.messages.last(), QStringLiteral("Показатели здоровья - выгружено"));
    ASSERT_TRUE(QFile::exists(path));

    w.N5Click();   // a new root set to read into
    QTreeWidgetItem *target = w.TreeView1->topLevelItem(1);
    w.TreeView1->setCurrentItem(target);
    env.dialogs.files.push_back(path);
    w.N10Click();
    EXPECT_EQ(env.dialogs.messages.last(),
              QStringLiteral("Данные по Неопределенный набор показателей загружены из файла"));
    ASSERT_EQ(target->childCount(), 1);
    EXPECT_EQ(target->child(0)->text(0), QStringLiteral("Обеспеченность кадрами"));
    const SetTable copy = LoadSet(target->child(0)->data(0, Qt::UserRole + 1).toLongLong());
    EXPECT_EQ(copy.cell(0, 2), QStringLiteral("Укомплектованность: %"));
}

TEST(IndicatorSetupWindow, PreviousYearChecks) {
    {
        SampleFixture f(true);
        FakeDialogs dialogs;
        f.reloadCaches();
        AdminMode::instance().setOn(true);
        TMISetup w;
        w.FormActivate();
        EXPECT_TRUE(w.N7->isVisible());
        w.N12Click();
        EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Не выбрана таблица для проверки"));
        select(w, SetHealth);
        w.N12Click();
        EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Не найдено формул для таблицы"));
        select(w, SetStaffing);
        w.N12Click();
        EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Расхождений не найдено"));
        w.N11Click();
        EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Таблиц с расхождениями не найдено"));
        AdminMode::instance().setOn(false);
    }
    {
        SampleFixture f(false);
        FakeDialogs dialogs;
        f.reloadCaches();
        TMISetup w;
        w.FormActivate();
        select(w, SetStaffing);
        w.N12Click();
        EXPECT_EQ(dialogs.modalTitles.last(), QStringLiteral("Формулы с расхождениями - Обеспеченность кадрами"));
        w.N11Click();
        EXPECT_EQ(dialogs.modalTitles.last(), QStringLiteral("Таблицы с расхождениями (1)"));
    }
}

TEST(IndicatorEditorWindow, LoadStoreAndGridCommands) {
    Env env;
    CurrentTerm() = SetStaffing;
    TMIForms w;
    w.FormActivate();
    ASSERT_EQ(w.StringGrid1->rowCount(), 3);
    ASSERT_EQ(w.StringGrid1->columnCount(), 2);
    EXPECT_EQ(w.StringGrid1->item(2, 0)->text(), QStringLiteral("Укомплектованность: %"));
    // The heading "Значение" is not cut off by its stored width of 64.
    const QFontMetrics fm(w.StringGrid1->font());
    EXPECT_GE(w.StringGrid1->columnWidth(1), fm.horizontalAdvance(QStringLiteral("Значение")) + 6);
    EXPECT_EQ(w.StringGrid1->columnWidth(0), 200);
    EXPECT_EQ(w.ListBox1->count(), 1);

    // A formula typed with blanks is stored without them.
    w.StringGrid1->setCurrentCell(1, 1);
    w.StringGrid1SelectCell(1, 1);
    EXPECT_EQ(EditTarget(), QStringLiteral("grid"));
    w.Memo1->setPlainText(QStringLiteral("ВРАЧИ * 2"));
    w.BitBtn1Click();
    EXPECT_EQ(w.StringGrid1->item(1, 1)->text(), QStringLiteral("ВРАЧИ*2"));
    EXPECT_EQ(LoadSet(SetStaffing).cell(1, 1), QStringLiteral("ВРАЧИ*2"));

    // Identifier editing.
    w.ListBox1->setCurrentRow(0);
    w.ListBox1Click();
    w.Memo1->setPlainText(QStringLiteral("ВРАЧИ=Ф30Т[1000]СТР1ГР4"));
    w.BitBtn1Click();
    EXPECT_EQ(LoadSet(SetStaffing).identifiers.first(), QStringLiteral("ВРАЧИ=Ф30Т[1000]СТР1ГР4"));

    w.N2Click();
    EXPECT_EQ(w.StringGrid1->item(3, 0)->text(), QStringLiteral("Новая строка"));
    w.N3Click();
    EXPECT_EQ(LoadSet(SetStaffing).columnCount, 3);
    w.StringGrid1->setCurrentCell(0, 1);
    w.N6Click();
    EXPECT_EQ(env.dialogs.messages.last(), QStringLiteral("Нельзя удалить заголовки столбцов!"));
    w.StringGrid1->setCurrentCell(1, 1);
    w.N6Click();
    EXPECT_EQ(w.StringGrid1->rowCount(), 3);
    EXPECT_EQ(LoadSet(SetStaffing).cell(0, 1), QStringLiteral("Укомплектованность: %"));

    w.Edit2->setText(QStringLiteral("СТР1"));
    w.Edit4->setText(QStringLiteral("СТР2"));
    w.BitBtn3Click();
    EXPECT_EQ(env.dialogs.messages.last(), QStringLiteral("Замен произведено: 1"));
    EXPECT_TRUE(w.StringGrid1->item(1, 1)->text().startsWith(QStringLiteral("Ф30Т[1000]СТР2ГР5")));

    w.N4Click();
    EXPECT_EQ(w.ListBox1->count(), 2);
    EXPECT_EQ(w.ListBox1->item(1)->text(), QStringLiteral("Неопределенный идентификатор"));
    savePng(w, QStringLiteral("indicator_editor"));

    // Size editing toggles its caption.
    w.N14->trigger();
    EXPECT_EQ(w.N14->text(), QStringLiteral("Выключить"));
    savePng(w, QStringLiteral("indicator_editor_sizes"));
    w.N14->trigger();
    EXPECT_EQ(w.N14->text(), QStringLiteral("Включить"));
}

TEST(IndicatorViewWindow, ComputesOnceSplitsAndPrints) {
    Env env;
    SharedState &s = shared();
    s.ReportMode = QStringLiteral("Types");
    s.DataTableName = QStringLiteral("data");
    s.IncludeList = QStringLiteral("5,9");
    IndicatorTerm() = SetStaffing;
    TShowStat w;
    w.setWindowTitle(QStringLiteral("Больница"));
    w.Label1->setText(QStringLiteral("Обеспеченность кадрами"));
    w.FormActivate();
    ASSERT_EQ(w.StringGrid1->rowCount(), 3);
    EXPECT_EQ(w.StringGrid1->item(1, 1)->text(), QStringLiteral("97.14"));
    EXPECT_EQ(w.StringGrid1->item(2, 1)->text(), QStringLiteral("97.14%"));
    // A second activation keeps the grid as it is.
    w.StringGrid1->item(1, 1)->setText(QStringLiteral("x"));
    w.FormActivate();
    EXPECT_EQ(w.StringGrid1->item(1, 1)->text(), QStringLiteral("x"));
    w.StringGrid1->item(1, 1)->setText(QStringLiteral("97.14"));

    s.CurrentInstitution = 77;
    w.StringGrid1->setCurrentCell(1, 1);
    w.N2Click(false);
    EXPECT_EQ(s.CurrentInstitution, 77);
    EXPECT_EQ(s.DataTableName, QStringLiteral("data"));
    EXPECT_EQ(w.SplitLines, (QStringList{QStringLiteral("Северная ЦРБ\t96.00"), QStringLiteral("Южная ЦРБ\t97.78"),
                                         QStringLiteral("Всего\t97.14")}));
    EXPECT_EQ(Form1().heading(), QStringLiteral("Обеспеченность кадрами - Врачей на 10000 населения - Значение"));
    EXPECT_EQ(Form1().windowTitle(), QStringLiteral("Больница"));
    // The split list is opened over the modal view so that the user can reach it.
    EXPECT_EQ(env.dialogs.modalTitles, QStringList{QStringLiteral("Больница")});
    Form1().hide();

    EXPECT_EQ(IndicatorDocumentLines(QStringLiteral("К"), QStringLiteral("З"),
                                     {{QStringLiteral("а\r\nб"), QStringLiteral("1")}}),
              (QStringList{QStringLiteral("К"), QStringLiteral("З"), QStringLiteral("аб\t1")}));
    w.N1Click();
    w.Excel1Click();
    ASSERT_EQ(env.dialogs.opened.size(), 2);
    EXPECT_TRUE(env.dialogs.opened[0].endsWith(QStringLiteral(".docx")));
    EXPECT_TRUE(env.dialogs.opened[1].endsWith(QStringLiteral(".xlsx")));
    savePng(w, QStringLiteral("indicator_view"));
}

TEST(IndicatorEditorWindow, AdministratorTintOfChangedReferences) {
    SampleFixture f(true);
    FakeDialogs dialogs;
    f.reloadCaches();
    // Row 1 of Ф30 (1000) means something else this year; the previous year
    // is the same, so only cells naming that row are tinted.
    db::exec(db::connection(db::kMain),
             QStringLiteral("update titles set txt=? where \"table\"=? and \"column\"=1 and \"row\"=4"),
             {QStringLiteral("Другая строка"), TableF30Staff});
    StoreGridCell(SetStaffing, 1, 1, QStringLiteral("Ф30Т[2000]СТР1ГР4"), 64, 20);
    CurrentTerm() = SetStaffing;
    TMIForms w;
    w.FormActivate();
    EXPECT_FALSE(w.isMarked(1, 2));
    AdminMode::instance().setOn(true);
    EXPECT_TRUE(w.isMarked(1, 2));
    EXPECT_FALSE(w.isMarked(1, 1));
    EXPECT_FALSE(w.isMarked(0, 2));
    AdminMode::instance().setOn(false);
    EXPECT_FALSE(w.isMarked(1, 2));
}

// Inserting before the current row or column leaves the new empty row or
// column current, and the edit field never keeps the text of a cell that
// moved: storing right after an insert or a delete copies nothing.
TEST(IndicatorEditorWindow, EditFieldFollowsInsertedAndDeletedCells) {
    Env env;
    CurrentTerm() = SetStaffing;
    TMIForms w;
    w.FormActivate();
    // The target of the last editor survives it; opening "Добавить > Строку"
    // before any cell was chosen here stores nothing over the corner.
    EditTarget() = QStringLiteral("grid");
    const QString corner = LoadSet(SetStaffing).cell(0, 0);
    ASSERT_LT(w.StringGrid1->currentRow(), 0);
    emit w.RowMenu->aboutToShow();
    EXPECT_EQ(LoadSet(SetStaffing).cell(0, 0), corner);
    const QString firstTitle = w.StringGrid1->item(1, 0)->text();
    w.StringGrid1->setCurrentCell(1, 0);
    EXPECT_EQ(w.Memo1->toPlainText(), firstTitle);

    w.N10Click();
    ASSERT_EQ(w.StringGrid1->rowCount(), 4);
    EXPECT_EQ(w.StringGrid1->currentRow(), 1);
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
    w.Memo1->setPlainText(QStringLiteral("Новый показатель"));
    w.BitBtn1Click();
    SetTable t = LoadSet(SetStaffing);
    EXPECT_EQ(t.cell(0, 1), QStringLiteral("Новый показатель"));
    EXPECT_EQ(t.cell(0, 2), firstTitle);

    // Column before column 1: the new column is current and empty.
    const QString moved = t.cell(1, 2);
    w.StringGrid1->setCurrentCell(2, 1);
    EXPECT_EQ(w.Memo1->toPlainText(), moved);
    w.N16Click();
    EXPECT_EQ(w.StringGrid1->currentColumn(), 1);
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
    w.BitBtn1Click();
    t = LoadSet(SetStaffing);
    EXPECT_EQ(t.cell(2, 2), moved);
    EXPECT_EQ(t.cell(1, 2), QStringLiteral(" "));

    // Deleting the current row: "Ok" afterwards does not write the deleted text.
    w.StringGrid1->setCurrentCell(2, 2);
    w.N6Click();
    const SetTable before = LoadSet(SetStaffing);
    EXPECT_EQ(w.Memo1->toPlainText(), w.StringGrid1->currentItem() ? w.StringGrid1->currentItem()->text() : QString());
    w.BitBtn1Click();
    const SetTable after = LoadSet(SetStaffing);
    EXPECT_EQ(after.cells, before.cells);
}

// The roads a user takes: the main window's command opens the set tree in
// editing mode, "Состав" edits the set; the types list and the report list
// open it in viewing mode, where Enter on a set shows its computed values.
TEST(IndicatorRoads, EditingAndViewingFromTheirOpeners) {
    Env env;
    env.dialogs.modals.push_back([&](QDialog *d) {
        auto *tree = qobject_cast<TMISetup *>(d);
        EXPECT_NE(tree, nullptr);
        if (!tree) return int(QDialog::Rejected);
        EXPECT_TRUE(tree->N3->isVisible());
        EXPECT_FALSE(tree->N8->isVisible());
        tree->FormActivate();
        select(*tree, SetStaffing);
        env.dialogs.modals.push_back([](QDialog *e) {
            auto *editor = qobject_cast<TMIForms *>(e);
            EXPECT_NE(editor, nullptr);
            if (!editor) return int(QDialog::Rejected);
            editor->FormActivate();
            EXPECT_EQ(editor->term(), SetStaffing);
            editor->StringGrid1->setCurrentCell(1, 1);
            editor->Memo1->setPlainText(QStringLiteral("Ф30Т[1000]СТР1ГР5 * 2"));
            editor->BitBtn1Click();
            return int(QDialog::Accepted);
        });
        tree->N3Click();
        return int(QDialog::Accepted);
    });
    openIndicatorSetup(nullptr);
    EXPECT_EQ(LoadSet(SetStaffing).cell(1, 1), QStringLiteral("Ф30Т[1000]СТР1ГР5*2"));
    EXPECT_TRUE(env.dialogs.messages.isEmpty());

    // Types list: institutions 5 and 9, values of "data"; ГР5 = 48 + 88.
    SharedState &s = shared();
    s.ReportMode = QStringLiteral("Types");
    s.DataTableName = QStringLiteral("Data");
    s.IncludeList = QStringLiteral("5,9");
    QStringList shown;
    auto viewer = [&](QDialog *d) {
        auto *tree = qobject_cast<TMISetup *>(d);
        EXPECT_NE(tree, nullptr);
        if (!tree) return int(QDialog::Rejected);
        EXPECT_TRUE(tree->N8->isVisible());
        EXPECT_FALSE(tree->N3->isVisible());
        tree->FormActivate();
        select(*tree, SetStaffing);
        env.dialogs.modals.push_back([&](QDialog *v) {
            auto *view = qobject_cast<TShowStat *>(v);
            EXPECT_NE(view, nullptr);
            if (!view) return int(QDialog::Rejected);
            view->FormActivate();
            shown << view->windowTitle() << view->Label1->text() << view->StringGrid1->item(1, 1)->text();
            return int(QDialog::Accepted);
        });
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(tree->TreeView1, &enter);
        return int(QDialog::Accepted);
    };
    env.dialogs.modals.push_back(viewer);
    openIndicatorTreeForViewing(nullptr, QStringLiteral("Сельские больницы"));
    EXPECT_EQ(shown, (QStringList{QString(), QStringLiteral("Обеспеченность кадрами"), QStringLiteral("272.00")}));

    // Report list: the report's values of "repdata" (stored column ГР + 1, row СТР + 4).
    db::exec(db::kData, QStringLiteral("insert into repdata values (?,?,?,?,?,?)"),
             {ReportNorth, 13.0, SampleFixture::kYear, TableF30Staff, 6, 5});
    s.ReportMode = QStringLiteral("Terrain");
    s.DataTableName = QStringLiteral("REpData");
    s.CurrentInstitution = ReportNorth;
    shown.clear();
    env.dialogs.modals.push_back(viewer);
    openIndicatorTreeForViewing(nullptr, QStringLiteral("Северный округ - \"дерево\" показателей"));
    EXPECT_EQ(shown, (QStringList{QStringLiteral("Северный округ"), QStringLiteral("Обеспеченность кадрами"),
                                  QStringLiteral("26.00")}));
    EXPECT_TRUE(env.dialogs.messages.isEmpty()) << env.dialogs.messages.join(u'\n').toStdString();
}

// In administrator mode the editing window's menu holds every item at once;
// it must fit without a hidden overflow.
TEST(IndicatorSetupWindow, WholeMenuFitsInAdministratorMode) {
    Env env;
    AdminMode::instance().setOn(true);
    TMISetup w;
    w.setEditingMode();
    w.show();
    QAction *last = w.N4;
    EXPECT_TRUE(w.N7->isVisible());
    EXPECT_FALSE(w.MainMenu1->actionGeometry(last).isEmpty());
    EXPECT_LE(w.MainMenu1->actionGeometry(last).right(), w.MainMenu1->width());
    EXPECT_EQ(w.MainMenu1->actionGeometry(last).top(), w.MainMenu1->actionGeometry(w.N1).top());
    savePng(w, QStringLiteral("indicator_tree_admin"));
    AdminMode::instance().setOn(false);
}
