// Calculation rules of a table: the stored record of cell, row and column rules, the types chosen in the dialog,
// deleting, the divisor field and the F8 takeover of the crossing line rules, over the sample's network table.
#include "engine/SharedState.h"
#include "support/TestWork.h"
#include "core/TreeMarking.h"
#include "forms/table/CalcRuleEditor.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "support/TableWindowSetup.h"
#include "widgets/AbcCheckBox.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTest>
#include <QTextEdit>
#include <QApplication>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace calcrule;

namespace {

constexpr int kNet = sample::ids::TableF47Network;

struct StoredRule {
    int count = 0;
    QVariantList values;   // physical order of the table
};

StoredRule storedRule(qint64 tid, int row, int column) {
    StoredRule r;
    QSqlQuery q = db::exec(db::kMain, "select * from conditions where tid=? and \"row\"=? and \"column\"=?",
                           {tid, row, column});
    while (q.next()) {
        ++r.count;
        r.values.clear();
        for (int i = 0; i < 12; ++i) r.values << q.value(i);
    }
    return r;
}

QTreeWidgetItem *typeNode(QTreeWidget *tree, const QString &name) {
    for (QTreeWidgetItem *n : TreeNodesInOrder(tree))
        if (n->text(0) == name) return n;
    return nullptr;
}

QStringList boldTypes(QTreeWidget *tree) {
    QStringList out;
    for (QTreeWidgetItem *n : TreeNodesInOrder(tree))
        if (IsTreeNodeMarked(n)) out << n->text(0);
    return out;
}

class CalcRuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        fx.reloadCaches();
        installCalcRuleTableExtension();
        table = aimTableWindow(sample::ids::ReportNetwork, sample::ids::FormF47, QStringLiteral("Ф47"), QStringLiteral("(1000)"));
        SharedState &s = shared();
        testWork().mode = ReportMode::Net;
        testWork().net = true;
        testWork().table = ValueTable::RepData;
    }
    void TearDown() override { testWork().net = false; }
    TableWindowParams table;

    std::unique_ptr<TVTable> show(int column, int row) {
        auto w = showTableWindow(table);
        w->grid()->setCurrentCell(column, row);
        return w;
    }

    SampleFixture fx;
    FakeDialogs dialogs;
};

} // namespace

TEST_F(CalcRuleTest, StoredRecordOfCellRowAndColumnRules) {
    RuleFields f;
    f.sum = true;
    f.formula = "Ф30Т(1000)СТР1ГР4";
    f.condition = "Ф30Т(1000)СТР1ГР4>\"0\"";   // a double quote is kept, not an SQL break
    f.koeff = "12";
    f.country = true;
    f.midle = false;
    f.types = "2,3,";
    SaveCalcRule(1, {RuleKind::Cell, 2, 0}, f);
    StoredRule r = storedRule(1, 2, 0);
    ASSERT_EQ(r.count, 1);
    // tid, row, column, type, formula, condition, koeff, country, lft, rght, midle, types
    QStringList fields;
    for (const QVariant &v : r.values) fields << v.toString();
    EXPECT_EQ(fields, QStringList({"1", "2", "0", "1", f.formula, f.condition, "12", "1", "", "", "0", "2,3"}));
    EXPECT_FALSE(r.values[8].isNull());

    // Saved again: the same record changes.
    f.formula = "Ф30Т(1000)СТР2ГР4";
    f.koeff = "";   // an empty divisor is stored as 1
    SaveCalcRule(1, {RuleKind::Cell, 2, 0}, f);
    r = storedRule(1, 2, 0);
    ASSERT_EQ(r.count, 1);
    EXPECT_EQ(r.values[4].toString(), f.formula);
    EXPECT_EQ(r.values[6].toInt(), 1);
    const auto back = ReadCalcRule(1, {RuleKind::Cell, 2, 0});
    ASSERT_TRUE(back);
    EXPECT_EQ(back->condition, f.condition);

    SaveCalcRule(1, {RuleKind::Row, 4, 7}, f);
    SaveCalcRule(1, {RuleKind::Column, 4, 7}, f);
    EXPECT_EQ(storedRule(1, 4, -1).count, 1);
    EXPECT_EQ(storedRule(1, -1, 7).count, 1);
    DeleteCalcRule(1, {RuleKind::Row, 4, 99});
    EXPECT_EQ(storedRule(1, 4, -1).count, 0);
    EXPECT_EQ(storedRule(1, -1, 7).count, 1);
    EXPECT_FALSE(ReadCalcRule(1, {RuleKind::Row, 4, 0}));
}

// The divisor is a number within a sane range: a stored negative one is
// kept on the next save, one that does not fit is refused, nothing stored.
TEST_F(CalcRuleTest, DivisorsAreKeptOrRefusedNeverWrapped) {
    db::exec(db::kMain, "insert into conditions values (2, 0, 0, 1, 'Ф30Т(1000)СТР1ГР4', '', -2, 0, '', '', 0, '*')");
    RuleFields f = *ReadCalcRule(2, {RuleKind::Cell, 0, 0});
    EXPECT_EQ(f.koeff, "-2");
    SaveCalcRule(2, {RuleKind::Cell, 0, 0}, f);
    EXPECT_EQ(storedRule(2, 0, 0).values[6].toDouble(), -2);
    f.koeff = "0,25";
    SaveCalcRule(2, {RuleKind::Cell, 0, 0}, f);
    EXPECT_EQ(storedRule(2, 0, 0).values[6].toDouble(), 0.25);
    for (const QString bad : {"99999999999", "1e10", "x", "-1e300"}) {
        f.koeff = bad;
        EXPECT_THROW(SaveCalcRule(2, {RuleKind::Cell, 0, 0}, f), db::Error) << bad.toStdString();
        EXPECT_EQ(storedRule(2, 0, 0).values[6].toDouble(), 0.25) << bad.toStdString();
    }
    // A stored divisor beyond the range is shown as it is, and saving it back
    // is refused with a message: never clamped to the range's end.
    db::exec(db::kMain, "update conditions set koeff=1e10 where tid=2");
    f = *ReadCalcRule(2, {RuleKind::Cell, 0, 0});
    EXPECT_EQ(f.koeff, "10000000000");
    try {
        SaveCalcRule(2, {RuleKind::Cell, 0, 0}, f);
        ADD_FAILURE() << "saved";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("Делитель \"10000000000\" не сохранен"))) << e.message().toStdString();
    }
    EXPECT_EQ(storedRule(2, 0, 0).values[6].toDouble(), 1e10);
}

TEST_F(CalcRuleTest, OldStoredTypesWithTrailingCommaLoseOnlyTheComma) {
    db::exec(db::kMain, "insert into conditions values (20, 0, 0, 0, '', '', null, 0, '', '', 0, '12,')");
    db::exec(db::kMain, "insert into conditions values (20, 1, 0, 0, '', '', null, 0, '', '', 0, '12')");
    EXPECT_EQ(ReadCalcRule(20, {RuleKind::Cell, 0, 0})->types, "12");
    EXPECT_EQ(ReadCalcRule(20, {RuleKind::Cell, 1, 0})->types, "12");
    EXPECT_EQ(ReadCalcRule(20, {RuleKind::Cell, 1, 0})->koeff, "1");
}

TEST_F(CalcRuleTest, TakeoverCombinesTheLineRulesOfTheCell) {
    // Row rule (3,-1) is the outer one of a scan-0 table, column rule (-1,1) the inner one.
    // Both with a condition: joined; the rural flag of either is kept.
    db::exec(db::kMain, "update conditions set condition='Ф30Т(1000)СТР1ГР4>5', country=1 where tid=? and "
                        "\"row\"=-1 and \"column\"=1", {kNet});
    const RuleFields g = calcrule::InheritLineRules(kNet, 0, 3, 1);
    EXPECT_TRUE(g.condition.endsWith(") and\n\r(Ф30Т(1000)СТР1ГР4>5)"));
    EXPECT_TRUE(g.condition.startsWith("(Ф30Т"));
    EXPECT_TRUE(g.country);
    EXPECT_EQ(g.koeff, "1");   // the outer rule's divisor

    // Neither line rule rural: the cell rule taken over is not rural either.
    db::exec(db::kMain, "update conditions set country=0 where tid=? and (\"row\"=-1 or \"column\"=-1)", {kNet});
    EXPECT_FALSE(calcrule::InheritLineRules(kNet, 0, 3, 1).country);
}

TEST_F(CalcRuleTest, CellRuleSavedFromTheDialogWithChosenTypes) {
    auto w = show(1, 2);   // no rule yet
    dialogs.modals.push_back([&](QDialog *d) {
        auto *dlg = static_cast<TNTChar *>(d);
        // No type: refused, the dialog stays.
        dlg->okButton()->click();
        EXPECT_EQ(d->result(), 0);
        EXPECT_TRUE(dialogs.sawMessage("Необходимо выбрать хотя бы один тип учреждений!"));
        dlg->formulaEdit()->setText("Ф30Т(2000)СТР1ГР4");
        dlg->sumButton()->click();
        // A group chooses its branch; a leaf of it taken away again.
        dlg->switchType(typeNode(dlg->typeTree(), "Амбулатории"));
        dlg->switchType(typeNode(dlg->typeTree(), "ФАП"));
        EXPECT_EQ(boldTypes(dlg->typeTree()), QStringList({"Амбулатории", "Поликлиника"}));
        dlg->okButton()->click();
        return d->result();
    });
    w->commandAction(TVTable::Command::RuleCell)->trigger();
    StoredRule r = storedRule(kNet, 2, 1);
    ASSERT_EQ(r.count, 1);
    EXPECT_EQ(r.values[3].toInt(), 1);
    EXPECT_EQ(r.values[4].toString(), "Ф30Т(2000)СТР1ГР4");
    EXPECT_EQ(r.values[11].toString(), "5");

    // Reopened: the types are shown; "Выбрать всех" stores "*".
    dialogs.modals.push_back([&](QDialog *d) {
        auto *dlg = static_cast<TNTChar *>(d);
        EXPECT_EQ(boldTypes(dlg->typeTree()), QStringList({"Амбулатории", "Поликлиника"}));
        EXPECT_TRUE(dlg->sumButton()->isChecked());
        dlg->allTypesBox()->click();
        EXPECT_EQ(boldTypes(dlg->typeTree()).size(), 6);
        dlg->okButton()->click();
        return d->result();
    });
    w->commandAction(TVTable::Command::RuleCell)->trigger();
    EXPECT_EQ(storedRule(kNet, 2, 1).values[11].toString(), "*");
    EXPECT_EQ(storedRule(kNet, 2, 1).count, 1);
}

// A cell has one rule whatever happens behind its open dialog: stored there by another window meanwhile, OK rewrites
// it rather than adding a second; the table deleted meanwhile, OK says so and stores nothing.
TEST_F(CalcRuleTest, TheRuleOfACellStaysOneWhateverHappensBehindTheDialog) {
    auto w = show(1, 2);   // no rule yet
    const auto typeAndOk = [&](const std::function<void()> &behind) {
        return [=](QDialog *d) {
            auto *dlg = static_cast<TNTChar *>(d);
            dlg->formulaEdit()->setText("Ф30Т(2000)СТР1ГР4");
            if (!dlg->allTypesBox()->isChecked()) dlg->allTypesBox()->click();
            behind();
            dlg->okButton()->click();
            return d->result();
        };
    };
    RuleFields other;
    other.formula = "Ф14Т(1000)СТР1ГР4";
    other.types = "*";
    dialogs.modals.push_back(typeAndOk([&] { SaveCalcRule(kNet, {RuleKind::Cell, 2, 1}, other); }));
    w->commandAction(TVTable::Command::RuleCell)->trigger();
    ASSERT_EQ(storedRule(kNet, 2, 1).count, 1);
    EXPECT_EQ(storedRule(kNet, 2, 1).values[4].toString(), "Ф30Т(2000)СТР1ГР4");

    dialogs.modals.push_back(typeAndOk([&] {
        db::exec(db::kMain, "update conditions set formula='Ф14Т(1000)СТР1ГР5' where tid=?", {kNet});
        db::exec(db::kMain, "delete from tables where ident=?", {kNet});
    }));
    w->commandAction(TVTable::Command::RuleCell)->trigger();
    EXPECT_TRUE(dialogs.sawMessage("Таблица удалена из перечня форм, пока было открыто окно. Правило не сохранено."))
        << dialogs.messages.join('|').toStdString();
    EXPECT_EQ(storedRule(kNet, 2, 1).values[4].toString(), "Ф14Т(1000)СТР1ГР5");
}

TEST_F(CalcRuleTest, TakeoverInTheDialogAndDeleting) {
    auto w = show(1, 3);
    dialogs.modals.push_back([&](QDialog *d) {
        auto *dlg = static_cast<TNTChar *>(d);
        QTest::keyClick(dlg, Qt::Key_F8);
        EXPECT_EQ(dlg->formulaEdit()->text(), "Ф14Т(1000)СТР1ГР5");
        EXPECT_TRUE(dlg->sumButton()->isChecked());
        EXPECT_EQ(boldTypes(dlg->typeTree()), QStringList({"Стационары", "Больница", "Диспансер"}));
        dlg->okButton()->click();
        return d->result();
    });
    w->commandAction(TVTable::Command::RuleCell)->trigger();
    EXPECT_EQ(storedRule(kNet, 3, 1).values[11].toString(), "2,3");

    // "Удалить" asks first: No keeps the rule, Yes removes it.
    auto remove = [&](QDialog *d) {
        auto *dlg = static_cast<TNTChar *>(d);
        dlg->deleteButton()->click();
        return d->result();
    };
    dialogs.modals.push_back(remove);
    dialogs.answers.push_back(false);
    w->commandAction(TVTable::Command::RuleCell)->trigger();
    EXPECT_EQ(storedRule(kNet, 3, 1).count, 1);
    dialogs.modals.push_back(remove);
    dialogs.answers.push_back(true);
    w->commandAction(TVTable::Command::RuleCell)->trigger();
    EXPECT_EQ(storedRule(kNet, 3, 1).count, 0);
    EXPECT_EQ(dialogs.questions, QStringList({"Удалить формулу?", "Удалить формулу?"}));
}

TEST_F(CalcRuleTest, DivisorTakesDigitsOnly) {
    TNTChar dlg;
    QTest::keyClicks(dlg.divisorEdit(), "a");
    EXPECT_EQ(dlg.divisorEdit()->text(), "1");
    dlg.divisorEdit()->selectAll();
    QTest::keyClicks(dlg.divisorEdit(), "25");
    EXPECT_EQ(dlg.divisorEdit()->text(), "25");
    dlg.divisorEdit()->clear();
    EXPECT_EQ(dlg.divisorEdit()->text(), "1");
    dlg.divisorEdit()->setText("0");
    EXPECT_EQ(dlg.divisorEdit()->text(), "1");
    // A negative or fractional divisor is typed and kept.
    dlg.divisorEdit()->clear();
    dlg.divisorEdit()->selectAll();
    QTest::keyClicks(dlg.divisorEdit(), "-2");
    EXPECT_EQ(dlg.divisorEdit()->text(), "-2");
    dlg.divisorEdit()->selectAll();
    QTest::keyClicks(dlg.divisorEdit(), ".5");
    EXPECT_EQ(dlg.divisorEdit()->text(), ".5");
}

// Choosing "Сумма" (which shows "Среднее") and the explanation coming with the caret move no field of the dialog.
TEST(CalcRuleExplanation, FieldsStayWhereTheyAreWhenSumIsChosenAndTheExplanationShows) {
    SampleFixture fx(true);
    fx.reloadCaches();
    FakeDialogs dialogs;
    TNTChar d;
    d.resize(700, 640);
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    const QList<QWidget *> fields = {d.formulaEdit(), d.conditionEdit(), d.divisorEdit(), d.okButton()};
    const auto places = [&] {
        QApplication::processEvents();
        QList<QRect> out;
        for (QWidget *f : fields) out << QRect(f->mapTo(&d, QPoint(0, 0)), f->size());
        return out;
    };
    const QList<QRect> before = places();
    QTest::mouseClick(d.sumButton(), Qt::LeftButton);
    ASSERT_TRUE(d.sumButton()->isChecked());
    EXPECT_EQ(places(), before);
    d.formulaEdit()->setFocus();
    d.formulaEdit()->setText("Ф30Т(1000)СТР1ГР4");
    d.formulaEdit()->setCursorPosition(3);
    ASSERT_TRUE(d.explanationView()->isVisible());
    EXPECT_EQ(places(), before);
}

TEST(CalcRuleExplanation, OneViewAndOnePreviousYearPaneFollowTheCaret) {
    SampleFixture fx(true);
    fx.reloadCaches();
    FakeDialogs dialogs;
    {
        // Last year's row title of СТР1 differs: its decipher is shown beside.
        db::ScopedConnection prev(fx.configFolder() + QString::number(fx.year() - 1) + "/orvmain.mdb",
                                  db::OpenMode::ReadWrite);
        db::exec(prev.db(), "update titles set txt='Врачи прошлого года' where \"table\"=1 and \"column\"=1 and \"row\"=4");
    }
    TNTChar d;
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    auto shown = [&] {
        QStringList names;
        for (QTextEdit *v : d.findChildren<QTextEdit *>())
            if (v->isVisibleTo(&d)) names << (v == d.explanationView() ? "view" : "previous");
        return names;
    };

    d.formulaEdit()->setFocus();
    d.formulaEdit()->setText("Ф30Т(1000)СТР1ГР4");
    d.formulaEdit()->setCursorPosition(3);
    EXPECT_EQ(shown(), QStringList({"view", "previous"}));

    // The condition with the caret on a reference the years agree on: its
    // explanation alone, no second previous-year pane.
    d.conditionEdit()->setFocus();
    d.conditionEdit()->setPlainText("Ф14Т(1000)СТР1ГР6>10");
    QTextCursor c = d.conditionEdit()->textCursor();
    c.setPosition(2);
    d.conditionEdit()->setTextCursor(c);
    EXPECT_EQ(shown(), QStringList{"view"});

    // The caret in the condition off any reference: nothing stale stays.
    c.movePosition(QTextCursor::End);
    d.conditionEdit()->setFocus();
    d.conditionEdit()->setTextCursor(c);
    QApplication::processEvents();
    EXPECT_EQ(shown(), QStringList{});
    EXPECT_LE(d.findChildren<QTextEdit *>().size(), 2);
}
