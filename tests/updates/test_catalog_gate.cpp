// Every path that creates or renames a form or a table, or sets a table's shape, goes through one gate: no sequence of
// catalogue commands, imports or edits leaves a form or table that is shadowed by another or cannot be opened. The
// windows are driven through their handlers, dialogs scripted.
#include "core/SampleConfig.h"
#include "engine/CatalogGate.h"
#include "engine/FormStructureFile.h"
#include "engine/Notation.h"
#include "engine/TextUtil.h"
#include "forms/structure/FormCatalog.h"
#include "forms/structure/FormCatalogLogic.h"
#include "forms/structure/ImportDocLogic.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/SourceScan.h"
#include "support/QueryRows.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "updates/UpdateInstaller.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include <functional>

namespace ids = sample::ids;

namespace {

struct CatalogGateTest : ::testing::Test {
    SampleFixture fx;
    FakeDialogs dialogs;
    QSqlDatabase mainDb() { return db::connection(db::kMain); }

    // Everything the catalogue holds about forms and tables.
    QStringList snapshot() {
        QStringList out;
        for (const char *sql : {"select * from forms order by id", "select * from tables order by ident",
                                "select * from \"rows\" order by 1,2", "select * from \"columns\" order by 1,2",
                                "select * from titles order by 1,2,3"})
            out << queryRows(mainDb(), sql);
        return out;
    }
    // The invariant every path keeps: names and numbers well formed and unique without regard to letter case,
    // every shape one the table window opens.
    void expectSound() {
        QStringList names;
        QSqlQuery f = db::exec(mainDb(), "select id, formname from forms");
        while (f.next()) {
            const QString n = f.value(1).toString();
            EXPECT_TRUE(gate::formNameFault(n).isEmpty()) << n.toStdString();
            EXPECT_FALSE(names.contains(n.toUpper())) << "twin " << n.toStdString();
            names << n.toUpper();
        }
        QStringList numbers;
        QSqlQuery t = db::exec(mainDb(), "select * from tables");
        while (t.next()) {
            const QString key = t.value("form").toString() + '/' + t.value("tablen").toString().toUpper();
            EXPECT_TRUE(gate::tableNumberFault(t.value("tablen").toString()).isEmpty()) << key.toStdString();
            EXPECT_FALSE(numbers.contains(key)) << "twin " << key.toStdString();
            numbers << key;
            EXPECT_TRUE(shapecheck::countsFault(ShapeOfTableRecord(t)).isEmpty()) << key.toStdString();
        }
    }
    QString file(const QString &name, const QStringList &lines) {
        const QString path = fx.root() + name;
        EXPECT_TRUE(cp1251::writeLines(path, lines));
        return path;
    }
    static QStringList captions(QTreeWidget *list) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
        return out;
    }
};

// Runs a path; true when it refused (threw, or answered false).
bool refused(const std::function<bool()> &path) {
    try {
        return !path();
    } catch (const std::exception &) {
        return true;
    }
}

} // namespace

TEST_F(CatalogGateTest, TablesEditorRefusesTakenAndMalformedNumbers) {
    db::exec(mainDb(), "update tables set tablen='(1000а)' where ident=?", {ids::TableF30Staff});
    TFTabs t(ids::FormF30);
    t.show();
    t.list()->setCurrentItem(t.list()->topLevelItem(1));
    ASSERT_EQ(t.list()->currentItem()->text(0), QStringLiteral("(2000)"));
    const QStringList before = snapshot();
    struct Case { const char *number, *message; };
    for (const Case &c : {Case{"(1000а)", "уже есть"}, Case{"(1000А)", "уже есть"}, Case{" (1000а) ", "скобках"},
                          Case{"()", "скобках"}, Case{"( )", "скобках"}, Case{"(1)(2)", "скобках"},
                          Case{"1000", "скобках"}}) {
        t.editTable();
        t.numberEdit()->setText(QString::fromUtf8(c.number));
        t.acceptTable();
        EXPECT_TRUE(dialogs.messages.last().contains(QString::fromUtf8(c.message)))
            << c.number << ": " << dialogs.messages.last().toStdString();
        EXPECT_EQ(t.numberEdit()->text(), QString::fromUtf8(c.number));   // the group stays open to correct it
        EXPECT_EQ(snapshot(), before);
        t.cancelEdit();
    }
    // Its own number in another letter case is no twin.
    t.list()->setCurrentItem(t.list()->topLevelItem(0));
    t.editTable();
    t.numberEdit()->setText("(1000А)");
    t.acceptTable();
    EXPECT_EQ(db::scalar(mainDb(), "select tablen from tables where ident=1").toString(), QStringLiteral("(1000А)"));
    expectSound();
}

TEST_F(CatalogGateTest, CatalogueRefusesCaseTwinsAndAnImportKeepsTheStoredName) {
    TFormL w;
    w.show();
    const QStringList before = snapshot();
    dialogs.modals.push_back([&](QDialog *d) {
        auto *c = static_cast<TFChar *>(d);
        for (const char *name : {"ф30", " Ф14 ", "ф47"}) {
            c->nameEdit()->setText(QString::fromUtf8(name));
            c->acceptForm();
            EXPECT_EQ(c->result(), 0) << name;
            EXPECT_TRUE(dialogs.messages.last().contains("уже есть в каталоге")) << dialogs.messages.last().toStdString();
        }
        return int(QDialog::Rejected);
    });
    w.addForm();
    // Renaming Ф14 to a twin of Ф30 is refused too; Ф30 in its own other case is not.
    w.list()->setCurrentItem(w.list()->topLevelItem(1));
    dialogs.modals.push_back([&](QDialog *d) {
        auto *c = static_cast<TFChar *>(d);
        c->nameEdit()->setText("ф30");
        c->acceptForm();
        EXPECT_EQ(c->result(), 0);
        return int(QDialog::Rejected);
    });
    w.editForm();
    EXPECT_EQ(snapshot(), before);

    // A structure file of "ф30" updates Ф30, which keeps its name (its print files are Ф30.doc and Ф30.txt).
    // Its table "(1000а)", named "(1000А)" in the file, is updated in place and keeps its number too.
    db::exec(mainDb(), "update tables set tablen='(1000а)' where ident=?", {ids::TableF30Staff});
    const QString path = fx.root() + "f30.frs";
    catalog::exportForm(ids::FormF30, path);
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(path, lines));
    lines[0] = QStringLiteral("ф30#Новое описание#Нет");
    lines.replaceInStrings(QStringLiteral("(1000а)#"), QStringLiteral("(1000А)#"));
    ASSERT_TRUE(cp1251::writeLines(path, lines));
    dialogs.files.push_back(path);
    w.importForm();
    EXPECT_EQ(dialogs.messages.last(), QStringLiteral("Готово"));
    EXPECT_EQ(captions(w.list()), (QStringList{"Ф30", "Ф14", "Ф47"}));
    EXPECT_EQ(w.list()->topLevelItem(0)->text(1), QStringLiteral("Новое описание"));
    EXPECT_EQ(db::scalar(mainDb(), "select formname from forms where id=1").toString(), QStringLiteral("Ф30"));
    EXPECT_EQ(db::scalar(mainDb(), "select count(*) from forms").toInt(), 3);
    EXPECT_EQ(db::scalar(mainDb(), "select group_concat(tablen, ',') from (select tablen from tables where form=1 "
                                   "order by ident)").toString(), "(1000а),(2000)");
    EXPECT_TRUE(dialogs.questions.isEmpty());   // no table missing from the file
    expectSound();
}

TEST_F(CatalogGateTest, EveryBadStructureLineRefusesTheWholeFile) {
    TFormL w;
    w.show();
    const QStringList before = snapshot();
    const QString form = "Ф30#Сведения#Нет";
    const QString table = "(1000)#Штаты#8#7#3#3#False#0";   // 8 columns, 7 rows
    struct Case { QStringList lines; int line; const char *reason; };
    const QList<Case> cases = {
        {{form, table, "стр99#18"}, 3, "строка 99 вне таблицы"},
        {{form, table, "стр0#18"}, 3, "строка 0 вне таблицы"},
        {{form, table, "стр1#-5"}, 3, "Высота -5"},
        {{form, table, "стр1#1e300"}, 3, "Высота"},
        {{form, table, "гр5000#10"}, 3, "графа 5000 вне таблицы"},
        {{form, table, "гр1#nan"}, 3, "width"},
        {{form, table, "заг99#99#99#99#99#99#Arial#10#False#False#CC00#x"}, 3, "заголовок (графа 99, строка 99)"},
        {{form, table, "заг1#1#1#1#2000000000#2000000000#Arial#10#False#False#CC00#x"}, 3, "объединение заголовка"},
        {{form, table, "заг2#2#1#1#1#1#Arial#10#False#False#CC00#x"}, 3, "не содержит его ячейку"},
        {{form, table, "заг1#1#1#1#1#1#Arial#-5#False#False#CC00#x"}, 3, "размер шрифта -5"},
        {{form, table, "заг1#1#1#1#1#1#Arial#100000#False#False#CC00#x"}, 3, "размер шрифта 100000"},
        {{form, table, "заг1#1#1#1#1#1#Arial#10#False#False#XY00#x"}, 3, "код расположения"},
        {{form, table, "заг1#1#1#1#1#1#Arial#10#False#False#CC0A#x"}, 3, "код расположения"},
        {{form, "(1000)#Штаты#8#7#9#3#False#0"}, 2, "граф заголовка 9"},
        {{form, "(1000)#Штаты#8#7#-1#3#False#0"}, 2, "граф заголовка -1"},
        {{form, "(1000)#Штаты#8#7#3#8#False#0"}, 2, "строк заголовка 8"},
        {{form, "(1000)#Штаты#8#7#3#3#False#7"}, 2, "порядок формирования 7"},
        {{form, "(1000)#Штаты#2000#7#3#3#False#0"}, 2, "размер таблицы 2000 x 7"},
        {{form, "()#Пустой номер#8#7#3#3#False#0"}, 2, "скобках"},
        {{form, "(1)(2)#Два номера#8#7#3#3#False#0"}, 2, "скобках"},
        {{form, table, "(1000)#Ещё раз#8#7#3#3#False#0"}, 3, "уже описана в строке 2"},
        {{form, "(1000а)#А#8#7#3#3#False#0", "(1000А)#Б#8#7#3#3#False#0"}, 3, "уже описана в строке 2"},
        // A bad line after good tables still refuses them all.
        {{form, table, "стр1#18", "(2000)#Посещения#5#5#3#2#False#0", "стр6#18"}, 5, "строка 6 вне таблицы"},
        // The form line is lost: a row, column, title or table line first.
        {{"стр1#18", table}, 1, "ожидалось описание формы"},
        {{"гр1#18", table}, 1, "ожидалось описание формы"},
        {{"заг1#1#1#1#1#1#Arial#10#False#False#CC00#x", table}, 1, "ожидалось описание формы"},
        {{table, "стр1#18"}, 1, "ожидалось описание формы"},
        {{"Ф30#Сведения", table}, 1, "ожидалось описание формы"},
        {{" #Сведения#Нет", table}, 1, "Введите наименование формы"},
    };
    for (const Case &c : cases) {
        dialogs.files.push_back(file("bad.frs", c.lines));
        dialogs.messages.clear();
        w.importForm();
        const QString shown = dialogs.messages.join('\n');
        EXPECT_TRUE(shown.contains(QStringLiteral("Ошибка на строке %1\r\n").arg(c.line)) &&
                    shown.contains(QString::fromUtf8(c.reason)))
            << c.lines.join(" / ").toStdString() << " -> " << shown.toStdString();
        EXPECT_FALSE(shown.contains(QStringLiteral("Готово")));
        EXPECT_EQ(snapshot(), before) << c.lines.join(" / ").toStdString();
    }
    EXPECT_EQ(captions(w.list()), (QStringList{"Ф30", "Ф14", "Ф47"}));
}

// The contract of the gate: every path that creates or renames a form or a table, or sets a table's shape, run through
// the same bad identities and shapes. Each refuses and changes nothing, except that a structure file or an update
// naming a stored form in another letter case updates that form without renaming it; the catalogue stays sound either
// way.
TEST_F(CatalogGateTest, EveryPathRefusesBadIdentitiesAndShapes) {
    const QSqlDatabase d = mainDb();
    db::exec(d, "update tables set tablen='(1000а)' where ident=?", {ids::TableF30Staff});

    using FormPath = std::function<bool(const QString &name)>;
    const QList<QPair<const char *, FormPath>> formPaths = {
        {"catalogue: add", [](const QString &n) { catalog::addForm(n, "x", false); return true; }},
        {"catalogue: rename", [](const QString &n) { catalog::updateForm(ids::FormF47, n, "x", true); return true; }},
        {".frs import",
         [&](const QString &n) { catalog::importFrs(frs::readFile(file("f.frs", {n + "#x#Нет"}))); return true; }},
        {"update installer", [&](const QString &n) { return InstallFormHeader(d, file("u.frs", {n + "#x#Нет"}), n); }},
    };
    struct FormCase { const char *name; bool twin; };   // twin: names a stored form in another letter case
    // 118 Cyrillic letters are 236 bytes: "controls_<name>.orv" under the writer's temporary name is no file name.
    const std::string tooLongForAFile = QString(118, QChar(0x0424)).toStdString();
    for (const FormCase &c : {FormCase{tooLongForAFile.c_str(), false}, FormCase{"ф30", true}, FormCase{" ф14 ", true}, FormCase{"", false},
                              FormCase{"  ", false}, FormCase{"Ф:1", false}, FormCase{"гр2", false},
                              FormCase{"стр5", false}, FormCase{"заг1", false}, FormCase{"ГР2", false},
                              FormCase{"Ф/1", false}, FormCase{"Ф\\1", false}, FormCase{"..", false},
                              FormCase{" . ", false},
                              // Names the references of rules, calculated cells and indicators cannot name.
                              FormCase{"Отчет", false}, FormCase{"Ф30-1", false}, FormCase{"Ф30+", false},
                              FormCase{"Ф1*2", false}, FormCase{"Ф(1)", false}, FormCase{"Ф 30", false},
                              FormCase{"ФГРУППА", false}, FormCase{"Фстр", false}, FormCase{"Ф<1", false},
                              FormCase{"Ф=1", false}, FormCase{"Ф;1", false}, FormCase{"Ф\"1\"", false},
                              FormCase{"Фвпт", false}, FormCase{"Фor", false}, FormCase{"ФAND", false},
                              FormCase{"Ф", false}}) {
        for (const auto &p : formPaths) {
            const QStringList before = snapshot();
            const bool refusedHere = refused([&] { return p.second(QString::fromUtf8(c.name)); });
            const bool updatesInPlace = c.twin && (QByteArray(p.first) == ".frs import" ||
                                                   QByteArray(p.first) == "update installer");
            if (updatesInPlace) {
                EXPECT_EQ(db::scalar(d, "select count(*) from forms").toInt(), 3) << p.first << " " << c.name;
                EXPECT_EQ(db::scalar(d, "select group_concat(formname, ',') from forms").toString(), "Ф30,Ф14,Ф47")
                    << p.first << " " << c.name;
            } else {
                EXPECT_TRUE(refusedHere) << p.first << " accepted \"" << c.name << "\"";
                EXPECT_EQ(snapshot(), before) << p.first << " " << c.name;
            }
            expectSound();
        }
    }

    using TablePath = std::function<void(const QString &number)>;
    const QList<QPair<const char *, TablePath>> tablePaths = {
        {"tables editor", [](const QString &n) { catalog::updateTable(ids::TableF30Visits, n, "x", false, 0); }},
        {".frs import", [&](const QString &n) {
             catalog::importFrs(frs::readFile(
                 file("t.frs", {"Ф30#x#Нет", "(1000а)#Штаты#8#7#3#3#False#0", n + "#x#5#5#3#2#False#0"})));
         }},
        {"gate: new table", [&](const QString &n) {
             TableShape s;
             s.colcount = s.rowcount = 2;
             gate::addTable(d, ids::FormF30, n, "x", s);
         }},
    };
    for (const char *number : {"(1000а)", "(1000А)", " (1000а)", "()", "( )", "(1)(2)", "(1", "1000", "(1:2)",
                               "( 3000)", "(3000 )", "(СТР1)", "(ГР2)", "(стр1)", "(1гр)", "(Ф1)", "(1[2])",
                               "(1000-1)", "(1000+1)", "(1*2)", "(1/2)", "(10 00)", "(1<2)", "(1=2)", "(1;2)",
                               "(\"1\")", "(впт)", "(and)", "(Or1)"})
        for (const auto &p : tablePaths) {
            // A line not beginning with "(" is no table line for the reader: reported and skipped (catalogue tests).
            if (QByteArray(p.first) == ".frs import" && number[0] != '(') continue;
            const QStringList before = snapshot();
            EXPECT_TRUE(refused([&] { p.second(QString::fromUtf8(number)); return true; }))
                << p.first << " accepted " << number;
            EXPECT_EQ(snapshot(), before) << p.first << " " << number;
            expectSound();
        }

    struct Shape { int cols, rows, fixcols, fixrows, scan; };
    using ShapePath = std::function<void(const Shape &)>;
    const QList<QPair<const char *, ShapePath>> shapePaths = {
        {".frs import", [&](const Shape &s) {
             catalog::importFrs(frs::readFile(
                 file("s.frs", {"Ф30#x#Нет", QStringLiteral("(2000)#x#%1#%2#%3#%4#False#%5")
                                                 .arg(s.cols).arg(s.rows).arg(s.fixcols).arg(s.fixrows).arg(s.scan)})));
         }},
        {"Word import", [](const Shape &s) {
             if (s.scan != 0) throw std::runtime_error("the Word import sets no generation order");
             importdoc::DocStructure doc;
             doc.resize(s.rows, s.cols);
             importdoc::UpdateTableStructure(ids::TableF30Visits, doc, s.fixcols, s.fixrows);
         }},
        {"tables editor", [](const Shape &s) {
             if (s.scan == 0) throw std::runtime_error("the tables editor sets only the generation order");
             catalog::updateTable(ids::TableF30Visits, "(2000)", "x", false, s.scan);
         }},
        {"gate: sizes",
         [&](const Shape &s) { gate::setTableSizes(d, ids::TableF30Visits, s.cols, s.rows, s.fixcols, s.fixrows); }},
    };
    for (const Shape &s : {Shape{1001, 5, 1, 1, 0}, Shape{5, 10001, 1, 1, 0}, Shape{5, 5, 6, 1, 0},
                           Shape{5, 5, -1, 1, 0}, Shape{5, 5, 1, 6, 0}, Shape{5, 5, 1, -2, 0}, Shape{5, 5, 1, 1, 7},
                           Shape{5, 5, 1, 1, -1}})
        for (const auto &p : shapePaths) {
            if (QByteArray(p.first) == "gate: sizes" && s.scan != 0) continue;
            const QStringList before = snapshot();
            EXPECT_TRUE(refused([&] { p.second(s); return true; }))
                << p.first << " accepted " << s.cols << "x" << s.rows << " fix " << s.fixcols << "/" << s.fixrows
                << " scan " << s.scan;
            EXPECT_EQ(snapshot(), before) << p.first;
            expectSound();
        }
}

// The gate both ways: a generated corpus of legitimate names and numbers passes, a reference names each accepted table
// back, and a form's structure file, written by export, is read back by import.
TEST_F(CatalogGateTest, LegitimateNamesPassAndAreUsable) {
    QStringList numbers;
    for (const char *inner : {"1000", "1000а", "2000Б", "3000ё", "5.1", "1.2", "100а", "Т1", "итого", "1,2", "№7"})
        numbers << QStringLiteral("(%1)").arg(QString::fromUtf8(inner));
    for (const QString &n : numbers) {
        EXPECT_TRUE(gate::tableNumberFault(n).isEmpty()) << n.toStdString();
        const QString ref = text::upper(QStringLiteral("Ф30Т[") + n.mid(1, n.size() - 2) + QStringLiteral("]СТР1ГР4"));
        const ReferenceParts parts = CutReferenceParts(ref);
        EXPECT_EQ(parts.table, text::upper(n)) << ref.toStdString();
        EXPECT_EQ(parts.rows, "1");
        EXPECT_EQ(parts.columns, "4");
    }
    // Refused numbers are those a reference, with its form or within its form, cannot name back.
    const auto namesBack = [](const QString &n, const QString &form) {
        const ReferenceParts parts = CutReferenceParts(
            text::upper(form + QStringLiteral("Т[") + n.mid(1, n.size() - 2) + QStringLiteral("]СТР1ГР4")));
        return parts.table == text::upper(n) && parts.rows == "1" && parts.columns == "4" &&
               parts.hasForm == !form.isEmpty();
    };
    for (const QString &n : numbers) EXPECT_TRUE(namesBack(n, "Ф30") && namesBack(n, "")) << n.toStdString();
    for (const char *bad : {"(СТР1)", "(ГР2)", "(Ф1)"})
        EXPECT_FALSE(namesBack(QString::fromUtf8(bad), "Ф30") && namesBack(QString::fromUtf8(bad), "")) << bad;
    int k = 0;
    for (const char *name : {"Ф12", "ф14ё", "Ф1мед", "Ф12.б", "ФАП", "Ф№7", "Ф«99»", "Ф1,2", "Фёдор", "Ф_2"}) {
        const QString n = QString::fromUtf8(name);
        EXPECT_TRUE(gate::formNameFault(n).isEmpty()) << name;
        const qint64 id = catalog::addForm(n, "Описание", false);
        gate::addTable(mainDb(), id, numbers[k++ % numbers.size()], "Т", TableShape{0, 4, 3, 1, 1, false, 0});
        const QString path = fx.root() + QStringLiteral("round%1.frs").arg(k);
        catalog::exportForm(id, path);
        const frs::Form back = frs::readFile(path);
        EXPECT_EQ(back.formname, n);
        ASSERT_EQ(back.tables.size(), 1);
    }
    expectSound();
}

// Names stored before the references' rules were enforced are not repaired: their form and table keep working in
// the catalogue (a description or caption edited, a structure file read back in place), and a new name for them is
// checked as any new name is.
TEST_F(CatalogGateTest, NamesStoredBeforeAreKeptAndRenamedOnlyToNamesReferencesName) {
    const QSqlDatabase d = mainDb();
    db::exec(d, "update forms set formname='Ф 14-дети' where id=?", {ids::FormF14});
    db::exec(d, "update tables set tablen='(2000-1)' where ident=?", {ids::TableF30Visits});
    EXPECT_NO_THROW(catalog::updateForm(ids::FormF14, "Ф 14-дети", "Новое содержание", false));
    EXPECT_NO_THROW(catalog::updateTable(ids::TableF30Visits, "(2000-1)", "Новая подпись", false, 0));
    EXPECT_EQ(db::scalar(d, "select name from tables where ident=?", {ids::TableF30Visits}).toString(), "Новая подпись");
    for (const qint64 form : {qint64(ids::FormF14), qint64(ids::FormF30)}) {
        const QString path = fx.root() + QStringLiteral("kept%1.frs").arg(form);
        catalog::exportForm(form, path);
        const catalog::ImportResult r = catalog::importFrs(frs::readFile(path));
        EXPECT_EQ(r.formId, form);
        EXPECT_FALSE(r.newForm);
        EXPECT_TRUE(r.missing.isEmpty());
    }
    EXPECT_TRUE(refused([] { catalog::updateTable(ids::TableF30Visits, "(2000-2)", "x", false, 0); return true; }));
    EXPECT_TRUE(refused([] { catalog::updateForm(ids::FormF14, "Ф 14-дети2", "x", false); return true; }));
    EXPECT_NO_THROW(catalog::updateTable(ids::TableF30Visits, "(2001)", "x", false, 0));
    EXPECT_NO_THROW(catalog::updateForm(ids::FormF14, "Ф14д", "x", false));
    expectSound();
}

// A new statement that writes the form or table catalogue outside the gate
// would be a path the checks above do not cover.
TEST(CatalogGateSource, OnlyTheGateWritesTheFormAndTableCatalogue) {
    const QRegularExpression write(QStringLiteral(R"((insert\s+into|update)\s+\\?"?(forms|tables)\\?"?[\s(])"),
                                   QRegularExpression::CaseInsensitiveOption);
    const QRegularExpression built(QStringLiteral(R"re(insert\w*\([^;]*QStringLiteral\("(forms|tables)"\))re"));
    QStringList offenders;
    const QMap<QString, QString> sources = productSources();
    for (const auto &[rel, text] : sources.asKeyValueRange()) {
        if (rel == QStringLiteral("engine/CatalogGate.cpp")) continue;
        for (auto m = write.globalMatch(text); m.hasNext();) offenders << rel + ": " + m.next().captured(0);
        // A statement built around the table's name: only the sample configuration, filling a new database, does so.
        if (rel == QStringLiteral("core/SampleConfig.cpp")) continue;
        for (auto m = built.globalMatch(text); m.hasNext();) offenders << rel + ": " + m.next().captured(0);
    }
    EXPECT_GT(sources.size(), 100);
    EXPECT_TRUE(offenders.isEmpty()) << offenders.join('\n').toStdString();
}
