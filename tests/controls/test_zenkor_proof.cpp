// The import proves every line it stores: the book line read on its own and
// the stored rules run by the rule engine agree on generated values.
#include "controls/ZenkorImporter.h"
#include "controls/ZenkorProof.h"
#include "engine/LinksDb.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/FakeDialogs.h"
#include "support/ForeignEncodings.h"
#include "support/Fixture.h"
#include "support/ZenkorLinks.h"

#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {

class ZenkorProofRun : public ZenkorLinksTest {};

} // namespace

// Each line alone: what is stored for it ("lft rel rght | cycl" per rule, joined by "; ") or why it is listed.
TEST_F(ZenkorProofRun, EachFaultOfTheBookNotation) {
    struct Case { const char *what; QString line, stored, reason; };   // stored, reason: empty when none
    const QString meaning = zenkor::kReasonMeaning;
    const QList<Case> cases = {
        {"a side x after the relation no longer hangs", "30000,1000,1,4=x", "", zenkor::kReasonUnreadable},
        {"x at the start of a side", "x=30000,1000,1,4", "", zenkor::kReasonUnreadable},
        // "П" is a sum of the rows, as "+" is: one check, never a cycle.
        {"П rows are a sum of book rows, each mapped", "30000,2108,3П5,2>=0", "СТР[1..3]ГР5 >= 0 | ", ""},
        {"a descending П sum", "30000,2108,5П3,2>=0", "СТР[1..3]ГР5 >= 0 | ", ""},
        {"a П sum beside a list of columns", "30000,1000,1П3,4.5>=0", "СТР[1..3] >= 0 | ГР[4..5]", ""},
        // Every list of a line is taken at the same position, in every reference that carries it.
        {"a list shared by two references of a side", "30000,1000,1.2,4+30000,1000,1.2,5>=30000,1000,3,6",
         "СТР1ГР[4..5] >= СТР3ГР6 | ; СТР2ГР[4..5] >= СТР3ГР6 | ", ""},
        {"lists of both sides by position", "30000,1000,1.2,4+30000,1000,1.2,5>=30000,1000,3.4,6",
         "СТР1ГР[4..5] >= СТР3ГР6 | ; СТР2ГР[4..5] >= СТР4ГР6 | ", ""},
        {"row arithmetic with a column list beside a reference without one", "30000,1000,1-2,4.5>=30000,1000,3,6",
         "СТР1ГР4-СТР2ГР4 >= СТР3ГР6 | ; СТР1ГР5-СТР2ГР5 >= СТР3ГР6 | ", ""},
        {"a list beside a column sign has no single meaning", "30000,1000,1,4-1,5+30000,1000,2,4>=0", "",
         zenkor::kReasonUnreadable},
        {"a bracket in a table code", "30000,1[000],1,4>=0", "", zenkor::kReasonUnreadable},
        {"a table Links.mdb does not number is stored and listed", "14000,1000,1,4>=0", "СТР1ГР4 >= 0 | ",
         zenkor::kReasonUnmapped},
        {"a П sum and a + sum", "30000,1000,1П2+4,4>=30000,1000,1+4,4", "СТР[1..2,4]ГР4 >= СТР[1,4]ГР4 | ", ""},
        {"1.2 means each row, as 1.3 does", "30000,1000,1.2,4>=30000,1000,5,4",
         "СТР1ГР4 >= СТР5ГР4 | ; СТР2ГР4 >= СТР5ГР4 | ", ""},
        {"1.3", "30000,1000,1.3,4>=30000,1000,5,4", "СТР1ГР4 >= СТР5ГР4 | ; СТР3ГР4 >= СТР5ГР4 | ", ""},
        {"a common range is the cycle, other rows keep their own", "30000,1000,1:3,4>=30000,1000,1:3,5",
         "ГР4 >= ГР5 | СТР[1..3]", ""},
        {"lists of different lengths are never multiplied out", "30000,1000,1.2,4>=30000,1000,1:3,5", "",
         zenkor::kReasonCross},
        {"a list in rows and columns of one reference", "30000,1000,1.2,4.5>=0", "", zenkor::kReasonCross},
        {"a decimal comma constant before an operator", "30000,1000,2,4>=0,5*30000,1000,2,4",
         "СТР2ГР4 >= 0.5*СТР2ГР4 | ", ""},
        {"column arithmetic keeps the row", "30000,1000,2,4>=30000,1000,2,4 - 5", "СТР2ГР4 >= СТР2ГР4-СТР2ГР5 | ", ""},
        {"column quotient", "30000,1000,2,4>=30000,1000,2,4/5", "СТР2ГР4 >= СТР2ГР4/СТР2ГР5 | ", ""},
        {"column product", "30000,1000,2,4>=30000,1000,2,4 X 5", "СТР2ГР4 >= СТР2ГР4*СТР2ГР5 | ", ""},
        {"a quoted row list is ours", "30000,1000,'3',4>=0", "СТР3ГР4 >= 0 | ", ""},
        {"a quoted range that is arithmetic", "30000,1000,'1-3',4>=0", "", zenkor::kReasonQuoted},
        {"a quoted decimal comma constant", "30000,1000,2,4>='1,5'", "СТР2ГР4 >= 1.5 | ", ""},
        {"a quoted text", "30000,1000,2,4>='abc'", "", zenkor::kReasonQuoted},
        {"a Cyrillic О in a number", "30000,2108,1О,5>=0", "", zenkor::kReasonBadNumber},
        {"a letter in a number", "30000,2108,4a,5>=0", "", zenkor::kReasonBadNumber},
        {"a number the map does not know stays and is listed", "30000,2108,2,5>=0", "СТР2ГР5 >= 0 | ",
         zenkor::kReasonUnmapped},
        {"=> leaves a > in a number", "30000,1000,2,4=>30000,1000,3,4", "", zenkor::kReasonBadNumber},
        // A list beside references with rows or columns of their own: one rule per position, the others unchanged.
        {"a row list beside row arithmetic", "30000,1000,1.2,4=30000,1000,4-5,6",
         "СТР1ГР4 = СТР4ГР6-СТР5ГР6 | ; СТР2ГР4 = СТР4ГР6-СТР5ГР6 | ", ""},
        {"a row range beside row arithmetic with a column range", "30000,1000,2:3,4 < 30000,1000,1-3,4:5",
         "СТР2ГР4 < СТР1ГР4-СТР3ГР4 | ; СТР3ГР4 < СТР1ГР5-СТР3ГР5 | ", ""},
        {"a row list beside a row sum", "30000,1000,3.4,4 < 30000,1000,1+5,6",
         "СТР3ГР4 < СТР[1,5]ГР6 | ; СТР4ГР4 < СТР[1,5]ГР6 | ", ""},
        {"a row sum beside a row list", "30000,1000,1+2,4>=30000,1000,4.5,6",
         "СТР[1,2]ГР4 >= СТР4ГР6 | ; СТР[1,2]ГР4 >= СТР5ГР6 | ", ""},
        {"a column sum beside a column list", "30000,1000,1,4+5>=30000,1000,2,6.7",
         "СТР1ГР[4,5] >= СТР2ГР6 | ; СТР1ГР[4,5] >= СТР2ГР7 | ", ""},
        // Lists pair by position in the book's order: a descending list beside an ascending one, a map that turns
        // one list round.
        {"a descending list beside an ascending one", "30000,1000,2:1,4=30000,1000,1.2,5",
         "СТР2ГР4 = СТР1ГР5 | ; СТР1ГР4 = СТР2ГР5 | ", ""},
        {"a list the map turns round", "30000,2108,3:5,2>=30000,1000,1:3,4",
         "Т(2000)СТР3ГР5 >= Т(1000)СТР1ГР4 | ; Т(2000)СТР2ГР5 >= Т(1000)СТР2ГР4 | ; Т(2000)СТР1ГР5 >= Т(1000)СТР3ГР4 | ", ""},
        {"the same numbers in another order are no cycle", "30000,1000,1.2,4=30000,1000,2.1,5",
         "СТР1ГР4 = СТР2ГР5 | ; СТР2ГР4 = СТР1ГР5 | ", ""},
        // A sign is a subtraction from 0.
        {"a sign before a bracket", "30000,1000,1,4>=-(30000,1000,2,4)", "СТР1ГР4 >= 0-СТР2ГР4 | ", ""},
        {"a sign at the start", "-30000,1000,1,4>=0", "0-СТР1ГР4 >= 0 | ", ""},
        {"a signed factor in brackets", "30000,1000,1,4*(-1)>=0", "СТР1ГР4*(0-1) >= 0 | ", ""},
        {"a sign after a product sign", "30000,1000,1,4*-2-30000,1000,2,4>=0", "СТР1ГР4*(0-2)-СТР2ГР4 >= 0 | ", ""},
        {"two signs", "- -30000,1000,1,4 - -(30000,1000,2,4+30000,1000,3,4)>=0",
         "0-(0-СТР1ГР4)-(0-(СТР2ГР4+СТР3ГР4)) >= 0 | ", ""},
        {"brackets ten deep", QString(10, u'(') + "30000,1000,1,4" + QString(10, u')') + "-30000,1000,2,4>=0",
         "СТР1ГР4-СТР2ГР4 >= 0 | ", ""},
        {"brackets deeper than a book needs", QString(70, u'(') + "30000,1000,1,4" + QString(70, u')') + ">=0", "",
         zenkor::kReasonUnreadable},
        {"a Tab around an operator is a blank", "30000,1000,1,4\t-\t30000,1000,2,4>=0", "СТР1ГР4-СТР2ГР4 >= 0 | ", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        db::exec(db::kMain, "delete from zenkor_controls");
        TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
        imp.ImportControls(writeBook({"0100000101" + c.line}), nullptr);
        QStringList rules;
        QSqlQuery q = db::exec(db::kMain, "select lft, reltion, rght, cycl from zenkor_controls order by id");
        while (q.next())
            rules << q.value(0).toString() + ' ' + q.value(1).toString() + ' ' + q.value(2).toString() + " | " +
                         q.value(3).toString();
        EXPECT_EQ(rules.join("; ").toStdString(), c.stored.toStdString());
        const QString listed = imp.ListedLines().join(u'\n');
        if (c.reason.isEmpty()) EXPECT_TRUE(listed.isEmpty()) << listed.toStdString();
        else EXPECT_TRUE(listed.startsWith(c.reason + "\t1\t")) << listed.toStdString();
    }
}

#include "controls/ZenkorNormalize.h"
#include "controls/ZenkorTable.h"
#include "support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

// Every routine that walks the text of a book line or of a rule made from one, through the same hostile texts, in a
// child process with a time limit: a loop that stops without moving on would hang the import (and "Отмена" with it), so
// the child would be killed.
TEST_F(ZenkorProofRun, EveryTextRoutineEndsOnHostileText) {
    QStringList hostile = {
        "", " ", "x", "X", "Х", "=x", "x=", "30000,1000,1,4=x", "30000,1000,1,4=X", "1,4 x", ",,,", "'", "''", "'''",
        "..", "...", "П", "1П", "П1", "1..", "..1", "1::2", "((((", "))))", "()", "*", "+-*/", "0,5*", "*0,5",
        "9999999999999999999", "1..99999999", "СТР[", "ГР[", "СТР[1", "ГР[]", "СТР[[1]]", "Т[", "Т(", "Ф", "ФФФ",
        "30000,1000,1,4\t=\t0", "30000,1000,1,4\r\n=0", "30000,1000,'1-3',4>=0", "30000,1000,1О,4>=0",
        "30000,1000,1,4 - x", "30000,1000,1,4 X", "30000,1000,1,4X30000,1000", "30000,,,", "0100000101 30000,1000,1,4=x",
        "гр5стр", "СТР12ГР3,4.5", "Ф30Т[1000]СТР[1..3]ГР[x]", "1 П", "1П 2П3П", "1 П П 2", "'1П3", "1'П'2",
        "- -", "-(-(-", "*-", "(0-)",
    };
    // Absurd depths: brackets and signs two hundred thousand deep.
    hostile << QString(200000, u'(') + "30000,1000,1,4" + QString(200000, u')') + ">=0"
            << QString(200000, u'-') + "30000,1000,1,4>=0" << "30000,1000,1,4>=" + QString(200000, u'-') + "1"
            << QString(200000, u'-') + "1" << QString(200000, u'(') + "1" + QString(200000, u')');
    const ChildEnd end = runInChild([&] {
            TControlMatchImporter imp(db::kMain, &codes, false, linksPath);
            zenkor::BookResolver resolver;
            resolver.form = [](const QString &c) { return "Ф" + c; };
            resolver.table = [](const QString &, const QString &t) { return t; };
            resolver.number = [](const QString &, const QString &, bool, qint64 n, bool &u) { return u = false, n; };
            for (const QString &t : hostile) {
                ZenkorControlLine line;
                imp.ParseControlLine(t, line);
                TZenkorFormula f;
                TControlMatchImporter::SplitReference(t, f);
                const QStringList items = TControlMatchImporter::SplitSideIntoReferences(t);
                bool lost = false;
                zenkor::BuildSide(items, QList<int>(items.size(), -1), {}, lost);
                zenkor::SideListsReadable(t);
                for (bool rows : {true, false}) {
                    imp.ConvertNumberSpec(t, rows, "30000", 1, "1000", rows ? "СТР" : "ГР", "1000");
                    imp.ConvertNumberSpec(t, rows, "30000", 0, "", rows ? "СТР" : "ГР", "1000");
                }
                imp.ConvertZenkorRowNumbers(t, "30000", 1, "1000");
                imp.ConvertZenkorColNumbers(t, "30000", 1, "1000");
                QString out;
                imp.ConvertZenkorReference({"30000", "1000", t, t, t}, QString(), QString(), 0, out);
                TControlMatchImporter::ExpandRangeList(t);
                TControlMatchImporter::CompactRowColLists(t);
                for (int type : {0, 1, 2}) TControlMatchImporter::StripFormTablePrefixes(t, type);
                TControlMatchImporter::DropRepeatedColumnRef(t);
                TControlMatchImporter::TableBracketsToParens(t);
                TControlMatchImporter::UnbracketSingleNumbers(t);
                imp.SplitCycle(t, t, t);
                QString cycle, kind;
                QStringList rewritten;
                TControlMatchImporter::ExtractCommonCycle({t, t}, cycle, kind, rewritten);
                zenkor::BracketNumbersAfterRowCol(t);
                zenkor::AttachCycle(t, t);
                zenkor::AttachCycle(t, "ГР[1..3]");
                for (const QByteArray &bytes : {cp1251::encode(t), koi8r(t), cp866(t), t.toUtf8(), t.toUtf8().left(7)})
                    zenkor::BookCodePage(bytes);
                zenkor::BookLine book;
                book.read(t, t, resolver, nullptr);
                book.read(t, "0", resolver, nullptr);
            }
            // And the whole import of a book of them.
            QStringList lines;
            for (const QString &t : hostile) lines << "0100000101" + t << t;
            const QString path = fx.root() + "hostile.txt";
            cp1251::writeLines(path, lines);
            try {
                imp.ImportControls(path, nullptr);
            } catch (const std::exception &) {
            }
        },
        -1, 30);
    EXPECT_FALSE(end.killed) << "a routine did not end";
    EXPECT_EQ(end.code, 0);
}

// The routines above are every loop over the text of a book line: a new loop in the import's files must join the table.
TEST(ZenkorTextLoops, EveryLoopIsInTheContractTable) {
    const QHash<QString, int> known = {{"ZenkorConvert.cpp", 16}, {"ZenkorDescribe.cpp", 3}, {"ZenkorImporter.cpp", 2},
                                       {"ZenkorNormalize.cpp", 0}, {"ZenkorProof.cpp", 5}, {"ZenkorTable.cpp", 6}};
    const QDir dir(KELVANA_SOURCE_DIR "/controls");
    for (const QString &name : dir.entryList({"Zenkor*.cpp"}, QDir::Files)) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const int whiles = int(QString::fromUtf8(f.readAll()).count(QRegularExpression("\\bwhile\\s*\\(")));
        EXPECT_TRUE(known.contains(name)) << name.toStdString() << ": a new file of the import; add it to the table";
        EXPECT_EQ(whiles, known.value(name)) << name.toStdString()
                                             << ": loops changed; run the new ones through the hostile texts above";
    }
}
