#include "controls/ZenkorImporter.h"
#include "controls/ZenkorTable.h"
#include "core/LinksDb.h"
#include "core/SharedState.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

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
    QSqlQuery q = db::exec(db::kMain, QStringLiteral(
                                          "select original_line, zenkor_id, book_number, condition_number, "
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

class ZenkorImportRun : public ::testing::Test {
protected:
    SampleFixture fx;
    FakeDialogs dialogs;
    NameValueList codes;
    QString linksPath;

    void SetUp() override {
        fx.reloadCaches();
        linksPath = fx.yearFolder() + QStringLiteral("Links.mdb");
        links::createLinksDatabase(linksPath);
        db::ScopedConnection c(linksPath, db::OpenMode::ReadWrite);
        db::exec(c.db(), QStringLiteral("insert into forms (nf, mf) values ('Ф30', '30000'), ('Ф14', '14000')"));
        db::exec(c.db(), QStringLiteral("insert into tables (msk, orv) values ('300001000', 'Ф30(1000)'), "
                                        "('300002000', 'Ф30(2000)'), ('140001000', 'Ф14(1000)')"));
        codes.setValue(QStringLiteral("30000"), QStringLiteral("Ф30"));
        codes.setValue(QStringLiteral("14000"), QStringLiteral("Ф14"));
    }

    QString writeBook(const QStringList &lines) {
        const QString path = fx.root() + QStringLiteral("book.txt");
        EXPECT_TRUE(cp1251::writeLines(path, lines));
        return path;
    }
};

} // namespace

TEST(ZenkorSides, UnwrapsParenthesesAsTheSideAllows) {
    using zenkor::UnwrapSide;
    EXPECT_EQ(UnwrapSide(QStringLiteral("(a)+(b)"), true), QStringLiteral("a+b"));
    EXPECT_EQ(UnwrapSide(QStringLiteral("-(a)"), true), QStringLiteral("-a"));
    EXPECT_EQ(UnwrapSide(QStringLiteral("-(a)"), false), QStringLiteral("-(a)"));
    EXPECT_EQ(UnwrapSide(QStringLiteral(" (a-b) "), false), QStringLiteral("a-b"));
    EXPECT_EQ(UnwrapSide(QStringLiteral("(a)-(b)"), false), QStringLiteral("a-b"));
    // The first "(" closes before the end: kept as it is.
    EXPECT_EQ(UnwrapSide(QStringLiteral("(a)*2+(b)"), false), QStringLiteral("(a)*2+(b)"));
    EXPECT_EQ(UnwrapSide(QStringLiteral("((a)*b)"), false), QStringLiteral("(a)*b"));
}

TEST(ZenkorSides, JoinsTermsWithTheOperatorBehindTheirSource) {
    using zenkor::JoinSideTerms;
    EXPECT_EQ(JoinSideTerms({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")},
                            {QStringLiteral("x,1"), QStringLiteral("y,2"), QStringLiteral("z,3")},
                            QStringLiteral("x,1 - y,2 * z,3")),
              QStringLiteral("A-B*C"));
    // The book's product sign "X" becomes the program's "*".
    EXPECT_EQ(JoinSideTerms({QStringLiteral("A"), QStringLiteral("B")}, {QStringLiteral("x,1"), QStringLiteral("y,2")},
                            QStringLiteral("x,1 X y,2")),
              QStringLiteral("A*B"));
    // No operator behind the source item: "+".
    EXPECT_EQ(JoinSideTerms({QStringLiteral("A"), QStringLiteral("B")}, {QStringLiteral("q"), QStringLiteral("y")},
                            QStringLiteral("x;y")),
              QStringLiteral("A+B"));
}

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

    // Ranges and single numbers are no lists to split.
    EXPECT_TRUE(imp.SplitCycle(QStringLiteral("ГР[3..5]"), QStringLiteral("ГР[4]"), QString()).isEmpty());
    // Column list not splittable: the row list is used.
    const auto rows = imp.SplitCycle(QStringLiteral("ГР[1..2]СТР[7.8]"), QStringLiteral("y"), QString());
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].lft, QStringLiteral("ГР[1..2] СТР[8]"));
    // Both sides: every pair.
    EXPECT_EQ(imp.SplitCycle(QStringLiteral("ГР[1,2]"), QStringLiteral("ГР[3,4,5]"), QString()).size(), 6);
}

TEST_F(ZenkorImportRun, StoresRulesAndReplacesThemOnTheNextRun) {
    db::exec(db::kMain, QStringLiteral("drop table zenkor_controls"));
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);

    const QString book = writeBook({
        QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4+30000,1000,3,4"),
        QStringLiteral(""),
        QStringLiteral("0100000202 30000,2000,1,4>=30000,1000,1,5"),
        QStringLiteral("0100000301 14000,1000,1,4 <= 30000,2000,1,4*"),
        QStringLiteral("0100000401 77000,1000,1,4>=77000,1000,2,4"),
        QStringLiteral("0100000501 77000,1000,1,4=66000,1000,2,4"),
        QStringLiteral("0100000601 77000,1000,1,4=66000,1000,2,4"),
        QStringLiteral("без отношения, вовсе"),
        QStringLiteral("0100000701 99000,1000,1,4>=30000,1000,1,4"),
    });
    // The table comes back on first use.
    EXPECT_EQ(imp.ImportControls(book, nullptr), 4);
    EXPECT_TRUE(db::tableExists(db::connection(db::kMain), QStringLiteral("zenkor_controls")));

    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 4);
    const Stored &intra = rows[0];
    EXPECT_EQ(intra.original, QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4+30000,1000,3,4"));
    EXPECT_EQ(intra.zenkorId, QStringLiteral("0100000101 3"));
    EXPECT_EQ(intra.book, QStringLiteral("01"));
    EXPECT_EQ(intra.condition, QStringLiteral("000001"));
    EXPECT_EQ(intra.errorType, QStringLiteral("01"));
    EXPECT_EQ(intra.formCode, QStringLiteral("30000"));
    EXPECT_EQ(intra.tableNum, QStringLiteral("1000"));
    EXPECT_EQ(intra.formId, sample::ids::FormF30);
    EXPECT_EQ(intra.projectTable, QStringLiteral("(1000)"));
    EXPECT_EQ(intra.type, 0);
    EXPECT_EQ(intra.reltion, QStringLiteral(">="));
    EXPECT_FALSE(intra.lft.isEmpty());
    EXPECT_TRUE(intra.rght.contains(u'+')) << intra.rght.toStdString();
    EXPECT_TRUE(intra.commnt.isEmpty());

    EXPECT_EQ(rows[1].type, 1);
    EXPECT_EQ(rows[1].formId, sample::ids::FormF30);
    EXPECT_TRUE(rows[1].projectTable.isEmpty());
    EXPECT_TRUE(rows[1].tableNum.isEmpty());

    EXPECT_EQ(rows[2].type, 2);
    EXPECT_EQ(rows[2].formId, 0);
    EXPECT_EQ(rows[2].reltion, QStringLiteral("<="));

    // First reference of an unknown form, second one known: kept as inter-form.
    EXPECT_EQ(rows[3].type, 2);
    EXPECT_EQ(rows[3].formId, 0);
    EXPECT_TRUE(rows[3].formCode.isEmpty());

    // Rules of unknown forms are counted; their codes listed once, sorted.
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0],
              QStringLiteral("Пропущено контролей: 3\r\nФормы без сопоставления (2): 66000, 77000"));

    // A second run replaces everything.
    const QString second = writeBook({QStringLiteral("0100000901 30000,1000,1,5>=30000,1000,2,5")});
    EXPECT_EQ(imp.ImportControls(second, nullptr), 1);
    ASSERT_EQ(storedRows().size(), 1);
    EXPECT_EQ(storedRows()[0].zenkorId, QStringLiteral("0100000901 3"));

    // Blank lines only: the table is emptied, nothing shown.
    dialogs.messages.clear();
    EXPECT_EQ(imp.ImportControls(writeBook({QStringLiteral("  "), QString()}), nullptr), 0);
    EXPECT_TRUE(storedRows().isEmpty());
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

TEST_F(ZenkorImportRun, KeepsTheOperatorsBetweenParenthesisedReferences) {
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    const QString book = writeBook({
        QStringLiteral("0100000101 (30000,1000,1,4)>=(30000,1000,2,4)-(30000,1000,3,4)"),
        QStringLiteral("0100000102 30000,1000,1,4>=30000,1000,2,4/30000,1000,3,4"),
    });
    EXPECT_EQ(imp.ImportControls(book, nullptr), 2);
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 2);
    // "(b)-(c)" is still a difference, not a sum.
    EXPECT_TRUE(rows[0].rght.contains(u'-')) << rows[0].rght.toStdString();
    EXPECT_FALSE(rows[0].rght.contains(u'+')) << rows[0].rght.toStdString();
    EXPECT_TRUE(rows[1].rght.contains(u'/')) << rows[1].rght.toStdString();
}

TEST_F(ZenkorImportRun, FailedRunKeepsThePreviousImport) {
    TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
    ASSERT_EQ(imp.ImportControls(writeBook({QStringLiteral("0100000101 30000,1000,1,4>=30000,1000,2,4")}), nullptr), 1);
    // The database refuses the second line of the next book.
    db::exec(db::kMain, QStringLiteral("create trigger refuse before insert on zenkor_controls "
                                       "when new.book_number='99' begin select raise(abort, 'отказ'); end"));
    const QString book = writeBook({QStringLiteral("0200000101 30000,1000,1,5>=30000,1000,2,5"),
                                    QStringLiteral("9900000101 30000,1000,1,6>=30000,1000,2,6")});
    EXPECT_THROW(imp.ImportControls(book, nullptr), db::Error);
    const auto rows = storedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].book, QStringLiteral("01"));
}
