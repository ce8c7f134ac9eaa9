// The rule editor and the control-file loader as the user drives them.
#include "controls/Cld.h"
#include "support/TestWork.h"
#include "controls/ContrForm.h"
#include "controls/ControlFile.h"
#include "controls/ControlUpload.h"
#include "core/AdminMode.h"
#include "engine/RuleCheck.h"
#include "engine/SharedState.h"
#include "forms/table/ControlHighlight.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableWindow.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/WindowTestBase.h"
#include "support/TestHttpServer.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QApplication>
#include <QDir>
#include <QSqlQuery>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace controls;

namespace {

struct Posted { QMutex mutex; QStringList bodies; };

struct EditorTest : SampleTest {
    void SetUp() override {
        SampleTest::SetUp();
        SetControlPoster([this](const QString &, const QString &body) {
            QMutexLocker l(&posted.mutex);
            posted.bodies << body;
        });
    }
    void TearDown() override {
        WaitForUploads();
        SetControlPoster({});
        SampleTest::TearDown();
    }
    QStringList bodies() {
        WaitForUploads();
        QMutexLocker l(&posted.mutex);
        return posted.bodies;
    }
    static QSqlDatabase mainDb() { return db::connection(db::kMain); }
    static void select(TContrls &w, int row) {
        w.ruleList()->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
        w.showCurrentRule();
    }
    static void setClass(TContrls &w, int cls) {
        w.classButtons()->button(cls)->setChecked(true);
        w.takeRuleClass();
    }

    Posted posted;
};

} // namespace

TEST_F(EditorTest, OpensOnTheFirstFormAndTable) {
    TContrls w;
    EXPECT_EQ(w.leftEdit()->toPlainText(), ReadRule(mainDb(), w.itemKey(0))->texts.lft);
    setClass(w, InterForm);
    EXPECT_EQ(w.ruleList()->count(), 1);
    // A stored relation outside the six shows as "=".
    db::exec(mainDb(), "update int_control set reltion='~' where \"Код\"=6");
    w.showCurrentRule();
    EXPECT_EQ(w.relationIndex(), 0);

    // Another form: its tables and its rules.
    w.formBox()->setCurrentIndex(1);
    setClass(w, IntraTable);
    w.takeChosenForm();
    EXPECT_EQ(w.scope().formName, "Ф14");
    EXPECT_EQ(w.ruleList()->count(), 1);
}

TEST_F(EditorTest, SaveExistingAndNewRulesAndUploadThem) {
    TContrls w;
    select(w, 1);
    const qint64 key = w.itemKey(1);
    w.commentEdit()->setText("Новый комментарий");
    w.saveRule();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
    EXPECT_EQ(ReadRule(mainDb(), key)->texts.commnt, "Новый комментарий");
    EXPECT_EQ(w.ruleList()->item(1)->text(), "Новый комментарий");
    QStringList b = bodies();
    ASSERT_EQ(b.size(), 1);

    // A new inter-table rule: empty table, its new key uploaded.
    setClass(w, InterTable);
    w.addRule();
    EXPECT_EQ(w.ruleList()->currentItem()->text(), "Новый контроль");
    w.leftEdit()->setPlainText("Т[2000]СТР[2]ГР[4]");
    w.rightEdit()->setPlainText("Т[2000]СТР[1]ГР[4]");
    w.commentEdit()->setText("новое");
    w.saveRule();
    EXPECT_EQ(dialogs.messages, QStringList{"Не задано условие!"});
    w.relationButtons()->button(5)->setChecked(true);
    w.saveRule();
    const qint64 newKey = w.ruleList()->currentItem()->data(Qt::UserRole).toLongLong();
    EXPECT_EQ(ReadRule(mainDb(), newKey)->texts.reltion, "<=");
    EXPECT_EQ(w.ruleList()->currentItem()->text(), "новое");
    b = bodies();
    ASSERT_EQ(b.size(), 2);
    EXPECT_TRUE(b[1].startsWith("{\"formid\":1,\"tble\":\"\","));
    EXPECT_TRUE(b[1].endsWith(",\"id\":" + QString::number(newKey) + "}"));

    // Two selected items: nothing is saved or added.
    w.ruleList()->item(0)->setSelected(true);
    w.ruleList()->item(1)->setSelected(true);
    dialogs.messages.clear();
    w.saveRule();
    w.addRule();
    EXPECT_EQ(dialogs.messages, (QStringList{"Нельзя сохранить при множественном выборе! Выберите одну запись.",
                                             "Нельзя добавить при множественном выборе! Снимите выделение."}));
}

// A listed rule is checked, stored and uploaded in its own scope, whatever
// form, table and class the window shows once the list is fixed.
TEST_F(EditorTest, AListedRuleIsSavedInItsOwnScope) {
    TContrls w;
    w.formBox()->setCurrentIndex(1);   // Ф14 (1000): rows 1..3
    w.takeChosenForm();
    ASSERT_EQ(w.scope().formName, "Ф14");
    ASSERT_EQ(w.ruleList()->count(), 1);
    const qint64 key = w.itemKey(0);
    const RuleRecord before = *ReadRule(mainDb(), key);
    w.lockTableBox()->setChecked(true);     // "Зафиксировать": the list stays
    w.formBox()->setCurrentIndex(0);   // Ф30 (1000): rows 1..5
    w.takeChosenForm();
    ASSERT_EQ(w.scope().formName, "Ф30");
    ASSERT_EQ(w.itemKey(0), key);
    select(w, 0);
    // Row 5 lies in Ф30's table, not in the rule's own.
    w.leftEdit()->setPlainText("СТР[5]");
    w.saveRule();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("Строка № 5 вне рабочей области таблицы")))
        << dialogs.messages[0].toStdString();
    EXPECT_EQ(ReadRule(mainDb(), key)->texts.lft, before.texts.lft);
    EXPECT_TRUE(bodies().isEmpty());
    // A rule valid in its own scope is stored there, also with another class
    // chosen, and the upload names its own form and table.
    setClass(w, InterForm);
    w.leftEdit()->setPlainText("СТР[3]");
    dialogs.messages.clear();
    w.saveRule();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
    const RuleRecord after = *ReadRule(mainDb(), key);
    EXPECT_EQ(after.texts.lft, "СТР[3]");
    EXPECT_EQ(after.formId, before.formId);
    EXPECT_EQ(after.table, before.table);
    const QStringList b = bodies();
    ASSERT_EQ(b.size(), 1);
    EXPECT_TRUE(b[0].startsWith(QStringLiteral("{\"formid\":%1,\"tble\":\"(1000)\",").arg(before.formId)))
        << b[0].toStdString();
}

TEST_F(EditorTest, RefusedSaveChangesNothing) {
    TContrls w;
    select(w, 0);
    const qint64 key = w.itemKey(0);
    const RuleRecord before = *ReadRule(mainDb(), key);
    w.leftEdit()->setPlainText("СТР[1]ГР[5]");   // a column inside a column cycle
    w.saveRule();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0],
              "Левая часть: При цикле по графам нельзя указывать графы в условии (операнд СТР[1]ГР[5])");
    EXPECT_EQ(ReadRule(mainDb(), key)->texts.lft, before.texts.lft);
    EXPECT_TRUE(bodies().isEmpty());

    // A comment with a character code page 1251 cannot hold: named, focus on it.
    w.show();
    w.leftEdit()->setPlainText(before.texts.lft);
    w.commentEdit()->setText("Врачи ≤ штатов");
    w.saveRule();
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(dialogs.messages[1].endsWith("\"≤\" (U+2264)")) << dialogs.messages[1].toStdString();
    EXPECT_EQ(ReadRule(mainDb(), key)->texts.commnt, before.texts.commnt);
    EXPECT_TRUE(bodies().isEmpty());
}

// "Удалить ВСЕ контроли по форме" while the list is fixed leaves the deleted rules listed: a save of one of them has
// no row to rewrite. It says so and stores nothing, sends nothing, relabels nothing, unless the user has it stored as
// a new rule of the form and table shown; then it is stored, listed and uploaded under its new key.
TEST_F(EditorTest, ARuleDeletedBehindTheListIsStoredOnlyAsANewOne) {
    TContrls w;
    w.lockTableBox()->setChecked(true);
    const int listed = w.ruleList()->count();
    ASSERT_GE(listed, 2);
    dialogs.answers = {true};
    w.deleteFormRules();
    ASSERT_EQ(w.ruleList()->count(), listed) << "the fixed list keeps the deleted rules";
    const int rules = db::scalar(mainDb(), "select count(*) from int_control").toInt();
    select(w, 1);
    const qint64 gone = w.itemKey(1);
    const QString label = w.ruleList()->item(1)->text();
    w.leftEdit()->setPlainText("СТР[1]");
    w.rightEdit()->setPlainText("СТР[2]+СТР[3]");
    w.cycleEdit()->setPlainText("ГР[4..5]");
    w.relationButtons()->button(3)->setChecked(true);
    w.commentEdit()->setText("Снова «Ёж», 0,1");

    dialogs.questions.clear();
    w.saveRule();   // answered No
    ASSERT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(dialogs.questions[0].startsWith("Контроль \"" + label + "\" уже удален из базы"))
        << dialogs.questions[0].toStdString();
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), rules);
    EXPECT_EQ(w.ruleList()->item(1)->text(), label);
    EXPECT_EQ(w.itemKey(1), gone);
    EXPECT_TRUE(bodies().isEmpty());

    dialogs.answers = {true};
    w.saveRule();
    ASSERT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), rules + 1);
    const qint64 key = w.itemKey(1);
    EXPECT_NE(key, gone);
    const std::optional<RuleRecord> stored = ReadRule(mainDb(), key);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->texts.commnt, "Снова «Ёж», 0,1");
    EXPECT_EQ(stored->formId, w.scope().formId);
    EXPECT_EQ(stored->table, w.scope().table);
    EXPECT_EQ(w.ruleList()->item(1)->text(), "Снова «Ёж», 0,1");
    const QStringList b = bodies();
    ASSERT_EQ(b.size(), 1);
    EXPECT_TRUE(b[0].endsWith(",\"id\":" + QString::number(key) + "}")) << b[0].toStdString();

    // A save that finds its row gone only when it writes stores nothing either.
    EXPECT_THROW(SaveRule(mainDb(), w.scope(), gone, {"СТР[1]", ">=", "СТР[2]", "ГР[4]", "к"}), db::Error);
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), rules + 1);
}

TEST_F(EditorTest, UploadReachesTheServiceByteForByteOrFailsSilently) {
    TestHttpServer server;
    ASSERT_NE(server.port(), 0);
    server.setOk("/kelvana/api/v1/control/", "{}");
    SetControlPoster({});   // the real transport
    SetControlServiceUrl(server.base() + "/kelvana/api/v1/control/");
    TContrls w;
    select(w, 0);
    w.commentEdit()->setText("сохранено \"с кавычками\" / и Tab\t");   // a Tab in a comment is saved as a blank
    w.saveRule();
    WaitForUploads();
    EXPECT_TRUE(LastUploadError().isEmpty()) << LastUploadError().toStdString();
    ASSERT_EQ(server.requests().size(), 1);
    const QByteArray req = server.requests()[0];
    EXPECT_TRUE(req.contains("Content-Type: application/json; charset=utf-8\r\n"));
    EXPECT_TRUE(req.endsWith("\",\"commnt\":\"сохранено \\\"с кавычками\\\" \\/ и Tab \",\"year\":"
                             + QByteArray::number(UploadYear()) + ",\"id\":" + QByteArray::number(w.itemKey(0)) + "}"))
        << req.constData();

    // An unreachable service: the rule stays saved, the window says nothing.
    SetControlServiceUrl("http://127.0.0.1:1/kelvana/api/v1/control/");
    w.commentEdit()->setText("сохранено без сервера");
    QElapsedTimer t;
    t.start();
    w.saveRule();
    EXPECT_LT(t.elapsed(), 1000) << "the upload does not hold up the window";
    EXPECT_EQ(ReadRule(mainDb(), w.itemKey(0))->texts.commnt, "сохранено без сервера");
    WaitForUploads();
    EXPECT_FALSE(LastUploadError().isEmpty());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    SetControlServiceUrl(QString());
}

TEST_F(EditorTest, DeleteAndClearTheList) {
    TContrls w;
    ASSERT_EQ(w.ruleList()->count(), 3);
    w.ruleList()->clearSelection();
    w.deleteRules();
    EXPECT_EQ(dialogs.messages.last(), "Не выбрано ни одной записи для удаления!");
    w.addRule();   // an unsaved item (selected) leaves the list and deletes nothing
    w.ruleList()->item(0)->setSelected(true);
    w.ruleList()->item(2)->setSelected(true);
    const qint64 kept = w.itemKey(1);
    w.deleteRules();
    EXPECT_EQ(dialogs.messages.last(), "Удалено записей: 2");
    ASSERT_EQ(w.ruleList()->count(), 1);
    EXPECT_EQ(w.itemKey(0), kept);
    EXPECT_EQ(w.previousYearFlags().size(), 1);
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), 5);

    dialogs.answers = {false, true};
    w.clearList();
    EXPECT_EQ(dialogs.questions.last(), "Вы уверены, что хотите удалить 1 контролей?");
    EXPECT_EQ(w.ruleList()->count(), 1);
    w.clearList();
    EXPECT_FALSE(ReadRule(mainDb(), kept));
}

// The export, deletion and loader of a form's rules through their windows
// (their file cases are the control-file tests').
TEST_F(EditorTest, FormRulesExportDeletionAndLoad) {
    TContrls w;
    const QString file = fx.root() + "ф30";
    dialogs.files = {file};
    w.exportFormRules();
    EXPECT_EQ(dialogs.messages.last(), "Контроли выгружены в файл " + file + ".orv");
    w.deleteFormRules();   // declined
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), 7);
    EXPECT_TRUE(dialogs.questions.last().startsWith("Вы действительно хотите удалить ВСЕ контроли по Ф30?"));
    dialogs.answers = {true};
    w.deleteFormRules();
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), 1);

    // The loader brings them back and names the file of the rejected line.
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(file + ".orv", lines));
    lines << "\"Ф30\",\"(1000)\",\"СТР[7]\",\">=\",\"0\",\"ГР4\",\"x\"";
    ASSERT_TRUE(cp1251::writeLines(file + ".orv", lines));
    TCld loader;
    loader.setFolder(fx.root());
    ASSERT_EQ(loader.fileList()->count(), 1);
    loader.modeButtons()->button(1)->setChecked(true);
    loader.loadChosenFile();
    EXPECT_EQ(dialogs.messages.last(),
              "Обнаружены контроли, не согласующиеся с Вашей структурой форм!\r\nСм. файл \"Несогласованные контроли\"");
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), 7)
        << "replacing the rules of Ф30 and those between forms keeps the rule of Ф14";
}

TEST_F(EditorTest, ReplaceInTheSelectedRules) {
    TContrls w;
    w.replaceInSelected();
    EXPECT_EQ(dialogs.messages.last(), "Не задан текст для поиска!");
    w.findEdit()->setText("СТР[1]");
    w.replaceWithEdit()->setText("СТР[2]");
    w.ruleList()->clearSelection();
    w.replaceInSelected();
    EXPECT_EQ(dialogs.messages.last(), "Не выбрано ни одной записи для замены!");
    w.ruleList()->item(0)->setSelected(true);
    const qint64 key = w.itemKey(0);
    const RuleRecord before = *ReadRule(mainDb(), key);
    w.replaceScopeButtons()->button(ReplaceRight)->setChecked(true);
    w.replaceInSelected();
    const RuleRecord after = *ReadRule(mainDb(), key);
    EXPECT_EQ(after.texts.lft, before.texts.lft) << "only the right side";
    EXPECT_EQ(after.texts.rght, QString(before.texts.rght).replace("СТР[1]", "СТР[2]"));
}

TEST_F(EditorTest, TableLockedCellView) {
    installControlsTableExtension();
    SharedState &s = shared();
    testWork().mode = ReportMode::Input;
    testWork().table = ValueTable::Data;
    testWork().institution = sample::ids::NorthHospital;
    TVTable table(TableWindowParams{1, 0, "(1000)", "Ф30"}, testWork());
    table.show();
    QApplication::processEvents();
    table.highlightControlsCommand()->trigger();
    table.grid()->setCurrentCell(1, 0);   // СТР1ГР5
    QStringList listed;
    bool classStays = false, relabelled = false;
    dialogs.modals.push_back([&](QDialog *d) {
        auto *w = qobject_cast<TContrls *>(d);
        if (!w) return int(QDialog::Rejected);
        for (int i = 0; i < w->ruleList()->count(); ++i) listed << QString::number(w->itemKey(i));
        // Saving a rule of the cell keeps its kind before the new comment.
        w->ruleList()->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
        w->showCurrentRule();
        const QString kind = w->ruleList()->item(0)->text().section(u' ', 0, 0);
        w->commentEdit()->setText("другой комментарий");
        w->saveRule();
        relabelled = w->ruleList()->item(0)->text() == kind + " другой комментарий";
        const int count = w->ruleList()->count();
        w->classButtons()->button(InterForm)->setChecked(true);
        w->takeRuleClass();
        w->takeFilter();
        w->takeChosenForm();
        classStays = w->ruleList()->count() == count && w->scope().table == "(1000)";
        return int(QDialog::Rejected);
    });
    table.markOrOpenCell();
    EXPECT_TRUE(classStays);
    EXPECT_TRUE(relabelled);
    EXPECT_TRUE(listed.contains(QString::number(sample::ids::RuleOccupiedPositions))) << listed.join(',').toStdString();
    EXPECT_FALSE(dialogs.sawMessage("Ошибка"));
    setCellControlsOpener({});
}

// The builder marks a cell in the template view of its own context; the
// context of the work under the editor is left as it was.
TEST_F(EditorTest, ExpressionBuilderMarksACellInItsOwnContext) {
    const WorkContext types{ReportMode::Types, ValueTable::Data, false, sample::ids::NorthHospital, "5,9"};
    TContrls w(nullptr, types);
    w.show();
    w.rightEdit()->setFocus();
    QApplication::processEvents();
    w.rightEdit()->setPlainText("1+");
    QTextCursor c = w.rightEdit()->textCursor();
    c.setPosition(2);
    w.rightEdit()->setTextCursor(c);
    ASSERT_EQ(w.rememberedMemo(), w.rightEdit());
    QString built;
    bool hidden = false;
    dialogs.modals.push_back([&](QDialog *d) {
        auto *t = qobject_cast<TVTable *>(d);
        if (!t) return int(QDialog::Rejected);
        EXPECT_EQ(t->params().tableNumber, "(1000)");
        EXPECT_EQ(t->work().institution, 0);
        EXPECT_EQ(t->work().mode, ReportMode::Input);
        EXPECT_TRUE(t->isTemplateView());
        hidden = !t->previousCommand()->isVisible() && !t->nextCommand()->isVisible() &&
                 !t->controlCommand()->isVisible() && !t->clearCommand()->isVisible() && t->groupingMenu()->isVisible();
        t->show();
        QApplication::processEvents();
        t->grid()->setCurrentCell(0, 0);
        t->markOrOpenCell();
        built = t->markedReference();
        return int(QDialog::Accepted);
    });
    w.buildExpression();
    EXPECT_TRUE(hidden);
    ASSERT_FALSE(built.isEmpty()) << "a marked cell gives a reference";
    EXPECT_EQ(w.rightEdit()->toPlainText(), "1+" + built);
}

// A rule of a form is not stored without its form and table.
TEST_F(EditorTest, SaveNeedsTheChosenFormAndTable) {
    TContrls w;
    w.addRule();
    w.leftEdit()->setPlainText("СТР[1]ГР[4]");
    w.rightEdit()->setPlainText("СТР[1]ГР[5]");
    w.relationButtons()->button(0)->setChecked(true);
    const int before = db::scalar(mainDb(), "select count(*) from int_control").toInt();
    w.clearChosenTable();
    w.saveRule();
    EXPECT_EQ(dialogs.messages.value(0), "Не выбрана таблица!");
    w.clearChosenForm();
    setClass(w, InterTable);
    w.saveRule();
    EXPECT_EQ(dialogs.messages.value(1), "Не выбрана форма!");
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), before);
}

TEST_F(EditorTest, LiveDecipherWaitsForThePause) {
    TContrls w;
    w.show();
    QApplication::processEvents();
    w.leftEdit()->setPlainText("СТР[1]ГР[4]");
    EXPECT_TRUE(w.leftTimer()->isActive());
    EXPECT_FALSE(w.decipherView()->isVisible());
    QTest::qWait(100);
    w.leftEdit()->setPlainText("СТР[1]ГР[5]");   // restarts the wait
    QTest::qWait(120);
    EXPECT_FALSE(w.decipherView()->isVisible());
    QTest::qWait(200);
    EXPECT_TRUE(w.decipherView()->isVisible());
    // The cycle's change hides it; a click shows it at once.
    w.cycleEdit()->setPlainText("ГР[4..7]");
    EXPECT_FALSE(w.decipherView()->isVisible());
    w.leftTimer()->stop();
    QTest::mouseClick(w.leftEdit()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(w.decipherView()->isVisible());
}

TEST_F(EditorTest, PrintAndExportTheList) {
    TContrls w;
    w.printList();
    ASSERT_EQ(dialogs.opened.size(), 1);
    EXPECT_TRUE(QFile::exists(dialogs.opened[0]));
    dialogs.files = {fx.root() + "list.orv"};
    w.exportList();
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(fx.root() + "list.orv", lines));
    EXPECT_EQ(lines.size(), 3);
    w.exportAllRules();   // cancelled: nothing written
    EXPECT_EQ(dialogs.messages.size(), 1);
}

TEST(EditorPreviousYear, FlagsAndSearchWindow) {
    SampleFixture fx(true);
    fx.reloadCaches();
    FakeDialogs dialogs;
    {
        db::ScopedConnection prev(fx.configFolder() + QString::number(fx.year() - 1) + "/orvmain.mdb",
                                  db::OpenMode::ReadWrite);
        db::exec(prev.db(), "delete from tables where ident=2");
    }
    TContrls w;
    w.lastYearBox()->setChecked(true);
    w.classButtons()->button(InterTable)->setChecked(true);
    w.takeRuleClass();
    ASSERT_EQ(w.ruleList()->count(), 2);
    EXPECT_EQ(w.previousYearFlags(), (QList<int>{1, 1})) << "both inter-table rules read Т[2000]";

    QString report;
    dialogs.modals.push_back([&](QDialog *d) {
        if (auto *diff = d->findChild<QPlainTextEdit *>("Memo1")) report = diff->toPlainText();
        return int(QDialog::Accepted);
    });
    w.findTablesWithDifferences();
    EXPECT_TRUE(report.endsWith("Всего проверено контролей: 6"));
}

// Line breaks and Tabs typed into a rule are blanks: around the sides and the cycle they go, a comment keeps them as
// blanks, so export and reload bring back the same rules; inside a side they part what they stand between ("СТ", line
// break, "Р[1]" is refused as "СТ Р[1]", never joined), and what was typed stays. A character code page 1251 has not
// is named as one character, an emoji included.
TEST_F(EditorTest, TypedRuleTextsSurviveExportAndReload) {
    TContrls w;
    select(w, 0);
    const qint64 key = w.itemKey(0);
    const RuleRecord before = *ReadRule(mainDb(), key);
    ASSERT_GE(before.texts.lft.size(), 4);
    const QString inside = before.texts.lft.left(2) + "\r\n" + before.texts.lft.mid(2);
    w.leftEdit()->setPlainText(inside);
    w.saveRule();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Левая часть")) << dialogs.messages[0].toStdString();
    EXPECT_EQ(w.leftEdit()->toPlainText(), QString(inside).replace("\r\n", "\n"));
    EXPECT_EQ(ReadRule(mainDb(), key)->texts.lft, before.texts.lft);
    dialogs.messages.clear();
    const auto broken = [](const QString &s) { return "\r\n\t" + s + "\n"; };
    w.leftEdit()->setPlainText(broken(before.texts.lft));
    w.rightEdit()->setPlainText(broken(before.texts.rght));
    if (!before.texts.cycl.isEmpty()) w.cycleEdit()->setPlainText(broken(before.texts.cycl));
    w.commentEdit()->setText("Врачи: #1\t\"штаты\"\nвсего");
    w.saveRule();
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join("\n").toStdString();
    const RuleRecord saved = *ReadRule(mainDb(), key);
    EXPECT_EQ(saved.texts.lft, before.texts.lft);
    EXPECT_EQ(saved.texts.rght, before.texts.rght);
    EXPECT_EQ(saved.texts.cycl, before.texts.cycl);
    EXPECT_EQ(saved.texts.commnt, "Врачи: #1 \"штаты\" всего");

    w.commentEdit()->setText("Врачи 😀");
    w.saveRule();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].endsWith("\"😀\" (U+1F600)")) << dialogs.messages[0].toStdString();
    EXPECT_EQ(ReadRule(mainDb(), key)->texts.commnt, saved.texts.commnt);

    const int count = db::scalar(mainDb(), "select count(*) from int_control").toInt();
    const QString file = QDir::tempPath() + "/typed_rules.orv";
    WriteControlFile(file, ctlfile::ControlFileLinesAll(mainDb()));
    EXPECT_EQ(LoadControlFile(mainDb(), file, LoadMode::Replace).inserted, count);
    QFile::remove(file);
    QSqlQuery q = db::exec(mainDb(), "select count(*) from int_control where commnt=?", {saved.texts.commnt});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);

}

// "Подгрузка" of a file loaded before stores nothing twice and says how many rules it loaded and how many were there.
TEST_F(EditorTest, LoadingAFileAgainSaysTheRulesWereThere) {
    const int count = db::scalar(mainDb(), "select count(*) from int_control").toInt();
    QDir().mkpath(fx.root() + "again");
    QStringList lines = ctlfile::ControlFileLinesAll(mainDb());
    lines << "\"Ф30\",\"(1000)\",\"СТР[1]\",\">=\",\"СТР[2]\",\"ГР[4]\",\"новый «Ёж»\"";
    WriteControlFile(fx.root() + "again/all.orv", lines);
    TCld loader;
    loader.setFolder(fx.root() + "again");
    ASSERT_EQ(loader.modeButtons()->checkedId(), 0);
    loader.loadChosenFile();
    loader.loadChosenFile();
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from int_control").toInt(), count + 1);
    EXPECT_EQ(dialogs.messages,
              (QStringList{QStringLiteral("Загрузка контролей закончена!\r\nЗагружено контролей: 1.\r\n"
                                          "Уже были в базе (совпадают во всех полях) и не загружены повторно: %1.")
                               .arg(count),
                           QStringLiteral("Загрузка контролей закончена!\r\nЗагружено контролей: 0.\r\n"
                                          "Уже были в базе (совпадают во всех полях) и не загружены повторно: %1.")
                               .arg(count + 1)}));
}

// The builder opens the table the editor names, whatever the length of its
// number or of the form's name.
TEST_F(EditorTest, ExpressionBuilderOpensTablesOfLongNumbers) {
    for (const QString number : {QStringLiteral("(1000-дополнение)"), QStringLiteral("(1000-дополнение к отчету за год)")}) {
        db::exec(mainDb(), "update tables set tablen=? where ident=?", {number, sample::ids::TableF30Visits});
        TContrls w;
        w.show();
        w.rightEdit()->setFocus();
        QApplication::processEvents();
        w.formBox()->setCurrentIndex(0);
        w.takeChosenForm();
        const int at = w.tableBox()->findText(number + " - ", Qt::MatchStartsWith);
        ASSERT_GE(at, 0);
        w.tableBox()->setCurrentIndex(at);
        w.takeChosenTable();
        EXPECT_EQ(w.scope().table, number);
        QString opened;
        dialogs.modals.push_back([&](QDialog *d) {
            auto *t = qobject_cast<TVTable *>(d);
            if (!t) return int(QDialog::Rejected);
            t->show();
            QApplication::processEvents();
            opened = t->params().tableNumber;
            return int(QDialog::Rejected);
        });
        dialogs.messages.clear();
        w.buildExpression();
        EXPECT_EQ(opened, number);
        EXPECT_FALSE(dialogs.sawMessage("Таблица не определена!")) << number.toStdString();
    }
}

// Between tables and between forms the builder names the table (and the form): a reference it inserts passes
// the rule check; a table stored under a number the rules cannot read (made before such numbers were refused) is
// not inserted, and the message says why.
TEST_F(EditorTest, ExpressionBuilderInsertsOnlyReferencesTheCheckReads) {
    for (const int cls : {int(InterTable), int(InterForm)}) {
        for (const QString number : {QStringLiteral("(2000-дополнение)"), QStringLiteral("(2000)")}) {
            db::exec(mainDb(), "update tables set tablen=? where ident=?", {number, sample::ids::TableF30Visits});
            TContrls w;
            w.show();
            setClass(w, cls);
            w.formBox()->setCurrentIndex(0);
            w.takeChosenForm();
            w.tableBox()->setCurrentIndex(w.tableBox()->findText(number + " - ", Qt::MatchStartsWith));
            w.takeChosenTable();
            ASSERT_EQ(w.scope().table, number);
            w.addRule();
            w.leftEdit()->setFocus();
            QApplication::processEvents();
            ASSERT_EQ(w.rememberedMemo(), w.leftEdit());
            bool opened = false;
            dialogs.modals.clear();
            dialogs.modals.push_back([&](QDialog *d) {
                auto *t = qobject_cast<TVTable *>(d);
                if (!t) return int(QDialog::Rejected);
                opened = true;
                t->show();
                QApplication::processEvents();
                t->grid()->setCurrentCell(0, 0);
                t->markOrOpenCell();
                return int(QDialog::Accepted);
            });
            dialogs.messages.clear();
            w.buildExpression();
            const QString built = w.leftEdit()->toPlainText();
            if (number.contains('-')) {
                EXPECT_FALSE(opened);
                EXPECT_TRUE(built.isEmpty()) << built.toStdString();
                EXPECT_TRUE(dialogs.sawMessage("нельзя вставить в контроль")) << dialogs.messages.join('|').toStdString();
                EXPECT_TRUE(dialogs.sawMessage("\"-\"")) << dialogs.messages.join('|').toStdString();
            } else {
                ASSERT_TRUE(opened);
                ASSERT_FALSE(built.isEmpty());
                const rulecheck::Verdict v = rulecheck::CheckRule(
                    mainDb(), {cls == InterForm ? QString() : QStringLiteral("Ф30"), QString(), built, ">=", "0", ""});
                EXPECT_TRUE(v) << built.toStdString() << " " << v.reason.toStdString();
            }
        }
    }
}

// The rule's fields are reached with Tab in reading order: left side, relation, right side, cycle, comment.
TEST_F(EditorTest, RuleFieldsInReadingOrder) {
    TContrls w;
    QList<QWidget *> fields{w.leftEdit(), w.rightEdit(), w.cycleEdit(), w.commentEdit()};
    for (QAbstractButton *b : w.relationButtons()->buttons()) fields << b;
    QList<QWidget *> seen;
    for (QWidget *n = w.leftEdit(); seen.size() < fields.size(); n = n->nextInFocusChain()) {
        if (fields.contains(n) && !seen.contains(n)) seen << n;
        if (n->nextInFocusChain() == w.leftEdit()) break;
    }
    ASSERT_EQ(seen.size(), fields.size());
    EXPECT_EQ(seen[0], w.leftEdit());
    EXPECT_TRUE(qobject_cast<QAbstractButton *>(seen[1]));   // the relations come next
    EXPECT_EQ(seen.indexOf(w.rightEdit()), 1 + int(w.relationButtons()->buttons().size()));
    EXPECT_EQ(seen.mid(seen.size() - 3), (QList<QWidget *>{w.rightEdit(), w.cycleEdit(), w.commentEdit()}));
}
