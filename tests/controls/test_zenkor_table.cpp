#include "controls/ZenkorImporter.h"
#include "controls/ZenkorTable.h"
#include "engine/LinksDb.h"
#include "engine/SharedState.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/CancellingProgress.h"
#include "support/FakeDialogs.h"
#include "support/ForeignEncodings.h"
#include "support/Fixture.h"
#include "support/ZenkorLinks.h"

#include <QElapsedTimer>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {

struct Stored {
    QString original, zenkorId, book, condition, errorType, formCode, tableNum, lft, rght, reltion, cycl, commnt;
    qint64 formId;
    QString projectTable;
    int type;
};

QList<Stored> storedRows() {
    QList<Stored> out;
    QSqlQuery q = db::exec(db::kMain, QStringLiteral("select original_line, zenkor_id, book_number, condition_number, "
                                          "error_type, form_code, table_num, lft, rght, reltion, cycl, commnt, "
                                          "project_formid, project_tble, control_type from zenkor_controls order by id"));
    while (q.next())
        out << Stored{q.value(0).toString(),    q.value(1).toString(),  q.value(2).toString(),
                      q.value(3).toString(),    q.value(4).toString(),  q.value(5).toString(),
                      q.value(6).toString(),    q.value(7).toString(),  q.value(8).toString(),
                      q.value(9).toString(),    q.value(10).toString(), q.value(11).toString(),
                      q.value(12).toLongLong(), q.value(13).toString(), q.value(14).toInt()};
    return out;
}

class ZenkorImportRun : public ZenkorLinksTest {};

} // namespace

TEST(ZenkorSplitCycle, SplitsEnumeratedListsIntoRecords) {
    TControlMatchImporter imp(QString(), nullptr, false, QString());
    auto recs = imp.SplitCycle(QStringLiteral("СТР[1] ГР[3,4]"), QStringLiteral("СТР[2]"), QStringLiteral("c"));
    ASSERT_EQ(recs.size(), 2);
    EXPECT_EQ(recs[0].lft, QStringLiteral("СТР[1] ГР[3]"));
    EXPECT_EQ(recs[1].lft, QStringLiteral("СТР[1] ГР[4]"));
    EXPECT_EQ(recs[1].rght, QStringLiteral("СТР[2]"));
    EXPECT_EQ(recs[1].cycl, QStringLiteral("c"));

    // Equal items collapse on the left, not on the right.
    EXPECT_EQ(imp.SplitCycle(QStringLiteral("ГР[5,5]"), QStringLiteral("x"), QString()).size(), 1);
    const auto right = imp.SplitCycle(QStringLiteral("x"), QStringLiteral("ГР[5,5]"), QString());
    ASSERT_EQ(right.size(), 2);
    EXPECT_EQ(right[0].rght, QStringLiteral("ГР[5]"));
    EXPECT_EQ(right[0].lft, QStringLiteral("x"));

    // A range is a list like any other: one record per number; a single number is no list.
    const auto range = imp.SplitCycle(QStringLiteral("ГР[3..5]"), QStringLiteral("ГР[4]"), QString());
    ASSERT_EQ(range.size(), 3);
    EXPECT_EQ(range[2].lft, QStringLiteral("ГР[5]"));
    EXPECT_EQ(range[2].rght, QStringLiteral("ГР[4]"));
    // Column group no list: the row list is used.
    const auto rows = imp.SplitCycle(QStringLiteral("ГР[1]СТР[7.8]"), QStringLiteral("y"), QString());
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].lft, QStringLiteral("ГР[1]СТР[8]"));
    // The item stays in the reference its list belonged to.
    const auto inner = imp.SplitCycle(QStringLiteral("СТР[1]ГР[3,4]+СТР[2]ГР[5]"), QStringLiteral("y"), QString());
    ASSERT_EQ(inner.size(), 2);
    EXPECT_EQ(inner[1].lft, QStringLiteral("СТР[1]ГР[4]+СТР[2]ГР[5]"));
    // Both sides: position by position; lists of different lengths are never multiplied out.
    const auto pairs = imp.SplitCycle(QStringLiteral("ГР[1,2]"), QStringLiteral("ГР[3..4]"), QString());
    ASSERT_EQ(pairs.size(), 2);
    EXPECT_EQ(pairs[1].lft + pairs[1].rght, QStringLiteral("ГР[2]ГР[4]"));
    EXPECT_TRUE(imp.SplitCycle(QStringLiteral("ГР[1,2]"), QStringLiteral("ГР[3,4,5]"), QString()).isEmpty());
}

TEST_F(ZenkorImportRun, StoresRulesAndReplacesThemOnTheNextRun) {
    db::exec(db::kMain, QStringLiteral("drop table zenkor_controls"));
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);

    const QString book = writeBook({
        QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4+30000,1000,3,4"), QStringLiteral(""),
        QStringLiteral("0100000202 30000,2000,1,4>=30000,1000,1,5"),
        QStringLiteral("0100000301 14000,1000,1,4 <= 30000,2000,1,4*"),
        QStringLiteral("0100000401 77000,1000,1,4>=77000,1000,2,4"),
        QStringLiteral("0100000501 77000,1000,1,4=66000,1000,2,4"),
        QStringLiteral("0100000601 77000,1000,1,4=66000,1000,2,4"), QStringLiteral("без отношения, вовсе"),
        QStringLiteral("0100000701 99000,1000,1,4>=30000,1000,1,4"),
    });
    // The table comes back on first use.
    EXPECT_EQ(imp.ImportControls(book, nullptr), 3);
    EXPECT_TRUE(db::tableExists(db::connection(db::kMain), QStringLiteral("zenkor_controls")));

    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].original, QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4+30000,1000,3,4"));
    // Class, form and table of each rule. The last line's first reference
    // names a form the program lacks: the rule checker refuses it.
    QStringList kinds;
    for (const Stored &r : rows) kinds << QStringLiteral("%1 %2 %3").arg(r.type).arg(r.formId).arg(r.projectTable);
    EXPECT_EQ(kinds, (QStringList{QStringLiteral("0 %1 (1000)").arg(sample::ids::FormF30),
                                  QStringLiteral("1 %1 ").arg(sample::ids::FormF30), "2 0 "}));
    EXPECT_EQ(rows[2].reltion, QStringLiteral("<="));
    EXPECT_TRUE(rows[2].formCode.isEmpty());

    // Lines not stored are listed by reason with their line numbers in the
    // file; codes of unknown forms once, sorted, in the summary.
    EXPECT_TRUE(dialogs.messages.isEmpty());
    const QStringList listed = imp.ListedLines();
    ASSERT_EQ(listed.size(), 7) << listed.join('\n').toStdString();
    // Tables Links.mdb does not map (Ф30 (2000) is not listed there, Ф14 (1000) has no rows or columns): stored with
    // the book's numbers, and listed for checking.
    EXPECT_TRUE(listed[0].startsWith(QStringLiteral("номера без соответствия в Links.mdb\t3\t0100000202 30000,2000")));
    EXPECT_TRUE(listed[1].startsWith(QStringLiteral("номера без соответствия в Links.mdb\t4\t0100000301 14000")));
    EXPECT_TRUE(listed[2].startsWith(QStringLiteral("формы без сопоставления\t5\t0100000401 77000")));
    EXPECT_TRUE(listed[4].startsWith(QStringLiteral("формы без сопоставления\t7\t")));
    EXPECT_EQ(listed[5], QStringLiteral("строка не прочитана\t8\tбез отношения, вовсе"));
    EXPECT_TRUE(listed[6].startsWith(QStringLiteral("правило не прошло проверку: Левая часть: Несуществующая форма Ф99000"))) << listed[6].toStdString();
    EXPECT_TRUE(listed[6].contains(QStringLiteral("\t9\t0100000701 99000")));
    EXPECT_EQ(imp.LastSummary, QStringLiteral("Строк не импортировано или требуют проверки: 7\n"
                                              "Формы без сопоставления (2): 66000, 77000"));

    // A second run replaces everything.
    const QString second = writeBook({QStringLiteral("0100000901 30000,1000,1,5>=30000,1000,2,5")});
    EXPECT_EQ(imp.ImportControls(second, nullptr), 1);
    ASSERT_EQ(storedRows().size(), 1);
    EXPECT_EQ(storedRows()[0].zenkorId, QStringLiteral("0100000901 3"));

    // A run cancelled halfway keeps the rules of the last one, without the skipped-rules message.
    dialogs.messages.clear();
    CancellingProgress cancelling(2);
    EXPECT_THROW(imp.ImportControls(writeBook({QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4"),
                                               QStringLiteral("0100000202 30000,2000,1,4>=30000,1000,1,5"),
                                               QStringLiteral("0100000401 77000,1000,1,4>=77000,1000,2,4")}),
                                    &cancelling), Cancelled);
    EXPECT_EQ(cancelling.max, 3);
    ASSERT_EQ(storedRows().size(), 1);
    EXPECT_EQ(storedRows()[0].zenkorId, QStringLiteral("0100000901 3"));
    EXPECT_TRUE(dialogs.messages.isEmpty());

    // Blank lines only, or no line converted: the earlier import stays, and the summary says why.
    for (const QStringList &nothing : {QStringList{QStringLiteral("  "), QString()},
                                       QStringList{QStringLiteral("0100000401 77000,1000,1,4>=77000,1000,2,4")}}) {
        EXPECT_EQ(imp.ImportControls(writeBook(nothing), nullptr), 0);
        ASSERT_EQ(storedRows().size(), 1);
        EXPECT_TRUE(imp.LastSummary.contains(QStringLiteral("Прежние импортированные контроли сохранены.")));
    }
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ZenkorImportRun, MissingFileOrDatabaseTouchesNothing) {
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    db::exec(db::kMain, QStringLiteral("insert into zenkor_controls (lft, rght, reltion) values ('a', 'b', '=')"));
    EXPECT_EQ(imp.ImportControls(fx.root() + QStringLiteral("нет.txt"), nullptr), 0);
    TControlMatchImporter noDb(QString(), &codes, false, linksPath);
    EXPECT_EQ(noDb.ImportControls(writeBook({QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4")}), nullptr),
              0);
    EXPECT_EQ(storedRows().size(), 1);
}

TEST_F(ZenkorImportRun, WithoutLinksOrWithALockedDatabaseNothingChanges) {
    db::exec(db::kMain, QStringLiteral("insert into zenkor_controls (lft, rght, reltion) values ('a', 'b', '=')"));
    const QString book = writeBook({QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4")});
    // Links.mdb gone since the window opened: its cached forms are not used.
    TControlMatchImporter gone(db::kMain, &codes, false, fx.root() + QStringLiteral("нет/Links.mdb"));
    try {
        gone.ImportControls(book, nullptr);
        ADD_FAILURE() << "an import without Links.mdb went on";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Не найдена база сопоставления кодов"))) << e.message().toStdString();
    }
    EXPECT_EQ(storedRows().size(), 1);

    // Links.mdb added after the window read its forms: the run reads them itself.
    NameValueList noCodes;
    TControlMatchImporter late(db::kMain, &noCodes, false, linksPath);
    EXPECT_EQ(late.ImportControls(book, nullptr), 1);
    ASSERT_EQ(storedRows().size(), 1);
    EXPECT_EQ(storedRows()[0].lft, QStringLiteral("СТР1ГР4"));
    db::exec(db::kMain, QStringLiteral("delete from zenkor_controls"));
    db::exec(db::kMain, QStringLiteral("insert into zenkor_controls (lft, rght, reltion) values ('a', 'b', '=')"));

    // Another program holds the main database: a plain message, soon.
    const QString mainFile = db::connection(db::kMain).databaseName();
    db::ScopedConnection other(mainFile, db::OpenMode::ReadWrite);
    db::exec(other.db(), QStringLiteral("begin exclusive"));
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    QElapsedTimer clock;
    clock.start();
    try {
        imp.ImportControls(book, nullptr);
        ADD_FAILURE() << "a locked database went unnoticed";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("занята другой программой"))) << e.message().toStdString();
        EXPECT_FALSE(e.message().contains(QStringLiteral("создать"))) << "the table is there";
        EXPECT_TRUE(e.message().contains(QStringLiteral("Прежние импортированные контроли сохранены")));
    }
    EXPECT_LT(clock.elapsed(), 4000);
    db::exec(other.db(), QStringLiteral("rollback"));
    EXPECT_EQ(storedRows().size(), 1);
}

TEST_F(ZenkorImportRun, EveryRuleKeepsTheMeaningOfItsBookLine) {
    struct Case {
        const char *what;
        QString expression;   // book line from position 11
        QString lft, reltion, rght, cycl;
    };
    const QList<Case> cases = {
        {"a number on a side is a term", "30000,1000,1,4>=0", "СТР1ГР4", ">=", "0", ""},
        {"a quoted constant is a term", "30000,1000,1,4<='0'", "СТР1ГР4", "<=", "0", ""},
        {"a repeated term counts twice", "30000,1000,1,4>=30000,1000,2,4+30000,1000,2,4", "СТР1ГР4", ">=",
         "СТР2ГР4+СТР2ГР4", ""},
        {"a - b + a keeps its third term", "30000,1000,1,4=30000,1000,2,4 - 30000,1000,3,4 + 30000,1000,2,4",
         "СТР1ГР4", "=", "СТР2ГР4-СТР3ГР4+СТР2ГР4", ""},
        {"brackets that change the sum stay", "30000,1000,1,4-(30000,1000,2,4+30000,1000,3,4)>=0",
         "СТР1ГР4-(СТР2ГР4+СТР3ГР4)", ">=", "0", ""},
        {"brackets around single references go", "(30000,1000,1,4)>=(30000,1000,2,4)-(30000,1000,3,4)", "СТР1ГР4",
         ">=", "СТР2ГР4-СТР3ГР4", ""},
        {"a factor before a reference", "30000,1000,1,4>=2 X 30000,1000,3,4", "СТР1ГР4", ">=", "2*СТР3ГР4", ""},
        {"a quoted factor after a reference", "30000,1000,1,4>=30000,1000,2,4*'1.5'", "СТР1ГР4", ">=", "СТР2ГР4*1.5",
         ""},
        {"a common column list is the cycle", "30000,1000,1,4:6>=30000,1000,2,4:6+30000,1000,3,4:6", "СТР1", ">=",
         "СТР2+СТР3", "ГР[4..6]"},
        {"a column sum of one row", "30000,1000,1,4>=30000,1000,1,5+30000,1000,1,6+30000,1000,1,7", "СТР1ГР4", ">=",
         "СТР1ГР[5..7]", ""},
        {"a decimal comma before an operator", "30000,1000,2,4>=0,5*30000,1000,2,4", "СТР2ГР4", ">=", "0.5*СТР2ГР4",
         ""},
        {"column arithmetic keeps the row", "30000,1000,2,4>=30000,1000,2,4-6", "СТР2ГР4", ">=", "СТР2ГР4-СТР2ГР6", ""},
        {"other table: a range mapped downwards, every row of it", "30000,2108,3:5,2>=30000,2108,3:5,1", "ГР5", ">=",
         "ГР4", "СТР[1..3]"},
    };
    QStringList book;
    for (int i = 0; i < cases.size(); ++i)
        book << QStringLiteral("01%1 0").arg(i + 1, 6, 10, QLatin1Char('0')) + cases[i].expression;
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    ASSERT_EQ(imp.ImportControls(writeBook(book), nullptr), cases.size());
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), cases.size());
    for (int i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(rows[i].lft, cases[i].lft);
        EXPECT_EQ(rows[i].reltion, cases[i].reltion);
        EXPECT_EQ(rows[i].rght, cases[i].rght);
        EXPECT_EQ(rows[i].cycl, cases[i].cycl);
    }
    EXPECT_EQ(rows.last().tableNum, QStringLiteral("2108"));
    EXPECT_EQ(rows.last().projectTable, QStringLiteral("(2000)"));
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ZenkorImportRun, RulesThatWouldLoseATermAreSkippedAndListed) {
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    const QString book = writeBook({
        QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4"), QStringLiteral("0100000201 30000,1000,1,4>=итого"),
        QStringLiteral("0100000301 30000,1000,1,4>=(30000,1000,2,4"), QStringLiteral("0100000401 30000,1000,9:7,4>=0"),
        QStringLiteral("0100000501 30000,1000,1,4>="), QStringLiteral("0100000601 77000,1000,1,4>=0"),
        QStringLiteral("0100000701 30000,1000,1,4>=2 Х 30000,1000,3,4"),   // Cyrillic Х: no product sign
    });
    EXPECT_EQ(imp.ImportControls(book, nullptr), 1);
    ASSERT_EQ(storedRows().size(), 1);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    QStringList reasons;
    for (const QString &l : imp.ListedLines()) reasons << l.section(u'\t', 0, 1);
    EXPECT_EQ(reasons, (QStringList{"строка не прочитана\t2", "строка не прочитана\t3", "строка не прочитана\t5",
                                    "строка не прочитана\t7",
                                    "правило не прошло проверку: Цикл: Строка № 7 вне рабочей области таблицы Ф30Т(1000)\t4",
                                    "формы без сопоставления\t6"})) << reasons.join(u'|').toStdString();
}

// A form stored under a name the rules cannot read (made before such names were refused) is named by no
// converted rule: its lines are listed with the reason, not with what the check makes of the cut reference.
TEST_F(ZenkorImportRun, LinesNamingAFormTheRulesCannotReadAreListedWithTheReason) {
    db::exec(db::kMain, "update forms set formname='Ф30-1' where formname='Ф30'");
    fx.reloadCaches();
    codes.setValue(QStringLiteral("30000"), QStringLiteral("Ф30-1"));
    {
        db::ScopedConnection c(linksPath, db::OpenMode::ReadWrite);
        db::exec(c.db(), "update forms set nf='Ф30-1' where mf='30000'");
    }
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    const QString book = writeBook({QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4")});
    EXPECT_EQ(imp.ImportControls(book, nullptr), 0);
    EXPECT_TRUE(storedRows().isEmpty());
    const QString reason = imp.ListedLines().value(0).section(u'\t', 0, 0);
    EXPECT_TRUE(reason.startsWith("правило не прошло проверку: Наименование формы не может содержать \"-\""))
        << reason.toStdString();
}

TEST_F(ZenkorImportRun, FailedRunKeepsThePreviousImport) {
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    ASSERT_EQ(imp.ImportControls(writeBook({QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4")}), nullptr), 1);
    // The database refuses the second line of the next book.
    db::exec(db::kMain, QStringLiteral("create trigger refuse before insert on zenkor_controls "
                                       "when new.book_number='99' begin select raise(abort, 'отказ'); end"));
    const QString book = writeBook({QStringLiteral("0200000101 30000,1000,1,5>=30000,1000,2,5"),
                                    QStringLiteral("9900000101 30000,1000,1,6>=30000,1000,2,6")});
    try {
        imp.ImportControls(book, nullptr);
        ADD_FAILURE() << "the refused insert went unnoticed";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Не удалось записать импортированные контроли")))
            << e.message().toStdString();
        EXPECT_FALSE(e.message().contains(QStringLiteral("insert"), Qt::CaseInsensitive));
    }
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].book, QStringLiteral("01"));
}

// A book holds few letters: digits, commas and now and then the "П" of a row range. Saved in another code page, its
// "П" stands between two numbers as another letter; the book is refused whole before anything changes.
TEST_F(ZenkorImportRun, ABookInAnotherCodePageIsRefusedWhole) {
    const QStringList earlier = {QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4")};
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    ASSERT_EQ(imp.ImportControls(writeBook(earlier), nullptr), 1);
    const auto before = storedRows();

    const QString text = QStringList{
        QStringLiteral("0100000101 30000,1000,1П3,4>=30000,1000,1,4"),
        QStringLiteral("0100000201 30000,1000,1,4:6>=30000,1000,2,4:6+30000,1000,3,4:6"),
        QStringLiteral("0100000301 30000,2108,3 П 5,2>=0"),
        QStringLiteral("0100000401 30000,1000,1,4>=30000,1000,2,4 - 30000,1000,3,4"),
        QStringLiteral("0100000501 30000,1000,1П2+4,4>=30000,1000,1+4,4"),
        QStringLiteral("0100000601 30000,1000,2,5>='1,5'"),
    }.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    const QString path = fx.root() + QStringLiteral("book.txt");
    struct Copy { const char *page; QByteArray bytes; };
    for (const Copy &c : {Copy{"KOI8-R", koi8r(text)}, Copy{"DOS (cp866)", cp866(text)}, Copy{"UTF-8", text.toUtf8()}}) {
        SCOPED_TRACE(c.page);
        EXPECT_EQ(zenkor::BookCodePage(c.bytes), QString::fromLatin1(c.page));
        ASSERT_TRUE(cp1251::writeFile(path, c.bytes));
        try {
            imp.ImportControls(path, nullptr);
            ADD_FAILURE() << "the book was read as 1251";
        } catch (const db::Error &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("не в кодировке Windows-1251, а в кодировке ") + c.page))
                << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QStringLiteral("Прежние импортированные контроли сохранены")));
        }
        const auto after = storedRows();
        ASSERT_EQ(after.size(), before.size());
        EXPECT_EQ(after[0].original, before[0].original);
    }
    // The same book in 1251 is stored whole.
    EXPECT_EQ(zenkor::BookCodePage(cp1251::encode(text)), QString());
    ASSERT_TRUE(cp1251::writeFile(path, cp1251::encode(text)));
    EXPECT_EQ(imp.ImportControls(path, nullptr), 6) << imp.ListedLines().join(u'\n').toStdString();
}

TEST(ZenkorBookCodePage, OnlyTheBooksOwnLettersTell) {
    auto page = [](const QString &text, QByteArray (*encode)(const QString &)) { return zenkor::BookCodePage(encode(text)); };
    auto w1251 = [](const QString &t) { return cp1251::encode(t); };
    auto utf8 = [](const QString &t) { return t.toUtf8(); };
    // Letters elsewhere, a Latin letter or a 1251 typo between numbers, a quoted "П": no code page is named.
    for (const QString &t : {QStringLiteral("0100000101 30000,1000,1,4>=0"), QStringLiteral("30000,1000,1a3,4>=0"),
                             QStringLiteral("Всего 30000,1000,1,4>=0 итого"), QStringLiteral("30000,1000,'1П3',4>=0"),
                             QStringLiteral("30000,1000,1П3,4>=0\r\n30000,1000,1р3,4>=0"), QString()}) {
        EXPECT_EQ(page(t, w1251), QString()) << t.toStdString();
        EXPECT_EQ(page(t, utf8), QString()) << t.toStdString();
    }
    // One "П" of the code page tells, a letter it does not explain as often does not.
    EXPECT_EQ(page(QStringLiteral("30000,1000,1П3,4>=0"), koi8r), QStringLiteral("KOI8-R"));
    EXPECT_EQ(page(QStringLiteral("30000,1000,1 П 3,4>=0"), utf8), QStringLiteral("UTF-8"));
    EXPECT_EQ(page(QStringLiteral("30000,1000,1П3,4>=0 30000,1000,1Ж3,4"), koi8r), QString());
    EXPECT_EQ(page(QStringLiteral("30000,1000,1П3,4>=0\r\n5П7"), cp866), QStringLiteral("DOS (cp866)"));
    // Mixed pages: no single page to name.
    EXPECT_EQ(zenkor::BookCodePage(koi8r(QStringLiteral("1П3\r\n")) + cp866(QStringLiteral("1П3"))), QString());
}

// A book most of whose lines cannot be read replaces the earlier import only when the user says Yes.
TEST_F(ZenkorImportRun, AMostlyUnreadableBookAsksBeforeReplacing) {
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    ASSERT_EQ(imp.ImportControls(writeBook({QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4"),
                                            QStringLiteral("0100000201 30000,1000,1,5>=30000,1000,2,5")}),
                                 nullptr),
              2);
    const QString book = writeBook({QStringLiteral("0100000101 30000,1000,3,4>=0"),
                                    QStringLiteral("0100000201 30000,1000,1Ж,4>=0"), QStringLiteral("итого: всего"),
                                    QStringLiteral("0100000401 30000,1000,1,4>='а'")});
    dialogs.answers = {false};
    EXPECT_EQ(imp.ImportControls(book, nullptr), 0);
    ASSERT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(dialogs.questions[0].startsWith(QStringLiteral("Из 4 строк книги"))) << dialogs.questions[0].toStdString();
    EXPECT_TRUE(dialogs.questions[0].contains(QStringLiteral("не прочитано 3")));
    EXPECT_TRUE(imp.LastSummary.contains(QStringLiteral("Прежние импортированные контроли сохранены")));
    EXPECT_EQ(storedRows().size(), 2);

    dialogs.answers = {true};
    EXPECT_EQ(imp.ImportControls(book, nullptr), 1);
    ASSERT_EQ(storedRows().size(), 1);
    EXPECT_EQ(storedRows()[0].lft, QStringLiteral("СТР3ГР4"));

    // Nothing to replace: nothing to ask; half the lines read: nothing to ask either.
    db::exec(db::kMain, QStringLiteral("delete from zenkor_controls"));
    dialogs.questions.clear();
    EXPECT_EQ(imp.ImportControls(book, nullptr), 1);
    EXPECT_EQ(imp.ImportControls(writeBook({QStringLiteral("0100000101 30000,1000,3,4>=0"), QStringLiteral("x")}), nullptr), 1);
    EXPECT_TRUE(dialogs.questions.isEmpty());
}

// Empty texts of a stored rule are empty strings, never NULL; a locked database is said to be busy, not to lack the
// table.
TEST_F(ZenkorImportRun, EmptyTextsAreEmptyStrings) {
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    ASSERT_EQ(imp.ImportControls(writeBook({QStringLiteral("0100000101 30000,1000,1,4>=30000,2108,1,5"),
                                            QStringLiteral("0100000201 30000,1000,1,4>=14000,1000,1,4"),
                                            QStringLiteral("01000003")}),
                                 nullptr),
              2);
    for (const char *column : {"original_line", "zenkor_id", "book_number", "condition_number", "error_type",
                               "form_code", "table_num", "lft", "rght", "reltion", "cycl", "commnt", "project_tble"})
        EXPECT_EQ(db::scalar(db::connection(db::kMain), QStringLiteral("select count(*) from zenkor_controls where %1 is null")
                                            .arg(QString::fromLatin1(column))).toInt(), 0) << column;
    EXPECT_EQ(db::scalar(db::connection(db::kMain), QStringLiteral("select count(*) from zenkor_controls where form_code='' and "
                                                   "table_num='' and cycl='' and project_tble=''")).toInt(), 1);
}
