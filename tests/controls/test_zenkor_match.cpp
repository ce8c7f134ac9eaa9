#include "controls/ControlMatch.h"
#include "controls/ControlMatchLogic.h"
#include "controls/ZenkorImporter.h"
#include "core/ListWindow.h"
#include "engine/LinksDb.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "platform/QuotedFields.h"
#include "platform/office/Show.h"
#include "support/CancellingProgress.h"
#include "support/FakeDialogs.h"
#include "support/ForeignEncodings.h"
#include "support/Fixture.h"
#include "support/WindowTestBase.h"
#include "support/ZenkorLinks.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QFile>
#include "core/ProgressWindow.h"
#include <gtest/gtest.h>

namespace {

void addImported(qint64 formId, const QVariant &table, int type, const QString &lft, const QString &rel,
                 const QString &rght, const QVariant &cycl, const QString &commnt = QString()) {
    db::exec(db::kMain,
             QStringLiteral("insert into zenkor_controls (project_formid, project_tble, lft, rght, reltion, cycl, "
                            "commnt, control_type) values (?, ?, ?, ?, ?, ?, ?, ?)"),
             {formId, table, lft, rght, rel, cycl, commnt, type});
}

// The sample's table Ф30 (1000) holds rules 1-3; imported: a duplicate of 1 written differently, a duplicate of 2 with
// its sides swapped, rule 3 with another sign and one rule the program lacks.
void addImportedOfF30() {
    const int f30 = sample::ids::FormF30;
    const QString t = QStringLiteral("(1000)");
    addImported(f30, t, 0, QStringLiteral("стр1"), QStringLiteral(">="), QStringLiteral("СТР2 + СТР3"),
                QStringLiteral("ГР[4..7]"));
    addImported(f30, t, 0, QStringLiteral("СТР[1]ГР[4]"), QStringLiteral(">="), QStringLiteral("СТР[1]ГР[5]"),
                QVariant());
    addImported(f30, t, 0, QStringLiteral("ГР[7]"), QStringLiteral("<"), QStringLiteral("ГР[6]"),
                QStringLiteral("СТР[1..5]"));
    addImported(f30, t, 0, QStringLiteral("СТР[4]"), QStringLiteral("="), QStringLiteral("СТР[5]"), QString());
}

// The fields of one control-file line, as the loader reads them.
QStringList readFields(const QString &line) {
    QStringList out;
    EXPECT_TRUE(quoted::split(line, out)) << line.toStdString();
    return out;
}

using ControlMatchWindow = SampleTest;

} // namespace

TEST(ControlMatchLines, RelationsMirrorAndLinesSortByMarkThenLeftSide) {
    using namespace cmatch;
    EXPECT_EQ(MirrorRelation(QStringLiteral("<")), QStringLiteral(">"));
    EXPECT_EQ(MirrorRelation(QStringLiteral(">=")), QStringLiteral("<="));
    EXPECT_EQ(MirrorRelation(QStringLiteral("<>")), QStringLiteral("<>"));
    EXPECT_EQ(MirrorRelation(QStringLiteral("=")), QStringLiteral("="));

    EXPECT_EQ(MatchSortKey(QStringLiteral("[ДУБЛИРУЕТСЯ] СТР[1] >= СТР[2]")), QStringLiteral("СТР[1]"));
    EXPECT_EQ(MatchSortKey(QStringLiteral("[ОТЛИЧАЕТСЯ] ГР[7] <= ГР[6] (x)")), QStringLiteral("ГР[7]"));
    EXPECT_EQ(MatchSortKey(QStringLiteral("одно")), QStringLiteral("одно"));

    const QStringList lines = {QStringLiteral("[ОТЛИЧАЕТСЯ] б = 1 (Б=1)"), QStringLiteral("[ДУБЛИРУЕТСЯ] я = 1"),
                               QStringLiteral("[РАЗНЫЙ ЗНАК] в > 1 (В>1)"), QStringLiteral("[ОТЛИЧАЕТСЯ] А = 1 (А=1)"),
                               QStringLiteral("[ДУБЛИРУЕТСЯ] а = 2"), QStringLiteral("[ОТЛИЧАЕТСЯ] Ёж = 1 (ёж=1)"),
                               QStringLiteral("[ОТЛИЧАЕТСЯ] ель = 1 (Ель=1)"), QStringLiteral("[ОТЛИЧАЕТСЯ] жук = 1 (Жук=1)")};
    // Ё sorts with Е: "Ёж" before "ель" (Ж before Л), both before Ж.
    EXPECT_EQ(filterAndSort(lines, false),
              (QStringList{lines[4], lines[1], lines[2], lines[3], lines[0], lines[5], lines[6], lines[7]}));
    EXPECT_EQ(filterAndSort(lines, true), (QStringList{lines[2], lines[3], lines[0], lines[5], lines[6], lines[7]}));
}

TEST(ControlMatchLines, OnlyRulesOfOneFormAndTableCompareAndCountsStayPositive) {
    using namespace cmatch;
    // Two project rules equal to one imported rule; an Ф30 rule and an Ф14 rule of the same text are no duplicates.
    const QList<MatchRecord> project = {{"СТР1", "СТР2", {}, "=", "1|(1000)"},
                                        {"СТР2", "СТР1", {}, "=", "1|(1000)"},
                                        {"СТР3", "СТР4", {}, "=", "1|(1000)"}};
    const QList<MatchRecord> external = {{"СТР1", "СТР2", {}, "=", "1|(1000)"},
                                         {"СТР3", "СТР4", {}, "=", "2|(1000)"}};
    QStringList p = {"p1", "p2", "p3"}, e = {"e1", "e2"};
    int duplicates = 0, externalDuplicates = 0;
    markLines(project, external, p, e, duplicates, &externalDuplicates);
    EXPECT_EQ(duplicates, 2);
    EXPECT_EQ(externalDuplicates, 1);
    EXPECT_TRUE(p[2].startsWith(kDifferent));
    EXPECT_TRUE(e[1].startsWith(kDifferent));
}

// The table filters keep a rule a side of which names the chosen table, in either spelling of its key, as the rule
// notation reads the side; a form's name stands for itself, "_" and "%" too.
TEST(ControlMatchLines, TableFiltersMatchBothSpellingsOfTheKey) {
    using namespace cmatch;
    const Selection tables = selectionFor(1, 2, 7, "(1000ё)", "");
    EXPECT_TRUE(SelectionKeeps(tables, "Т(1000ё)СТР1", "1"));
    EXPECT_TRUE(SelectionKeeps(tables, "2", "т[ 1000Ё ]стр1+Т[2]СТР1"));
    EXPECT_FALSE(SelectionKeeps(tables, "Т(1000)СТР1", "Т(10000ё)СТР1"));
    EXPECT_TRUE(SelectionKeeps(selectionFor(1, 2, 7, "1000", ""), "Т[1000]СТР1", "0"));

    const Selection form = selectionFor(2, 1, 7, "", "Ф1_0%");
    EXPECT_TRUE(SelectionKeeps(form, "ф1_0% Т(5)СТР1", "Ф2Т(1)СТР1"));
    EXPECT_FALSE(SelectionKeeps(form, "Ф1х0%Т(5)СТР1", "Ф21_0%Т(1)СТР1+Ф1_0%СТР1"));
    const Selection formTable = selectionFor(2, 2, 7, "(5)", "Ф1_0%");
    EXPECT_TRUE(SelectionKeeps(formTable, "Ф2Т(1)СТР1", "Ф1_0%Т[5]СТР1"));
    EXPECT_FALSE(SelectionKeeps(formTable, "Ф1_0%Т(6)СТР1", "Ф2Т(5)СТР1"));
    // The rules of one table are chosen by their stored table alone.
    EXPECT_TRUE(SelectionKeeps(selectionFor(0, 2, 7, "(5)", "Ф1_0%"), "СТР1", "СТР2"));
}

TEST_F(ControlMatchWindow, ComparesTheSampleRulesWithImportedOnes) {
    addImportedOfF30();
    TControlMatchForm w;
    EXPECT_EQ(w.tableBox()->currentText().left(6), QStringLiteral("(1000)"));

    w.compareRules();
    EXPECT_EQ(w.summaryText(),
              QStringLiteral("Результаты сопоставления контролей:\nКонтроли проекта: 3 | Контроли минздрава: 4 | "
                             "Совпадающие: 2 | Новые в проекте: 1 | Новые в выгрузке минздрава: 2"));
    ASSERT_EQ(w.projectList()->count(), 3);
    EXPECT_EQ(w.projectList()->item(0)->text(), QStringLiteral("[ДУБЛИРУЕТСЯ] СТР[1] >= СТР[2]+СТР[3] [ГР[4..7]]"));
    EXPECT_EQ(w.projectList()->item(1)->text(), QStringLiteral("[ДУБЛИРУЕТСЯ] СТР[1]ГР[5] <= СТР[1]ГР[4]"));
    EXPECT_EQ(w.projectList()->item(2)->text(),
              QStringLiteral("[РАЗНЫЙ ЗНАК] ГР[7] <= ГР[6] [СТР[1..5]] "
                             "(Ф30Т(1000)СТР[1..5]ГР[7] <= Ф30Т(1000)СТР[1..5]ГР[6])"));
    ASSERT_EQ(w.externalList()->count(), 4);
    EXPECT_TRUE(w.externalList()->item(3)->text().startsWith(QStringLiteral("[ОТЛИЧАЕТСЯ] СТР[4] = СТР[5] (")));

    w.onlyDifferingBox()->setChecked(true);
    EXPECT_EQ(w.projectList()->count(), 1);
    EXPECT_EQ(w.externalList()->count(), 2);

    // "Отмена" halfway stops the run and writes nothing into the window.
    w.projectList()->clear();
    CancellingProgress cancelling(5);
    EXPECT_THROW(w.CompareControlSets(cancelling), Cancelled);
    EXPECT_EQ(cancelling.max, 14);
    EXPECT_EQ(w.projectList()->count(), 0);   // not filled again
    EXPECT_EQ(w.externalList()->count(), 2);
    EXPECT_TRUE(w.summaryText().contains(QStringLiteral("Контроли минздрава: 4")));

    // Inter-form rules of everything: the sample's rule 6 has no imported twin.
    w.setRuleClass(2);
    w.setFilter(0);
    w.onlyDifferingBox()->setChecked(false);
    w.compareRules();
    ASSERT_EQ(w.projectList()->count(), 1);
    EXPECT_TRUE(w.projectList()->item(0)->text().startsWith(QStringLiteral("[ОТЛИЧАЕТСЯ] ")));
    EXPECT_EQ(w.externalList()->count(), 0);
}

// Rules between tables and between forms written with blanks in the references are found by the filters of the
// table and the form they name, on both sides.
TEST_F(ControlMatchWindow, FiltersFindReferencesWrittenWithBlanks) {
    db::exec(db::kMain, QStringLiteral("insert into int_control (\"Код\", formid, tble, lft, reltion, rght) values "
                                       "(901, ?, '', 'Т[ 1000 ]СТР[1]ГР[6]', '<=', 'Т[2000]СТР[1]ГР[4]'), "
                                       "(902, 0, '', 'Ф30 Т( 1000 )СТР[1]ГР[4]', '>=', 'Ф14Т[1000]СТР[1]ГР[4]')"),
             {sample::ids::FormF30});
    addImported(0, QString(), 2, QStringLiteral("ф30 т[ 1000 ]стр[1]гр[4]"), QStringLiteral(">="),
                QStringLiteral("Ф14Т(1000)СТР[1]ГР[4]"), QVariant());
    TControlMatchForm w;
    ASSERT_EQ(w.tableBox()->currentText().left(6), QStringLiteral("(1000)"));
    w.setRuleClass(1);
    w.setFilter(2);
    w.compareRules();
    EXPECT_EQ(w.projectList()->count(), 2);   // the sample's rule between its tables (1000) and (2000), and 901

    w.setRuleClass(2);
    w.compareRules();
    ASSERT_EQ(w.projectList()->count(), 1);
    EXPECT_TRUE(w.projectList()->item(0)->text().startsWith(QStringLiteral("[ДУБЛИРУЕТСЯ] ")));
    ASSERT_EQ(w.externalList()->count(), 1);
    w.setFilter(1);
    w.compareRules();
    EXPECT_EQ(w.projectList()->count(), 2);   // with the sample's rule naming Ф30 (2000)
    EXPECT_EQ(w.externalList()->count(), 1);
}

TEST_F(ControlMatchWindow, TableFilterWithoutTablesTakesEveryRule) {
    db::exec(db::kMain, QStringLiteral("insert into forms (formname, decipher, ind) values ('Ф99', 'Пустая', 0)"));
    addImportedOfF30();
    TControlMatchForm w;
    ASSERT_EQ(w.formBox()->currentText(), QStringLiteral("Ф99 - Пустая"));
    EXPECT_EQ(w.tableBox()->count(), 0);
    w.compareRules();
    EXPECT_EQ(w.projectList()->count(), 7);
    EXPECT_EQ(w.externalList()->count(), 4);
}

TEST_F(ControlMatchWindow, ExportsImportedRulesOfAForm) {
    addImported(sample::ids::FormF30, QStringLiteral("(1000)"), 0, QStringLiteral("СТР[1]"), QStringLiteral(">="),
                QStringLiteral("СТР[2]"), QStringLiteral("ГР[4..7]"), QStringLiteral("он \"сказал\", да"));
    addImported(0, QString(), 2, QStringLiteral("Ф30Т(1000)СТР[1]ГР[4]"), QStringLiteral("="),
                QStringLiteral("Ф14Т(1000)СТР[1]ГР[4]"), QVariant());
    addImported(sample::ids::FormF14, QStringLiteral("(1000)"), 0, QStringLiteral("СТР[1]"), QStringLiteral("="),
                QStringLiteral("СТР[2]"), QVariant());
    TControlMatchForm w;

    const QString file = fx.root() + QStringLiteral("выгрузка");
    dialogs.files.push_back(file);
    w.exportRules();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0], QStringLiteral("Контроли выгружены в файл ") + file + QStringLiteral(".orv"));
    EXPECT_EQ(dialogs.savePaths.value(0), office::documentsFolder() + QStringLiteral("controls_Ф30.orv"));
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(file + QStringLiteral(".orv"), lines));
    ASSERT_EQ(lines.size(), 2);
    // Rows without a table come first.
    EXPECT_EQ(readFields(lines[0]), (QStringList{QString(), QString(), QStringLiteral("Ф30Т(1000)СТР[1]ГР[4]"),
                                                 QStringLiteral("="), QStringLiteral("Ф14Т(1000)СТР[1]ГР[4]"),
                                                 QString(), QString()}));
    EXPECT_EQ(readFields(lines[1]),
              (QStringList{QStringLiteral("Ф30"), QStringLiteral("(1000)"), QStringLiteral("СТР[1]"),
                           QStringLiteral(">="), QStringLiteral("СТР[2]"), QStringLiteral("ГР[4..7]"),
                           QStringLiteral("он \"сказал\", да")}));

    // The form field of a line is the form's name in capitals; a "_" in the
    // name stands for itself, so another form's inter-form rule stays out.
    dialogs.messages.clear();
    db::exec(db::kMain, QStringLiteral("insert into forms (formname, decipher, ind) values ('ф7_а', 'Строчная', 99)"));
    const qint64 lower = db::scalar(db::connection(db::kMain),
                                    QStringLiteral("select id from forms where formname='ф7_а'")).toLongLong();
    addImported(lower, QStringLiteral("(1000)"), 0, QStringLiteral("СТР[1]"), QStringLiteral("="),
                QStringLiteral("СТР[2]"), QVariant());
    addImported(0, QString(), 2, QStringLiteral("Ф7ХАТ(1000)СТР[1]ГР[4]"), QStringLiteral("="), QStringLiteral("1"),
                QVariant());
    fx.reloadCaches();
    w.LoadForms();
    w.formBox()->setCurrentIndex(w.formBox()->count() - 1);
    const QString upper = fx.root() + QStringLiteral("строчная.orv");
    dialogs.files.push_back(upper);
    w.exportRules();
    ASSERT_TRUE(cp1251::readLines(upper, lines)) << dialogs.messages.join(u'\n').toStdString();
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join(u'\n').toStdString();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(readFields(lines[0]).value(0), QStringLiteral("Ф7_А"));
}

TEST_F(ControlMatchWindow, ImportsABookAndDescribesItsRules) {
    const QString linksPath = makeLinks(fx, {QStringLiteral("insert into forms (nf, mf) values (' Ф30 ', '30000'), ('', '55000')"),
                                             QStringLiteral("insert into tables (msk, orv) values ('300001000', 'Ф30(1000)')"),
                                             QStringLiteral("insert into \"rows\" values ('300001000001', 1), "
                                                            "('300001000002', 2), ('300001000003', 3)"),
                                             QStringLiteral("insert into cols values ('30000100004', 4), ('30000100005', 5)")});
    TControlMatchForm w;

    const QString book = fx.root() + QStringLiteral("book.txt");
    ASSERT_TRUE(cp1251::writeLines(book, {QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4"),
                                          QStringLiteral("0100000201 30000,1000,1,5>=30000,1000,3,5")}));
    dialogs.files.push_back(book);
    w.importRules();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0], QStringLiteral("Импорт завершен. Импортировано строк: 2"));
    EXPECT_TRUE(dialogs.modalTitles.isEmpty()) << "nothing to list";
    EXPECT_EQ(dialogs.openFolders, QStringList{office::documentsFolder()});
    EXPECT_EQ(db::scalar(db::connection(db::kMain), QStringLiteral("select count(*) from zenkor_controls")).toInt(), 2);

    // The progress window of the fill carries its own caption, then its usual one again.
    struct CaptionAtShow : QObject {
        QStringList captions;
        bool eventFilter(QObject *o, QEvent *e) override {
            if (e->type() == QEvent::Show) captions << static_cast<QWidget *>(o)->windowTitle();
            return false;
        }
    } shown;
    Progress().installEventFilter(&shown);
    const QString usual = Progress().windowTitle();
    w.describeAllRules();
    Progress().removeEventFilter(&shown);
    EXPECT_EQ(shown.captions, QStringList{QStringLiteral("Простановка описаний")});
    EXPECT_EQ(Progress().windowTitle(), usual);
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(dialogs.messages[1], QStringLiteral("Обновлено описаний: 2"));
    EXPECT_EQ(db::scalar(db::connection(db::kMain),
                         QStringLiteral("select count(*) from zenkor_controls where commnt<>''")).toInt(), 2);

    // A book saved as UTF-8 or UTF-16, with or without its byte-order mark, is refused
    // with a word and the rules imported before stay.
    const QByteArray utf8 = QStringLiteral("0100000101 30000,1000,1,4>=0 Всего\r\n").toUtf8();
    const QString text = QStringLiteral("0100000101 30000,1000,1,4>=0 Всего\r\n");
    const QByteArray utf16(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    // So is a book of few letters in KOI8-R or cp866, told by the "П" of its row ranges.
    const QString ranges = QStringLiteral("0100000101 30000,1000,1П3,4>=0\r\n0100000201 30000,1000,1,4>=30000,1000,2,4\r\n");
    for (const QByteArray &bytes : {utf8, QByteArray("\xEF\xBB\xBF") + utf8, QByteArray("\xFF\xFE") + utf16, utf16,
                                    koi8r(ranges), cp866(ranges)}) {
        ASSERT_TRUE(cp1251::writeFile(book, bytes));
        dialogs.messages.clear();
        dialogs.files.push_back(book);
        w.importButton()->click();
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("не в кодировке Windows-1251")))
            << dialogs.messages[0].toStdString();
        EXPECT_EQ(db::scalar(db::connection(db::kMain), QStringLiteral("select count(*) from zenkor_controls")).toInt(),
                  2);
    }

    // Lines not stored are shown in the list window by reason, with their line numbers in the file.
    ASSERT_TRUE(cp1251::writeLines(book, {QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4"), QString(),
                                          QStringLiteral("0100000201 30000,1000,1,4=x")}));
    dialogs.messages.clear();
    dialogs.files.push_back(book);
    w.importButton()->click();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0], QStringLiteral("Импорт завершен. Импортировано строк: 1\n"
                                                  "Строк не импортировано или требуют проверки: 1"));
    ASSERT_EQ(dialogs.modalTitles.size(), 1);
    EXPECT_TRUE(dialogs.modalTitles[0].startsWith(QStringLiteral("Импорт контролей")));
    const ListContents listed = Form1().contents();
    ASSERT_EQ(listed.rows.size(), 1);
    EXPECT_EQ(listed.rows[0], (QStringList{QStringLiteral("строка не прочитана"), QStringLiteral("3"),
                                           QStringLiteral("0100000201 30000,1000,1,4=x")}));

    // Links.mdb gone: nothing changes, and the user is told.
    QFile::remove(linksPath);
    dialogs.messages.clear();
    dialogs.files.push_back(book);
    w.importButton()->click();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("Не найдена база сопоставления кодов")));
    EXPECT_EQ(db::scalar(db::connection(db::kMain), QStringLiteral("select count(*) from zenkor_controls")).toInt(), 1);
}

TEST_F(ControlMatchWindow, ImportedInterTableAndInterFormRulesMeetTheProgramsOwn) {
    makeLinks(fx, {QStringLiteral("insert into forms (nf, mf) values ('Ф30', '30000'), ('Ф14', '14000')")});
    TControlMatchForm w;
    // The sample's rules 4 (inter-table) and 6 (inter-form) as the book writes them.
    const QString book = fx.root() + QStringLiteral("book.txt");
    ASSERT_TRUE(cp1251::writeLines(book, {QStringLiteral("0100000101 30000,2000,1,4>=30000,1000,1,5"),
                                          QStringLiteral("0100000201 14000,1000,1,4<=30000,2000,1,4")}));
    dialogs.files.push_back(book);
    w.importRules();
    // Links.mdb numbers none of these tables: the lines are stored with the book's numbers and listed for checking.
    ASSERT_EQ(dialogs.messages.value(0), QStringLiteral("Импорт завершен. Импортировано строк: 2\n"
                                                        "Строк не импортировано или требуют проверки: 2"));

    const int f30 = w.formBox()->findText(QStringLiteral("Ф30 - "), Qt::MatchStartsWith);
    ASSERT_GE(f30, 0);
    w.formBox()->setCurrentIndex(f30);
    w.LoadTables();
    w.setRuleClass(1);
    w.setFilter(1);
    w.compareRules();
    ASSERT_EQ(w.externalList()->count(), 1);
    EXPECT_TRUE(w.externalList()->item(0)->text().startsWith(QStringLiteral("[ДУБЛИРУЕТСЯ] "))) 
        << w.externalList()->item(0)->text().toStdString();

    // The table filter finds the program's Т[2000] and the imported Т(2000).
    const int t2000 = w.tableBox()->findText(QStringLiteral("(2000) - "), Qt::MatchStartsWith);
    ASSERT_GE(t2000, 0);
    w.tableBox()->setCurrentIndex(t2000);
    w.setFilter(2);
    w.compareRules();
    EXPECT_EQ(w.projectList()->count(), 2);
    ASSERT_EQ(w.externalList()->count(), 1);
    EXPECT_TRUE(w.externalList()->item(0)->text().startsWith(QStringLiteral("[ДУБЛИРУЕТСЯ] ")));

    w.setRuleClass(2);
    for (int filter : {0, 1, 2}) {
        w.setFilter(filter);
        w.compareRules();
        ASSERT_EQ(w.projectList()->count(), 1) << filter;
        EXPECT_TRUE(w.projectList()->item(0)->text().startsWith(QStringLiteral("[ДУБЛИРУЕТСЯ] ")))
            << w.projectList()->item(0)->text().toStdString();
        ASSERT_EQ(w.externalList()->count(), 1) << filter;
        EXPECT_EQ(w.externalList()->item(0)->text(), QStringLiteral("[ДУБЛИРУЕТСЯ] Ф14Т(1000)СТР1ГР4 <= Ф30Т(2000)СТР1ГР4"));
    }

    // The inter-form rule goes into the form's control file too.
    const QString file = fx.root() + QStringLiteral("ф30.orv");
    dialogs.files.push_back(file);
    w.exportRules();
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(file, lines));
    EXPECT_EQ(lines.size(), 2);
}

// Links.mdb is looked for at every import: one put in the year's folder while the window is open is found, and while
// there is none the message names both places it is looked for.
TEST_F(ControlMatchWindow, LinksPutInPlaceWhileTheWindowIsOpenIsFound) {
    QFile::remove(fx.yearFolder() + QStringLiteral("Links.mdb"));
    TControlMatchForm w;
    const QString book = fx.root() + QStringLiteral("book.txt");
    ASSERT_TRUE(cp1251::writeLines(book, {QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4")}));
    dialogs.files.push_back(book);
    w.importRules();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("Не найдена база сопоставления кодов")));
    EXPECT_TRUE(dialogs.messages[0].contains(fx.yearFolder())) << dialogs.messages[0].toStdString();
    EXPECT_TRUE(dialogs.messages[0].contains(paths::programFolder()));

    makeLinks(fx, {QStringLiteral("insert into forms (nf, mf) values ('Ф30', '30000')"),
                   QStringLiteral("insert into tables (msk, orv) values ('300001000', 'Ф30(1000)')")});
    dialogs.messages.clear();
    dialogs.files.push_back(book);
    w.importRules();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("Импорт завершен. Импортировано строк: 1")))
        << dialogs.messages[0].toStdString();
    EXPECT_EQ(w.linksPath(), fx.yearFolder() + QStringLiteral("Links.mdb"));
}

// The list of lines not stored shows the book's line beside a long reason.
TEST_F(ControlMatchWindow, TheListOfLinesNotStoredShowsTheBooksLine) {
    makeLinks(fx, {QStringLiteral("insert into forms (nf, mf) values ('Ф30', '30000')"),
                   QStringLiteral("insert into tables (msk, orv) values ('300001000', 'Ф30(1000)')")});
    TControlMatchForm w;
    const QString book = fx.root() + QStringLiteral("book.txt");
    ASSERT_TRUE(cp1251::writeLines(book, {QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4"),
                                          QStringLiteral("0100000201 30000,1000,40,4>=30000,1000,2,4+30000,1000,3,4")}));
    dialogs.files.push_back(book);
    w.importRules();
    ASSERT_EQ(dialogs.modalTitles.size(), 1);
    TForm1 &list = Form1();
    const QTreeWidget *tree = list.list();
    ASSERT_EQ(tree->columnCount(), 3);
    EXPECT_TRUE(tree->headerItem()->text(0).startsWith(QStringLiteral("Причина")));
    const int bookLineAt = tree->columnWidth(0) + tree->columnWidth(1);
    EXPECT_GT(list.width(), 557);
    EXPECT_LT(bookLineAt + 40 * tree->fontMetrics().averageCharWidth(), list.width())
        << "the book's line starts at " << bookLineAt << " in a window " << list.width() << " wide";
}
