// Form catalogue: structure files written and read back, faulty files,
// deleting forms and tables with everything that hangs on them.
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "forms/structure/FormCatalogLogic.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/QueryRows.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace ids = sample::ids;
using namespace catalog;

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

qint64 count(const QSqlDatabase &d, const QString &sql, const QVariantList &p = {}) {
    return db::scalar(d, sql, p).toLongLong();
}

// The rows a statement gives for one key, each as its fields joined.
QStringList rowsOf(const QString &sql, qint64 key) { return queryRows(mainDb(), sql, {key}); }

// The whole structure of a form, independent of the idents it got.
QStringList structureOf(qint64 formId) {
    QStringList out = rowsOf("select formname, decipher, net from forms where id=?", formId);
    for (const QVariant &t : db::column(mainDb(), "select ident from tables where form=? order by tablen", {formId}))
        out << rowsOf("select 'T', tablen, name, colcount, rowcount, fixcols, fixrows, floattype, scan from tables "
                      "where ident=?", t.toLongLong())
            << rowsOf("select 'R', \"row\", height from \"rows\" where \"table\"=? order by \"row\"", t.toLongLong())
            << rowsOf("select 'C', \"column\", width from \"columns\" where \"table\"=? order by \"column\"",
                      t.toLongLong())
            << rowsOf("select 'H', \"column\", \"row\", union_sc, union_sr, union_ec, union_er, fontname, fontsize, "
                      "fontbold, fontitalic, tchars, txt from titles where \"table\"=? order by \"row\", \"column\"",
                      t.toLongLong());
    return out;
}

struct CatalogTest : ::testing::Test {
    SampleFixture fx;
    FakeDialogs dialogs;
    QString file(const QString &name) const { return fx.root() + name; }
    QStringList readFile(const QString &path) {
        QStringList lines;
        EXPECT_TRUE(cp1251::readLines(path, lines));
        return lines;
    }
    void writeFile(const QString &path, const QStringList &lines) { ASSERT_TRUE(cp1251::writeLines(path, lines)); }
    qint64 formCount() { return count(mainDb(), "select count(*) from forms"); }
    // What is left of the tables: definitions, calculated cells, values and report values, level values.
    QList<qint64> leftOf(const QString &tables) {
        const QString in = QStringLiteral(" in (%1)").arg(tables);
        QList<qint64> out;
        for (const char *from : {"tables where ident", "\"rows\" where \"table\"", "\"columns\" where \"table\"",
                                 "titles where \"table\"", "conditions where tid"})
            out << count(mainDb(), QStringLiteral("select count(*) from ") + from + in);
        for (const char *t : {"data", "repdata"})
            out << count(db::connection(db::kData), QStringLiteral("select count(*) from %1 where \"table\"").arg(t) + in);
        db::ScopedConnection level(fx.yearFolder() + "data1.mdb", db::OpenMode::ReadOnly);
        out << count(level.db(), "select count(*) from data where \"table\"" + in);
        return out;
    }
};

} // namespace

// Read back as written, or with the form's name in other letter case: the form is found and updated in place and keeps
// its stored name (its print files and references name it so).
TEST_F(CatalogTest, ExportedFormReadsBackInPlace) {
    const QStringList before = structureOf(ids::FormF30);
    for (const bool lower : {false, true}) {
        SCOPED_TRACE(lower);
        const QString path = file("Ф30.frs");
        exportForm(ids::FormF30, path);
        QStringList lines = readFile(path);
        ASSERT_TRUE(lines[0].startsWith(QStringLiteral("Ф30#")));
        // The colon of a title stays as its control byte; a plain colon is never written.
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString &l) { return l.contains(QChar(3)); }));
        EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const QString &l) { return l.contains(':'); }));
        if (lower) {
            lines[0].replace(0, 1, QStringLiteral("ф"));
            writeFile(path, lines);
        }
        const qint64 forms = formCount();
        const ImportResult r = importFrs(frs::readFile(path));
        EXPECT_EQ(r.formId, ids::FormF30);
        EXPECT_FALSE(r.newForm);
        EXPECT_TRUE(r.missing.isEmpty());
        EXPECT_EQ(formCount(), forms);
        EXPECT_EQ(structureOf(ids::FormF30), before);
    }
    // Updated in place: the same tables, their values and calculated cells untouched.
    EXPECT_EQ(count(mainDb(), "select count(*) from tables where form=1 and ident in (1,2)"), 2);
    EXPECT_GT(count(db::connection(db::kData), "select count(*) from data where \"table\"=1"), 0);
    // A form whose name begins with "(" still has its form line read.
    EXPECT_EQ(frs::parse({"(99)#Особая#Нет"}).formname, QStringLiteral("(99)"));
}

TEST_F(CatalogTest, ImportAfterDeletionMakesTheFormAnew) {
    const QStringList before = structureOf(ids::FormF30);
    const QString path = file("f30.frs");
    exportForm(ids::FormF30, path);
    deleteForm(ids::FormF30);
    const ImportResult r = importFrs(frs::readFile(path));
    EXPECT_TRUE(r.newForm);
    EXPECT_NE(r.formId, ids::FormF30);
    EXPECT_EQ(structureOf(r.formId), before);
    // Listed last after the next fill.
    EXPECT_EQ(listForms().last().id, r.formId);
}

TEST_F(CatalogTest, FieldEncodingsOfTitlesAndSizes) {
    const QSqlDatabase d = mainDb();
    db::exec(d, "update titles set txt=? where \"table\"=2 and \"row\"=1 and \"column\"=1",
             {QStringLiteral("Строка\r\nвторая")});
    db::exec(d, "insert into titles values (2, 5, 5, 5, 5, 5, 5, 'Arial', 8, 1, 0, 'CC00', '')");
    db::exec(d, "insert into titles values (2, 4, 5, 4, 5, 4, 5, 'Arial', 8, 0, 1, 'TL00', 'a:b # c')");
    // A height stored as text with a decimal comma keeps its value.
    db::exec(d, "update \"rows\" set height='12,5' where \"table\"=2 and \"row\"=1");
    const QString path = file("enc.frs");
    exportForm(ids::FormF30, path);
    const QStringList lines = readFile(path);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString &l) {
        return l.endsWith(QStringLiteral("Строка") + QChar(2) + QChar(1) + QStringLiteral("вторая"));
    }));

    importFrs(frs::readFile(path));
    auto txt = [&](int row, int col) {
        return db::scalar(d, "select txt from titles where \"table\"=2 and \"row\"=? and \"column\"=?", {row, col})
            .toString();
    };
    EXPECT_EQ(txt(1, 1), QStringLiteral("Строка\r\nвторая"));
    EXPECT_EQ(txt(5, 5), QStringLiteral(" "));
    // A plain colon comes back as the byte titles keep it in; a "#" inside the text stays.
    EXPECT_EQ(txt(5, 4), QStringLiteral("a") + QChar(3) + QStringLiteral("b # c"));
    EXPECT_DOUBLE_EQ(db::scalar(d, "select height from \"rows\" where \"table\"=2 and \"row\"=1").toDouble(), 12.5);
}

TEST_F(CatalogTest, FileWrittenElsewhereIsDecodedAndBound) {
    // A colon in a file's title text becomes the control byte; quotes are data; any flag but "Нет" means a network
    // form. Update packages once wrote the span, font and layout of a title blank: it is its own cell in the font and
    // layout of a new title.
    writeFile(file("new.frs"), {"Ф99#Новая \"форма\"#True", "(1000)#Таблица \"один\"#3#2#1#1#true#1",
                                "стр1#20,5", "гр1#100", "гр2#50", "заг1#1#1#1#2#1#Arial#10#False#False#CC00#Итого: всего",
                                "заг2#1#######False#False##б"});
    const ImportResult r = importFrs(frs::readFile(file("new.frs")));
    ASSERT_TRUE(r.newForm);
    QSqlQuery f = db::exec(mainDb(), "select formname, decipher, net from forms where id=?", {r.formId});
    ASSERT_TRUE(f.next());
    EXPECT_EQ(f.value(0).toString(), QStringLiteral("Ф99"));
    EXPECT_EQ(f.value(1).toString(), QStringLiteral("Новая \"форма\""));
    EXPECT_TRUE(f.value(2).toBool());
    const QList<TableRow> t = listTables(r.formId);
    ASSERT_EQ(t.size(), 1);
    EXPECT_EQ(t[0].name, QStringLiteral("Таблица \"один\""));
    EXPECT_TRUE(t[0].floattype);
    EXPECT_EQ(t[0].scan, 1);
    EXPECT_EQ(db::scalar(mainDb(), "select group_concat(txt || '/' || union_sc || '/' || fontsize, '|') from titles "
                                   "where \"table\"=?", {t[0].ident}).toString(),
              QStringLiteral("Итого") + QChar(3) + QStringLiteral(" всего/1/10|б/2/10"));
    EXPECT_DOUBLE_EQ(db::scalar(mainDb(), "select height from \"rows\" where \"table\"=?", {t[0].ident}).toDouble(), 20.5);
}

TEST_F(CatalogTest, FaultyFilesChangeNothing) {
    const QStringList before = structureOf(ids::FormF30);
    const qint64 forms = formCount();
    const qint64 titles = count(mainDb(), "select count(*) from titles");
    const QString good = "(1000)#Штаты#8#7#3#3#False#0";
    struct Case { QStringList lines; QString expected; };
    const QList<Case> cases = {
        {{}, QStringLiteral("Файл структуры формы пуст")},
        {{"без разделителей", good}, QStringLiteral("Ошибка на строке 1")},
        {{"Ф30#x#Нет", "(1000)#Штаты#восемь#7#3#3#False#0"}, QStringLiteral("Ошибка на строке 2")},
        {{"Ф30#x#Нет", good, "стр1#20", "гр1#abc"}, QStringLiteral("Ошибка на строке 4")},
        {{"Ф30#x#Нет", good, "заг1#1#1#1#1#1#Arial#10#False#False#CC00#a", "заг1#1#1"},
         QStringLiteral("Ошибка на строке 4")},
        {{"Ф30#x#Нет", "(1000)#Штаты#8#7#3#3#может быть#0"}, QStringLiteral("floattype")},
        {{"Ф30#x#Нет", "(1000)#Штаты#8"}, QStringLiteral("Ошибка на строке 2")},
        // A "#" inside a field that is not the last: the line cannot be read
        // back as it was meant ("Сведения " and a network form).
        {{"Ф30#Сведения #1 о штатах#Нет", good}, QStringLiteral("Ошибка на строке 1")},
        {{"Ф30#x#Нет", "(1000)#Штаты #1#8#7#3#3#False#0"}, QStringLiteral("полей 9 вместо 8")},
        {{"Ф30#x#Нет", good, "стр1#20#5"}, QStringLiteral("Ошибка на строке 3")},
        // No form line: the table line must not become a form "(1000)".
        {{good, "стр1#20"}, QStringLiteral("Ошибка на строке 1")},
        // Absurd sizes are refused before anything is stored.
        {{"Ф30#x#Нет", "(1000)#Штаты#1001#7#3#3#False#0"}, QStringLiteral("размер таблицы 1001 x 7")},
        {{"Ф30#x#Нет", "(1000)#Штаты#8#10001#3#3#False#0"}, QStringLiteral("Ошибка на строке 2")},
        {{"Ф30#x#Нет", "(1000)#Штаты#8#-1#3#3#False#0"}, QStringLiteral("Ошибка на строке 2")},
        // A name with ":" from a file written elsewhere is refused like one typed in.
        {{"Ф:30#x#Нет", good}, QStringLiteral("\"Форма\" содержит символ \":\"")},
        {{"Ф30#x#Нет", "(1000:1)#Штаты#8#7#3#3#False#0"}, QStringLiteral("\"Номер таблицы\" содержит символ \":\"")},
        {{"Ф30#x#Нет", good, "заг1#1#1#1#1#1#Ari:al#10#False#False#CC00#a"}, QStringLiteral("\"Шрифт\" содержит символ")},
    };
    for (const Case &c : cases) {
        writeFile(file("bad.frs"), c.lines);
        try {
            importFrs(frs::readFile(file("bad.frs")));
            ADD_FAILURE() << "accepted: " << c.lines.join(" / ").toStdString();
        } catch (const AppError &e) {
            EXPECT_TRUE(e.message().contains(c.expected)) << e.message().toStdString();
        }
    }
    EXPECT_EQ(structureOf(ids::FormF30), before);
    EXPECT_EQ(formCount(), forms);
    EXPECT_EQ(count(mainDb(), "select count(*) from titles"), titles);
}

TEST_F(CatalogTest, TextsTheFileCannotCarryAreRefused) {
    // "#" separates the fields: in any field but the last of its line it would cut the text and shift the fields after
    // it. A name (a key in references and file names) holds no ":". The export refuses, naming the field, and writes no
    // file.
    struct Case { QString sql, value, field; };
    const QList<Case> cases = {
        {"update forms set decipher=? where id=1", "Сведения #1 о штатах", "Содержание формы"},
        {"update forms set formname=? where id=1", "Ф#30", "Форма"},
        {"update tables set name=? where ident=2", "Посещения #2", "Содержание таблицы (2000)"},
        {"update tables set tablen=? where ident=2", "(2000#)", "Номер таблицы"},
        {"update titles set fontname=? where \"table\"=2 and \"column\"=1 and \"row\"=1", "Arial#Cyr",
         "Шрифт заголовка (графа 1, строка 1) таблицы (2000)"},
        {"update forms set decipher=? where id=1", "две\r\nстроки", "Содержание формы"},
        {"update forms set formname=? where id=1", "Ф:30", "Форма"},
        {"update tables set tablen=? where ident=2", "(2000:1)", "Номер таблицы"},
        {"update titles set fontname=? where \"table\"=2 and \"column\"=1 and \"row\"=1", "Arial:Cyr",
         "Шрифт заголовка (графа 1, строка 1) таблицы (2000)"},
    };
    const QString path = file("hash.frs");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        db::exec(mainDb(), "savepoint each");
        db::exec(mainDb(), c.sql, {c.value});
        try {
            exportForm(ids::FormF30, path);
            ADD_FAILURE() << "written";
        } catch (const AppError &e) {
            EXPECT_TRUE(e.message().contains("\"" + c.field + "\"")) << e.message().toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(path));
        db::exec(mainDb(), "rollback to each");
        db::exec(mainDb(), "release each");
    }
    // The editors refuse what the export would; a "#" in a title text, the
    // last field of its line, reads back as written.
    EXPECT_FALSE(formFieldsFault("Ф30", "Сведения #1").isEmpty());
    EXPECT_TRUE(formFieldsFault("Ф30", "Сведения №1: \"штаты\"").isEmpty());
    EXPECT_FALSE(tableFieldsFault("(1000)", "a#b").isEmpty());
    EXPECT_FALSE(tableFieldsFault("1000", "Штаты").isEmpty());
    EXPECT_FALSE(tableFieldsFault("(1000", "Штаты").isEmpty());
    EXPECT_TRUE(tableFieldsFault("(1000)", "Штаты").isEmpty());
    EXPECT_TRUE(frs::fieldFault("txt", "a # b", frs::FieldKind::Text, true).isEmpty());
    // The editors refuse a ":" in a name as the export does.
    EXPECT_TRUE(formFieldsFault("Ф:30", "Сведения").contains("\"Форма\" содержит символ \":\""));
    EXPECT_TRUE(tableFieldsFault("(1000:1)", "Штаты").contains("\"Номер\" содержит символ \":\""));
    EXPECT_TRUE(frs::fieldFault("Шрифт", "Arial:Cyr").contains("\"Шрифт\" содержит символ \":\""));
}

TEST_F(CatalogTest, ColonsInTextsSurviveTheRoundTrip) {
    // Texts keep their ":" through export and import (titles keep it as byte 3).
    const QString colonText = QStringLiteral("Сведения №1: ШТАТЫ и штаты \"всего\"\t:");
    const QSqlDatabase d = mainDb();
    db::exec(d, "update forms set decipher=? where id=1", {colonText});
    db::exec(d, "update tables set name=? where ident=2", {colonText});
    db::exec(d, "update titles set txt=? where \"table\"=2 and \"row\"=1 and \"column\"=1",
             {text::encodeColon(colonText)});
    EXPECT_TRUE(formFieldsFault("Ф30", colonText).isEmpty());
    EXPECT_TRUE(tableFieldsFault("(2000)", colonText).isEmpty());
    const QStringList before = structureOf(ids::FormF30);
    ASSERT_EQ(before.filter(colonText).size(), 2);
    const QString path = file("colon.frs");
    exportForm(ids::FormF30, path);
    deleteForm(ids::FormF30);
    // A Tab stored past the editors comes back as the blank every path stores it as.
    EXPECT_EQ(structureOf(importFrs(frs::readFile(path)).formId), QStringList(before).replaceInStrings("\t", " "));
}

TEST_F(CatalogTest, FailingStatementRollsBackTheWholeImport) {
    writeFile(file("x.frs"), {"Ф99#Описание#Нет", "(1000)#Т#2#2#1#1#False#0", "стр1#20", "гр1#100",
                              "заг1#1#1#1#1#1#Arial#10#False#False#CC00#x"});
    db::exec(mainDb(), "drop table titles");
    const qint64 forms = formCount();
    try {
        importFrs(frs::readFile(file("x.frs")));
        ADD_FAILURE() << "import went through without the titles table";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Ошибка на строке 5\r\nSQL: insert into titles")))
            << e.message().toStdString();
    }
    EXPECT_EQ(formCount(), forms);
    EXPECT_EQ(count(mainDb(), "select count(*) from tables where tablen='(1000)' and name='Т'"), 0);
}

TEST_F(CatalogTest, MisplacedLinesAreReportedAndSkipped) {
    QStringList warnings;
    const frs::Form f = frs::parse({"Ф#x#Нет", "мусор", "", "(1000)#А#1#1#0#0#False#0", "стр1#10", "лишняя строка",
                                "гр1#5", "(2000)#Б#1#1#0#0#False#", "", ""},
                               [&](const QString &w) { warnings << w; });
    ASSERT_EQ(f.tables.size(), 2);
    EXPECT_EQ(f.tables[0].rows.size(), 1);
    EXPECT_EQ(f.tables[0].columns.size(), 0);   // skipped with the stray line before it
    EXPECT_EQ(f.tables[1].scan, 0);
    ASSERT_EQ(warnings.size(), 2);   // blank lines at the end are not records
    EXPECT_EQ(warnings[0], QStringLiteral("Нарушена структура описания формы - ожидалось описание таблицы\nСтрока 2: мусор"));
    EXPECT_TRUE(warnings[1].endsWith(QStringLiteral("Строка 6: лишняя строка")));
    EXPECT_FALSE(f.net);
}

TEST_F(CatalogTest, TablesMissingFromTheFileAreListed) {
    const QString path = file("part.frs");
    exportForm(ids::FormF30, path);
    QStringList lines = readFile(path);
    const int second = lines.indexOf(QRegularExpression("^\\(2000\\).*"));
    ASSERT_GT(second, 0);
    writeFile(path, lines.mid(0, second));
    const ImportResult r = importFrs(frs::readFile(path));
    ASSERT_EQ(r.missing.size(), 1);
    EXPECT_EQ(r.missing[0].first, QStringLiteral("(2000)"));
    EXPECT_EQ(r.missing[0].second, ids::TableF30Visits);
    // The table stays until it is deleted.
    EXPECT_EQ(count(mainDb(), "select count(*) from tables where ident=2"), 1);
}

TEST_F(CatalogTest, DeletingATableTakesItsDataEverywhere) {
    db::exec(mainDb(), "insert into conditions (tid, \"row\", \"column\", formula) values (2, 0, 0, 'x')");
    DeleteTableWithData(ids::TableF30Visits);
    EXPECT_EQ(leftOf("2"), QList<qint64>(8, 0));
    // The other table of the form keeps everything.
    EXPECT_GT(count(db::connection(db::kData), "select count(*) from data where \"table\"=1"), 0);
    EXPECT_GT(count(mainDb(), "select count(*) from titles where \"table\"=1"), 0);
}

TEST_F(CatalogTest, DeletingAFormTakesEverythingOfIt) {
    const QSqlDatabase d = mainDb();
    const QSqlDatabase v = db::connection(db::kData);
    db::exec(d, "insert into conditions (tid, \"row\", \"column\", formula) values (1, 0, 0, 'x')");
    for (const qint64 n : leftOf("1,2")) ASSERT_GT(n, 0);
    const qint64 f14values = count(v, "select count(*) from data where \"table\"=3");

    deleteForm(ids::FormF30);
    EXPECT_EQ(leftOf("1,2"), QList<qint64>(8, 0));
    EXPECT_EQ(count(d, "select count(*) from forms where id=1"), 0);
    EXPECT_EQ(count(d, "select count(*) from med_type_forms where formsid=1"), 0);
    // Other forms keep their definitions and values.
    EXPECT_EQ(count(v, "select count(*) from data where \"table\"=3"), f14values);
    EXPECT_GT(count(d, "select count(*) from med_type_forms where formsid=2"), 0);
    EXPECT_GT(count(d, "select count(*) from titles where \"table\"=3"), 0);
}
