// Every save of every editor, run as its window runs it, once after the row it shows was deleted behind it and once
// after another window or copy of the program changed it: the save stores (the rows prove it) or says why not through
// the dialog seam; it never uploads, nor shows as saved, what it did not store. And the scan that keeps every write of
// a row named by its key behind the count of the rows it changed.
#include "app/SubReports.h"
#include "controls/ContrForm.h"
#include "controls/ControlUpload.h"
#include "forms/output/ShortNames.h"
#include "forms/structure/StructureEdit.h"
#include "forms/table/CalcRuleEditor.h"
#include "forms/table/StructureEditDialog.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableWindow.h"
#include "forms/territory/AdmForm.h"
#include "forms/territory/MedTypes.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "reports/IndicatorData.h"
#include "reports/IndicatorWindows.h"
#include "reports/Population.h"
#include "reports/ReportList.h"
#include "support/SourceScan.h"
#include "support/TableWindowSetup.h"
#include "support/WindowTestBase.h"
#include "widgets/SumRepF.h"

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMutex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }
int count(const QString &sql, const QVariantList &params = {}) { return db::scalar(mainDb(), sql, params).toInt(); }

enum class Outcome { Stores, Says };

// One editor's save. The window is opened and the edit typed by save, which calls behind() just before the user's
// "Сохранить" (or OK): there another window or copy of the program deletes or changes what the editor shows.
struct SaveCase {
    const char *editor;
    Outcome afterDeletion, afterChange;
    std::function<void()> deleteRow, changeRow;
    std::function<int()> proof;                                 // rows holding what the editor saves
    std::function<void(const std::function<void()> &behind)> save;
    std::function<int()> footprint = [] { return 0; };          // rows a refused save must not add to
};

// Answers the next modal window: fills it, lets the row go or change behind it, then presses OK (its own checks run).
template <class Dialog>
std::function<int(QDialog *)> answer(const std::function<void(Dialog *)> &fill, const std::function<void()> &behind,
                                     const std::function<void(Dialog *)> &ok = [](Dialog *d) { d->accept(); }) {
    return [=](QDialog *d) {
        auto *dialog = qobject_cast<Dialog *>(d);
        if (!dialog) return int(QDialog::Rejected);
        fill(dialog);
        behind();
        ok(dialog);
        return dialog->result();
    };
}

int titleIndex(const TVTable &w, int column, int row) {
    const auto &titles = w.grid()->titles();
    for (int i = 0; i < titles.size(); ++i)
        if (titles[i].column == column && titles[i].row == row) return i;
    return -1;
}

int shortNameLines(const QString &shortName) {
    QStringList lines;
    if (!QFile::exists(shortnames::filePath()) || !cp1251::readLines(shortnames::filePath(), lines)) return 0;
    return int(lines.filter(u'\t' + shortName).size());
}

QList<SaveCase> saveCases(FakeDialogs &dialogs) {
    const QString typed = QStringLiteral("Сохранено окном «Ёж» #1, 0,1");
    QList<SaveCase> cases;

    // Rule editor: a listed rule rewritten; once gone it is stored only as a new rule when the user says so (No here).
    auto ruleKey = std::make_shared<qint64>(0);
    cases.append({"правило контроля", Outcome::Says, Outcome::Stores,
                  [=] { db::exec(mainDb(), "delete from int_control where \"Код\"=?", {*ruleKey}); },
                  [=] { db::exec(mainDb(), "update int_control set commnt='чужой', rght='0' where \"Код\"=?", {*ruleKey}); },
                  [] { return count("select count(*) from int_control where commnt='Контроль окна'"); },
                  [=](const std::function<void()> &behind) {
                      TContrls w;
                      w.ruleList()->setCurrentRow(1, QItemSelectionModel::ClearAndSelect);
                      w.showCurrentRule();
                      *ruleKey = w.itemKey(1);
                      w.commentEdit()->setText("Контроль окна");
                      behind();
                      w.saveRule();
                  },
                  [] { return count("select count(*) from int_control"); }});

    // Calculation-rule editor: the rule of a cell is the cell's, whoever wrote or deleted it meanwhile.
    const auto netPlace = "select count(*) from conditions where tid=? and \"row\"=1 and \"column\"=1";
    cases.append({"правило расчета", Outcome::Stores, Outcome::Stores,
                  [=] { db::exec(mainDb(), QString(netPlace).replace("select count(*)", "delete"), {ids::TableF47Network}); },
                  [] { db::exec(mainDb(), "update conditions set formula='Ф14Т(1000)СТР1ГР4' where tid=? and \"row\"=1 "
                                          "and \"column\"=1", {ids::TableF47Network}); },
                  [=] {
                      // One rule per place, holding what was typed.
                      return count(netPlace, {ids::TableF47Network}) > 1
                                 ? -1
                                 : count(QString(netPlace) + " and formula='Ф30Т(2000)СТР1ГР5'", {ids::TableF47Network});
                  },
                  [&dialogs](const std::function<void()> &behind) {
                      installCalcRuleTableExtension();
                      const TableWindowParams p = aimTableWindow(ids::ReportNetwork, ids::FormF47, "Ф47", "(1000)");
                      testWork().mode = ReportMode::Net;
                      testWork().net = true;
                      testWork().table = ValueTable::RepData;
                      auto w = showTableWindow(p);
                      w->grid()->setCurrentCell(1, 1);
                      dialogs.modals.push_back(answer<TNTChar>(
                          [](TNTChar *d) { d->formulaEdit()->setText("Ф30Т(2000)СТР1ГР5"); }, behind,
                          [](TNTChar *d) { d->okButton()->click(); }));
                      w->commandAction(TVTable::Command::RuleCell)->trigger();
                      testWork().net = false;
                  }});

    // Title editor: a title gone, or a row inserted above it (its numbers now name another title), is not written.
    const auto staffWindow = [] {
        return showTableWindow(aimTableWindow(ids::NorthHospital, ids::FormF30, "Ф30", "(1000)"));
    };
    cases.append({"заголовок таблицы", Outcome::Says, Outcome::Says,
                  [] { db::exec(mainDb(), "delete from titles where \"table\"=1 and \"column\"=1 and \"row\"=4"); },
                  [] { structedit::insertDataRow(mainDb(), ids::TableF30Staff, 0, structedit::Place::Before, 18, {}); },
                  [=] { return count("select count(*) from titles where \"table\"=1 and txt=?", {typed}); },
                  [=, &dialogs](const std::function<void()> &behind) {
                      auto w = staffWindow();
                      dialogs.modals.push_back(answer<TTitles>([=](TTitles *t) { t->textEdit()->setPlainText(typed); },
                                                               behind, [](TTitles *t) { t->okButton()->click(); }));
                      emit w->grid()->titleDoubleClicked(titleIndex(*w, 1, 4));
                  },
                  [] { return count("select count(*) from titles"); }});

    // Structure editor: a row inserted after the current one; refused once the rows moved behind the window, stored
    // when only a title's text changed.
    cases.append({"строки таблицы", Outcome::Says, Outcome::Stores,
                  [] { structedit::deleteDataRow(mainDb(), ids::TableF30Staff, 4, {}); },
                  [] { db::exec(mainDb(), "update titles set txt='чужой' where \"table\"=1 and \"column\"=1 and \"row\"=4"); },
                  [] { return count("select rowcount from tables where ident=1"); },
                  [=](const std::function<void()> &behind) {
                      auto w = staffWindow();
                      w->grid()->setCurrentCell(0, 0);
                      behind();
                      w->insertRowAfter();
                  },
                  [] { return count("select count(*) from titles"); }});

    // Indicator editor: a formula of a set deleted behind the window goes nowhere.
    cases.append({"показатель", Outcome::Says, Outcome::Stores,
                  [] { indicators::DeleteSetTree(ids::SetStaffing); },
                  [] { db::exec(mainDb(), "update formulas set formula='Ф30Т[1000]СТР2ГР4' where term=? and \"row\"=1 "
                                          "and \"column\"=1", {ids::SetStaffing}); },
                  [] { return count("select count(*) from formulas where term=? and formula='Ф30Т[1000]СТР1ГР5'",
                                    {ids::SetStaffing}); },
                  [](const std::function<void()> &behind) {
                      TMIForms w(ids::SetStaffing);
                      w.show();
                      w.grid()->setCurrentCell(1, 1);
                      w.formulaEdit()->setPlainText("Ф30Т[1000]СТР1ГР5");
                      behind();
                      w.applyFormula();
                  },
                  [] { return count("select count(*) from formulas") + count("select count(*) from row_titles"); }});

    // Short names: the list is one file, written whole whatever became of it.
    cases.append({"короткие названия", Outcome::Stores, Outcome::Stores,
                  [] { QFile::remove(shortnames::filePath()); },
                  [] { cp1251::writeLines(shortnames::filePath(), {"Чужая больница\tЧужая"}); },
                  [] { return shortNameLines("Сев. ЦРБ"); },
                  [](const std::function<void()> &behind) {
                      TForm5 w;
                      ASSERT_GT(w.grid()->rowCount(), 0);
                      w.grid()->item(0, 1)->setText("Сев. ЦРБ");
                      behind();
                      w.saveList();
                  }});

    // Units: a unit deleted behind the window takes neither its new name nor a population.
    cases.append({"подразделение", Outcome::Says, Outcome::Stores,
                  [] { db::exec(mainDb(), "delete from administration where id=?", {ids::NorthHospital}); },
                  [] { db::exec(mainDb(), "update administration set unit='Чужое имя' where id=?", {ids::NorthHospital}); },
                  [=] { return count("select count(*) from administration where unit=?", {typed}); },
                  [=, &dialogs](const std::function<void()> &behind) {
                      TAdmForm w(TAdmForm::Mode::Structure, testWork());
                      w.show();
                      w.tree()->setCurrentItem(treeNodeWithId(w.tree(), ids::NorthHospital));
                      dialogs.modals.push_back(answer<TUntChar>(
                          [=](TUntChar *u) {
                              u->nameEdit()->setText(typed);
                              for (QLineEdit *e : u->populationEdits()) {
                                  e->setText("100");
                                  e->setModified(true);
                              }
                          },
                          behind));
                      w.editUnit();
                  },
                  [] { return count("select count(*) from populations1") + count("select count(*) from administration"); }});

    // Types: the forms of a type deleted behind the window are not assigned to nothing.
    cases.append({"формы типа учреждения", Outcome::Says, Outcome::Stores,
                  [] { db::exec(mainDb(), "delete from medicaltypes where id=?", {ids::TypeFap}); },
                  [] { db::exec(mainDb(), "delete from med_type_forms where medicalsId=?", {ids::TypeFap}); },
                  [] { return count("select count(*) from med_type_forms where medicalsId=?", {ids::TypeFap}); },
                  [](const std::function<void()> &behind) {
                      TMTFs w;
                      w.show();
                      w.typeTree()->setCurrentItem(treeNodeWithId(w.typeTree(), ids::TypeFap));
                      w.showTypeForms();
                      for (int i = 0; i < w.formList()->count(); ++i) w.formList()->item(i)->setCheckState(Qt::Checked);
                      behind();
                      w.saveTypeForms();
                  },
                  [] { return count("select count(*) from med_type_forms"); }});

    // Levels: a new level is stored whatever became of the others.
    cases.append({"уровень отчета", Outcome::Stores, Outcome::Stores,
                  [] { db::exec(mainDb(), "delete from subreps where id=?", {ids::LevelQuarter}); },
                  [=] { db::exec(mainDb(), "insert into subreps (name) values (?)", {typed}); },
                  [=] { return count("select count(*) from subreps where name=?", {typed}); },
                  [=, &dialogs](const std::function<void()> &behind) {
                      SubReports levels;
                      levels.reload();
                      dialogs.modals.push_back(answer<TSumRepF>([=](TSumRepF *f) { f->setName(typed); }, behind));
                      levels.createLevel(nullptr);
                  }});

    // Reports: a renamed report deleted behind the list, and the population of one.
    const auto svod = [] {
        testWork().mode = ReportMode::Svod;
        testWork().table = ValueTable::RepData;
    };
    cases.append({"наименование отчета", Outcome::Says, Outcome::Stores,
                  [] { db::exec(mainDb(), "delete from reports where id=?", {ids::ReportNorth}); },
                  [] { db::exec(mainDb(), "update reports set report='Чужой' where id=?", {ids::ReportNorth}); },
                  [=] { return count("select count(*) from reports where report=?", {typed}); },
                  [=, &dialogs](const std::function<void()> &behind) {
                      svod();
                      TRepList w(testWork());
                      w.list()->setCurrentItem(w.list()->topLevelItem(1));
                      const QString shown = w.list()->topLevelItem(1)->text(0);
                      dialogs.modals.push_back(answer<TSumRepF>([=](TSumRepF *f) { f->setName(typed); }, behind));
                      w.renameReport();
                      // The list shows the name stored, or keeps the one it had.
                      const QString now = w.list()->topLevelItem(1)->text(0);
                      EXPECT_TRUE(now == typed || now == shown) << now.toStdString();
                  }});
    cases.append({"население отчета", Outcome::Says, Outcome::Stores,
                  [] { db::exec(mainDb(), "delete from reports where id=?", {ids::ReportNorth}); },
                  [] { db::exec(mainDb(), "update populations set common=1 where unit=?", {ids::ReportNorth}); },
                  [] { return count("select count(*) from populations where unit=? and common=4321", {ids::ReportNorth}); },
                  [=](const std::function<void()> &behind) {
                      svod();
                      TPopform w(ids::ReportNorth, "Свод по Северному району");
                      for (QLineEdit *e : {w.totalEdit(), w.adultsEdit(), w.teenagersEdit(), w.childrenEdit()})
                          e->setText("4321");
                      behind();
                      w.storeCounts();
                  },
                  [] { return count("select count(*) from populations"); }});
    return cases;
}

// A message that tells the user something was stored.
bool saysStored(const QString &m) {
    static const QRegularExpression done(QStringLiteral("(^|[^е] )(сохранен|загружен|записан)|закончен"),
                                         QRegularExpression::CaseInsensitiveOption);
    return done.match(m).hasMatch();
}

struct Uploads {
    QMutex mutex;
    QStringList bodies;
};

} // namespace

TEST(SaveContract, EverySaveStoresOrSays) {
    int cases = 0;
    {
        FakeDialogs probe;
        cases = int(saveCases(probe).size());
    }
    for (int i = 0; i < cases; ++i)
        for (const bool deleted : {true, false}) {
            SampleFixture fx;
            fx.reloadCaches();
            FakeDialogs dialogs;
            testWork() = WorkContext{};
            Uploads uploads;
            controls::SetControlPoster([&](const QString &, const QString &body) {
                QMutexLocker l(&uploads.mutex);
                uploads.bodies << body;
            });
            const SaveCase c = saveCases(dialogs)[i];
            SCOPED_TRACE(std::string(c.editor) + (deleted ? ", удалено за окном" : ", изменено за окном"));
            int before = -1, footprint = 0;
            qsizetype said = 0;
            c.save([&] {
                (deleted ? c.deleteRow : c.changeRow)();
                before = c.proof();
                footprint = c.footprint();
                said = dialogs.messages.size() + dialogs.questions.size();
            });
            controls::WaitForUploads();
            controls::SetControlPoster({});
            ASSERT_GE(before, 0) << "the window reached its save";
            const bool stored = c.proof() > before;
            const QStringList told = (dialogs.messages + dialogs.questions).mid(int(said));
            EXPECT_EQ(stored, (deleted ? c.afterDeletion : c.afterChange) == Outcome::Stores) << told.join('|').toStdString();
            if (stored) continue;
            EXPECT_FALSE(told.isEmpty()) << "nothing stored, nothing said";
            EXPECT_EQ(c.footprint(), footprint) << "a refused save adds no row anywhere";
            EXPECT_TRUE(uploads.bodies.isEmpty()) << uploads.bodies.join('|').toStdString();
            for (const QString &m : told) EXPECT_FALSE(saysStored(m)) << m.toStdString();
        }
    testWork() = WorkContext{};
}

// ---- The scan --------------------------------------------------------------------------------------------------

namespace {

// Statements that update rows named by equalities alone (a row a window shows, by its key) and look at no count of
// the rows changed: neither run by db::execRow or db::updateOrInsert nor followed by numRowsAffected. Updates of a
// range ("<", ">"), a list ("in", "like") or a whole table name no row of their own.
QStringList rowWritesPastTheCount(const QString &file, const QString &text, const QStringList &allowed) {
    static const QRegularExpression start(QStringLiteral("\"\\s*update\\s"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression literal(QStringLiteral(R"re("((?:[^"\\\n]|\\.)*)")re"));
    static const QRegularExpression ranged(QStringLiteral(R"([<>]|\bin\s*\(|\blike\b)"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression where(QStringLiteral(R"(\bwhere\b)"), QRegularExpression::CaseInsensitiveOption);
    QStringList out;
    for (auto m = start.globalMatch(text); m.hasNext();) {
        const qsizetype at = m.next().capturedStart();
        const qsizetype end = text.indexOf(u';', at);
        if (end < 0) continue;
        QString statement;
        for (auto l = literal.globalMatch(text.mid(at, end - at)); l.hasNext();) statement += l.next().captured(1);
        statement = statement.simplified();
        if (!where.match(statement).hasMatch() || ranged.match(statement).hasMatch()) continue;
        qsizetype from = at;
        while (from > 0 && !QStringLiteral(";{}").contains(text[from - 1])) --from;
        const QString call = text.mid(from, at - from);
        if (call.contains(QStringLiteral("execRow(")) || call.contains(QStringLiteral("updateOrInsert("))) continue;
        // A query kept in a variable whose count is read soon after (a prepared one, in the loop that runs it).
        static const QRegularExpression kept(QStringLiteral(R"((\w+)\s*=\s*db::exec\(|(\w+)\.prepare\()"));
        if (const QRegularExpressionMatch k = kept.match(call); k.hasMatch()) {
            const QString var = k.captured(1).isEmpty() ? k.captured(2) : k.captured(1);
            if (text.mid(end, 600).contains(var + QStringLiteral(".numRowsAffected()"))) continue;
        }
        const QString key = file + QStringLiteral(": ") + statement;
        if (!allowed.contains(key)) out << key;
    }
    return out;
}

// Updates of several rows by equality, where a row that is not there is no loss.
const QStringList kAllowedRowWrites = {
    // A grid line without a title record keeps no size until its title is stored; every line of a set at once.
    R"(reports/IndicatorData.cpp: update col_titles set width=? where term=? and \"column\"=?)",
    R"(reports/IndicatorData.cpp: update row_titles set height=? where term=? and \"row\"=?)",
    "reports/IndicatorData.cpp: update col_titles set width=64 where term=?",
    "reports/IndicatorData.cpp: update row_titles set height=20 where term=?",
    // Marks an installed update rolled back; one not installed stays as it is.
    "updates/UpdateManager.cpp: UPDATE updates SET status='rolled_back' WHERE update_id=? AND year=? AND "
    "status='installed'",
};

} // namespace

TEST(SaveContract, NoRowIsWrittenPastTheCountOfRowsChanged) {
    QStringList offenders;
    for (const auto &[file, text] : productSources({QStringLiteral("*.cpp")}).asKeyValueRange())
        offenders += rowWritesPastTheCount(file, text, kAllowedRowWrites);
    EXPECT_TRUE(offenders.isEmpty()) << offenders.join('\n').toStdString();

    // The scan lists a write that goes around the count, in every spelling, and passes the gated ones.
    const QString wrongWay = QStringLiteral(R"src(
void save(qint64 id, const QString &name) {
    db::exec(mainDb(), QStringLiteral("update reports set report=? where id=?"), {name, id});
    run(QStringLiteral("UPDATE tree "
                       "SET part=? WHERE ident=?"), {name, id});
    db::execRow(d, QStringLiteral("update forms set ind=? where id=?"), {1, id}, gone);
    QSqlQuery q = db::exec(d, QStringLiteral("update medicaltypes set type=? where id=?"), {name, id});
    if (q.numRowsAffected() <= 0) throw db::Error(gone);
    db::exec(d, QStringLiteral("update titles set \"row\"=\"row\"+1 where \"table\"=? and \"row\">=?"), {id, 3});
    db::updateOrInsert(d, QStringLiteral("update conditions set formula=? where tid=?"), {name, id}, insert, {});
})src");
    EXPECT_EQ(rowWritesPastTheCount("reports/Bad.cpp", wrongWay, {}),
              (QStringList{"reports/Bad.cpp: update reports set report=? where id=?",
                           "reports/Bad.cpp: UPDATE tree SET part=? WHERE ident=?"}));
}
