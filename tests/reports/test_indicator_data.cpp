// Indicator sets in the database: the set tree, the editor's statements, set files and the previous-year check.
#include "support/Fixture.h"

#include "core/SampleConfig.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "reports/IndicatorData.h"

#include <QSqlRecord>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace indicators;
using namespace sample::ids;

namespace {

QSqlDatabase mdb() { return db::connection(db::kMain); }

int count(const QString &sql, const QVariantList &params = {}) { return db::scalar(mdb(), sql, params).toInt(); }

// Rows of the four tables, as one text per table, for "nothing changed" checks.
QString snapshot() {
    QString out;
    for (const char *sql : {"select ident, part, depend from tree order by ident",
                            "select * from col_titles order by term, \"column\", title",
                            "select * from row_titles order by term, \"row\", title",
                            "select * from formulas order by term, \"row\", \"column\", formula"}) {
        QSqlQuery q = db::exec(mdb(), QString::fromLatin1(sql));
        while (q.next()) {
            for (int i = 0; i < q.record().count(); ++i) out += q.value(i).toString() + u'|';
            out += u'\n';
        }
        out += QStringLiteral("--\n");
    }
    return out;
}

QString formula(qint64 term, int row, int column) {
    return db::scalar(mdb(), QStringLiteral("select formula from formulas where term=? and \"row\"=? and \"column\"=?"),
                      {term, row, column}).toString();
}

} // namespace

TEST(IndicatorTree, AddRenameAndDeleteSubtree) {
    SampleFixture f;
    const qint64 root = AddSet(kNewSetName, 0);
    EXPECT_EQ(count(QStringLiteral("select depend from tree where ident=?"), {root}), 0);
    const qint64 child = AddSet(QStringLiteral("Дочерний"), root);
    const qint64 grandChild = AddSet(QStringLiteral("Внук"), child);
    RenameSet(root, QStringLiteral("Группа \"А\""));   // a quote in the name is kept as typed
    EXPECT_EQ(db::scalar(mdb(), QStringLiteral("select part from tree where ident=?"), {root}).toString(),
              QStringLiteral("Группа \"А\""));
    for (qint64 t : {root, child, grandChild}) {
        StoreGridCell(t, 0, 1, QStringLiteral("Строка"), 64, 20);
        StoreGridCell(t, 1, 1, QStringLiteral("1"), 64, 20);
        AddIdentifier(t);
    }
    DeleteSetTree(root);
    for (const char *table : {"tree where ident", "row_titles where term", "formulas where term"})
        EXPECT_EQ(count(QStringLiteral("select count(*) from %1>=?").arg(QLatin1String(table)), {root}), 0) << table;
    // The sample sets are untouched.
    EXPECT_EQ(count(QStringLiteral("select count(*) from formulas where term=?"), {SetStaffing}), 3);
}

TEST(IndicatorEditor, StoringCellsTitlesAndIdentifiers) {
    SampleFixture f;
    const qint64 t = AddSet(kNewSetName, 0);
    // Formulas lose their blanks; titles keep theirs as typed.
    EXPECT_EQ(PrepareEditText(QStringLiteral(" А + Б "), true), QStringLiteral("А+Б"));
    EXPECT_EQ(PrepareEditText(QStringLiteral(" Заголовок  строки "), false), QStringLiteral(" Заголовок  строки "));

    // The corner makes both title records; a second store updates them.
    StoreGridCell(t, 0, 0, QStringLiteral("Угол: 1"), 120, 25);
    StoreGridCell(t, 0, 0, QStringLiteral("Угол: 2"), 120, 25);
    EXPECT_EQ(count(QStringLiteral("select count(*) from col_titles where term=?"), {t}), 1);
    EXPECT_EQ(db::scalar(mdb(), QStringLiteral("select title from row_titles where term=? and \"row\"=0"), {t}),
              text::encodeColon(QStringLiteral("Угол: 2")));
    EXPECT_EQ(count(QStringLiteral("select width from col_titles where term=?"), {t}), 120);

    StoreGridCell(t, 2, 3, QStringLiteral("Ф30Т[1000]СТР1ГР5;ед:"), 64, 20);
    StoreGridCell(t, 2, 3, QStringLiteral("5;ед:"), 64, 20);
    EXPECT_EQ(formula(t, 3, 2), QStringLiteral("5;ед\x03"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from formulas where term=?"), {t}), 1);

    // Identifiers are numbered from 0 and stored as typed.
    EXPECT_EQ(AddIdentifier(t), 0);
    EXPECT_EQ(AddIdentifier(t), 1);
    StoreIdentifier(t, 1, QStringLiteral("Б=А:2"));
    EXPECT_EQ(formula(t, 1, -1), QStringLiteral("Б=А:2"));
    DeleteIdentifier(t, 0);
    EXPECT_EQ(AddIdentifier(t), 2);

    const SetTable loaded = LoadSet(t);
    EXPECT_EQ(loaded.columnCount, 3);
    EXPECT_EQ(loaded.rowCount, 4);
    EXPECT_EQ(loaded.cell(0, 0), QStringLiteral("Угол: 2"));
    EXPECT_EQ(loaded.cell(2, 3), QStringLiteral("5;ед:"));
    EXPECT_EQ(loaded.identifiers, (QStringList{QStringLiteral("Б=А:2"), kNewIdentifier}));
}

TEST(IndicatorEditor, RowsAndColumnsMoveWithoutIdentifiers) {
    SampleFixture f;
    const qint64 t = AddSet(kNewSetName, 0);
    for (int i = 0; i < 4; ++i) AddIdentifier(t);
    for (int r = 1; r <= 3; ++r) {
        AppendRow(t, r, 20);
        for (int c = 1; c <= 2; ++c) StoreGridCell(t, c, r, QStringLiteral("%1%2").arg(c).arg(r), 64, 20);
    }
    AppendColumn(t, 1, 64);
    AppendColumn(t, 2, 64);

    DeleteRow(t, 2);
    EXPECT_EQ(formula(t, 2, 1), QStringLiteral("13"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from row_titles where term=?"), {t}), 2);
    EXPECT_EQ(count(QStringLiteral("select count(*) from formulas where term=? and \"column\"=-1"), {t}), 4);
    EXPECT_EQ(count(QStringLiteral("select max(\"row\") from formulas where term=? and \"column\"=-1"), {t}), 3);

    InsertColumnBefore(t, 1);
    EXPECT_EQ(formula(t, 1, 2), QStringLiteral("11"));
    EXPECT_EQ(formula(t, 1, 3), QStringLiteral("21"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from col_titles where term=? and \"column\"=3"), {t}), 1);
    EXPECT_EQ(count(QStringLiteral("select count(*) from formulas where term=? and \"column\"=-1"), {t}), 4);

    InsertRowBefore(t, 1);
    EXPECT_EQ(formula(t, 2, 2), QStringLiteral("11"));
    EXPECT_EQ(count(QStringLiteral("select min(\"row\") from formulas where term=? and \"column\"=-1"), {t}), 0);

    DeleteColumn(t, 2);
    EXPECT_EQ(formula(t, 2, 2), QStringLiteral("21"));

    try {
        DeleteRow(t, 0);
        FAIL();
    } catch (const IndicatorError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Нельзя удалить заголовки столбцов!"));
    }
    EXPECT_THROW(DeleteColumn(t, 0), IndicatorError);
}

TEST(IndicatorEditor, ReplaceInFormulas) {
    EXPECT_EQ(ReplaceAll(QStringLiteral("aaaa"), QStringLiteral("aa"), QStringLiteral("a")), QStringLiteral("a"));
    // A replacement holding the search text still ends.
    EXPECT_EQ(ReplaceAll(QStringLiteral("ГР5+ГР5"), QStringLiteral("ГР5"), QStringLiteral("ГР5ГР5")),
              QStringLiteral("ГР5ГР5+ГР5ГР5"));
    // One that rebuilds an occurrence across its joins every round ends too.
    const QString grown = ReplaceAll(QStringLiteral("aab"), QStringLiteral("ab"), QStringLiteral("bbaa"));
    EXPECT_LT(grown.size(), 64);
    EXPECT_EQ(ReplaceAll(QStringLiteral("xaaby"), QStringLiteral("ab"), QStringLiteral("c")), QStringLiteral("xacy"));

    SampleFixture f;
    const qint64 t = AddSet(kNewSetName, 0);
    const qint64 other = AddSet(kNewSetName, 0);
    StoreGridCell(t, 1, 1, QStringLiteral("ГР5+ГР5"), 64, 20);
    StoreGridCell(t, 2, 1, QStringLiteral("ГР4"), 64, 20);
    StoreGridCell(t, 1, 2, QStringLiteral("ГР5\"x\""), 64, 20);
    StoreGridCell(other, 1, 1, QStringLiteral("ГР5"), 64, 20);
    AddIdentifier(t, QStringLiteral("А=ГР5"));

    auto refused = [&](int scope, int c, int r, int lastC, int lastR, const QString &search) {
        try {
            ReplaceInFormulas(t, search, QStringLiteral("x"), scope, c, r, lastC, lastR);
        } catch (const IndicatorError &e) {
            return e.message();
        }
        return QString();
    };
    EXPECT_EQ(refused(0, 1, 1, 2, 2, QString()), QStringLiteral("Введите строку для поиска!"));
    EXPECT_EQ(refused(1, 0, 1, 2, 2, QStringLiteral("ГР")), QStringLiteral("Выберите графу для замены!"));
    EXPECT_EQ(refused(2, 1, 3, 2, 2, QStringLiteral("ГР")), QStringLiteral("Выберите строку для замены!"));
    EXPECT_EQ(refused(0, 1, 1, 2, 0, QStringLiteral("ГР")), QStringLiteral("Некорректный диапазон для замены!"));

    // Row 1 only: two formulas change, the count is of formulas, not occurrences.
    EXPECT_EQ(ReplaceInFormulas(t, QStringLiteral("ГР"), QStringLiteral("гр"), 2, 1, 1, 2, 2), 2);
    EXPECT_EQ(formula(t, 1, 1), QStringLiteral("гр5+гр5"));
    EXPECT_EQ(formula(t, 2, 1), QStringLiteral("ГР5\"x\""));
    // Every set (the sample's staffing set included), identifiers excluded.
    const int holding = count(QStringLiteral("select count(*) from formulas where \"column\">-1 and instr(formula, ?)>0"),
                              {QStringLiteral("ГР5")});
    ASSERT_GE(holding, 3);
    EXPECT_EQ(ReplaceInFormulas(t, QStringLiteral("ГР5"), QStringLiteral("ГР6"), 3, 0, 0, 0, 0), holding);
    EXPECT_EQ(count(QStringLiteral("select count(*) from formulas where \"column\">-1 and instr(formula, ?)>0"),
                    {QStringLiteral("ГР5")}), 0);
    EXPECT_TRUE(formula(SetStaffing, 2, 1).startsWith(QStringLiteral("Ф30Т[1000]СТР1ГР6")));
    EXPECT_EQ(formula(other, 1, 1), QStringLiteral("ГР6"));
    EXPECT_EQ(formula(t, 2, 1), QStringLiteral("ГР6\"x\""));
    EXPECT_EQ(formula(t, 0, -1), QStringLiteral("А=ГР5"));
}

TEST(IndicatorFile, WritesTreeLevelsAndReadsBack) {
    SampleFixture f;
    // Group with two children, the first with one child of its own.
    const qint64 g = AddSet(QStringLiteral("Группа"), 0);
    const qint64 a = AddSet(QStringLiteral("А"), g);
    const qint64 a1 = AddSet(QStringLiteral("А1"), a);
    const qint64 b = AddSet(QStringLiteral("Б\tвторой"), g);   // a Tab typed into a name or title is a blank
    StoreGridCell(g, 0, 0, QStringLiteral("Угол\tтаблицы"), 90, 20);
    StoreGridCell(b, 0, 1, QStringLiteral("Первая\r\nвторая: строка"), 64, 20);
    StoreGridCell(b, 1, 1, QStringLiteral("Ф30Т[1000]СТР1ГР5;ед:"), 64, 20);
    AddIdentifier(b, QStringLiteral("ВРАЧИ=Ф30Т[1000]СТР1ГР5"));
    AddIdentifier(a1, QStringLiteral("Х=1"));

    const QStringList lines = SetFileLines(g);
    const int columnsAt = int(lines.indexOf(QStringLiteral("[Columns]")));
    EXPECT_EQ(lines.mid(0, columnsAt),
              (QStringList{QStringLiteral("[Tree]"), QStringLiteral("1,А"), QStringLiteral("2,А1"), QStringLiteral("1,Б второй")}));
    EXPECT_TRUE(lines.contains(QStringLiteral("0,0\tУгол таблицы\t90")));
    EXPECT_TRUE(lines.contains(QStringLiteral("3,1\tПервая\x02\x01вторая\x03 строка\t20")));
    EXPECT_TRUE(lines.contains(QStringLiteral("3,1\t1\tФ30Т[1000]СТР1ГР5;ед\x03")));
    EXPECT_TRUE(lines.contains(QStringLiteral("3,-1\t0\tВРАЧИ=Ф30Т[1000]СТР1ГР5")));
    EXPECT_TRUE(lines.contains(QStringLiteral("2,-1\t0\tХ=1")));

    const QString path = f.root() + QStringLiteral("set.stt");
    SaveSetFile(path, g);
    QStringList read;
    ASSERT_TRUE(cp1251::readLines(path, read));
    EXPECT_EQ(read, lines);

    // Read under another set: the subtree is added, the top set's own rows go to the target.
    const qint64 target = AddSet(QStringLiteral("Цель"), 0);
    const QList<LoadedSet> made = LoadSetFile(path, target);
    ASSERT_EQ(made.size(), 3);
    EXPECT_EQ(made[0].name, QStringLiteral("А"));
    EXPECT_EQ(made[0].parent, target);
    EXPECT_EQ(made[1].parent, made[0].ident);
    EXPECT_EQ(made[2].parent, target);
    const SetTable copy = LoadSet(made[2].ident);
    EXPECT_EQ(copy.cell(0, 1), QStringLiteral("Первая\r\nвторая: строка"));
    EXPECT_EQ(copy.cell(1, 1), QStringLiteral("Ф30Т[1000]СТР1ГР5;ед:"));
    EXPECT_EQ(copy.identifiers, QStringList{QStringLiteral("ВРАЧИ=Ф30Т[1000]СТР1ГР5")});
    EXPECT_EQ(LoadSet(made[1].ident).identifiers, QStringList{QStringLiteral("Х=1")});
    EXPECT_EQ(LoadSet(target).cell(0, 0), QStringLiteral("Угол таблицы"));
    EXPECT_EQ(made[2].name, QStringLiteral("Б второй"));
}

TEST(IndicatorFile, MalformedFilesChangeNothing) {
    SampleFixture f;
    const QString before = snapshot();
    const QList<QStringList> bad = {
        {},
        {QStringLiteral("[Columns]")},
        {QStringLiteral("[Tree]"), QStringLiteral("x,Имя")},
        {QStringLiteral("[Tree]"), QStringLiteral("2,Слишком глубоко")},
        {QStringLiteral("[Tree]"), QStringLiteral("1,А"), QStringLiteral("[Columns]"), QStringLiteral("2,1\tГрафа\t64")},
        {QStringLiteral("[Tree]"), QStringLiteral("1,А"), QStringLiteral("[Columns]"), QStringLiteral("[Rows]"),
         QStringLiteral("1,1\tСтрока")},
        {QStringLiteral("[Tree]"), QStringLiteral("1,А"), QStringLiteral("[Columns]"), QStringLiteral("[Rows]"),
         QStringLiteral("[Formulas]"), QStringLiteral("1,1\tx\t5")},
        // Grids larger than any table: opening the set would allocate without end.
        {QStringLiteral("[Tree]"), QStringLiteral("[Columns]"), QStringLiteral("[Rows]"),
         QStringLiteral("0,2000000000\tСтрока\t20")},
        {QStringLiteral("[Tree]"), QStringLiteral("[Columns]"), QStringLiteral("0,1001\tГрафа\t64")},
        {QStringLiteral("[Tree]"), QStringLiteral("[Columns]"), QStringLiteral("[Rows]"), QStringLiteral("[Formulas]"),
         QStringLiteral("0,3\t50000000\tА1")},
        {QStringLiteral("[Tree]"), QStringLiteral("[Columns]"), QStringLiteral("[Rows]"), QStringLiteral("[Formulas]"),
         QStringLiteral("0,-2\t1\tА1")},
    };
    for (const QStringList &lines : bad) {
        EXPECT_THROW(LoadSetFileLines(lines, SetHealth), IndicatorError) << lines.join(u'|').toStdString();
        EXPECT_EQ(snapshot(), before);
    }
    EXPECT_THROW(LoadSetFile(f.root() + QStringLiteral("missing.stt"), SetHealth), IndicatorError);
    EXPECT_EQ(snapshot(), before);
    // A set stored that large before is refused when opened, not allocated.
    db::exec(db::kMain, "insert into row_titles values (?,?,?,?)", {SetHealth, 50000000, "x", 20});
    EXPECT_THROW(LoadSet(SetHealth), IndicatorError);
}

TEST(IndicatorCheck, ReferencesCountOnceAndOrphanSetsEndTheirPath) {
    // One reference in two spellings, an identifier's reference, a number.
    EXPECT_EQ(ReferenceSet({QStringLiteral("Ф30Т[1000]СТР1ГР5/ф30т(1000)стр1гр5*100"),
                            QStringLiteral("ВРАЧИ=Ф14Т[1000]СТР1ГР4"), QStringLiteral("5")}).size(), 2);
    const QList<TreeRow> rows = {{1, QStringLiteral("Корень|1"), 0}, {2, QStringLiteral("Группа"), 1},
                                 {3, QStringLiteral("Набор"), 2}, {4, QStringLiteral("Сирота"), 99}};
    EXPECT_EQ(BuildTreePath(3, rows), QStringLiteral("Корень|1 -> Группа -> Набор"));
    EXPECT_EQ(BuildTreePath(4, rows), QStringLiteral("Сирота"));
}

TEST(IndicatorCheck, PreviousYear) {
    {
        SampleFixture f(true);
        f.reloadCaches();
        const QStringList refs = ReferenceSet(SetFormulas(SetStaffing));
        EXPECT_EQ(refs.size(), 2);
        EXPECT_TRUE(FindDiscrepancies(refs, PreviousYearComparison(), false).isEmpty());
        // Row 1 of Ф30 (1000) gets another title this year.
        db::exec(mdb(), QStringLiteral("update titles set txt=? where \"table\"=? and \"column\"=1 and \"row\"=4"),
                 {QStringLiteral("Другая строка"), TableF30Staff});
        EXPECT_EQ(FindDiscrepancies(refs, PreviousYearComparison(), false).size(), 2);
    }
    {
        // Without a previous year every reference counts.
        SampleFixture f(false);
        f.reloadCaches();
        const QStringList refs = ReferenceSet(SetFormulas(SetStaffing));
        EXPECT_EQ(FindDiscrepancies(refs, PreviousYearComparison(), true).size(), 1);
    }
}
