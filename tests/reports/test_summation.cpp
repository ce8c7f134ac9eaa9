// Summation of sub-report levels: two source levels summed into the annual level, non-summable positions taken from one
// source, the positions file, the checks of the window and runs that must change nothing.
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "reports/Summation.h"
#include "reports/SummationLogic.h"
#include "support/CancellingProgress.h"
#include "support/ChildProcess.h"
#include "support/WindowTestBase.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QElapsedTimer>
#include <QListWidget>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

constexpr int T2 = ids::TableF30Visits;   // Ф30 (2000): fixrows 2, stored columns 4..6, rows 3..6

void put(const QSqlDatabase &d, qint64 h, double v, int table, int column, int row, int year = 2024) {
    db::exec(d, "insert into data (hospital,data,year,\"table\",\"column\",\"row\") values (?,?,?,?,?,?)",
             {h, v, year, table, column, row});
}

QStringList rowsOf(qint64 h) {
    QStringList out;
    QSqlQuery q = db::exec(db::kData, "select \"table\", \"column\", \"row\", data, year from data where hospital=? "
                           "order by year, \"table\", \"column\", \"row\"",
                           {h});
    while (q.next())
        out.append(QStringLiteral("%1:%2:%3=%4/%5").arg(q.value(0).toString(), q.value(1).toString(),
                                                       q.value(2).toString(), q.value(3).toString(),
                                                       q.value(4).toString()));
    return out;
}

struct SummationTest : SampleTest {
    void SetUp() override {
        SampleTest::SetUp();
        db::exec(db::kMain, "insert into subreps (id, name) values (2, '2 квартал')");
        schema::createValuesDatabase(fx.yearFolder() + "data2.mdb");
        {
            db::ScopedConnection l1(fx.yearFolder() + "data1.mdb", db::OpenMode::ReadWrite);
            db::exec(l1.db(), "delete from data");
            put(l1.db(), 5, 3, T2, 5, 4);
            put(l1.db(), 5, 3, T2, 6, 4);
            put(l1.db(), 5, 10, T2, 6, 5);
            put(l1.db(), 9, 1, T2, 5, 4);
        }
        {
            db::ScopedConnection l2(fx.yearFolder() + "data2.mdb", db::OpenMode::ReadWrite);
            put(l2.db(), 5, 4, T2, 5, 4);
            put(l2.db(), 5, 4, T2, 6, 4);
            put(l2.db(), 5, 20, T2, 6, 5);
            put(l2.db(), 5, 8, 99, 5, 4);          // a table no longer in the catalogue
            put(l2.db(), 5, 100, T2, 5, 4, 2023);  // another year
        }
        // An annual value of another year stays where it is.
        put(db::connection(db::kData), 5, 55, T2, 5, 4, 2023);
    }

    void writePositions(const QStringList &lines) {
        ASSERT_TRUE(cp1251::writeLines(merge::nonSummableFile(), lines));
    }
    merge::Request request() const {
        merge::Request r;
        r.sources = {1, 2};
        r.receiver = 0;
        r.fixedSource = 1;
        r.year = fx.year();
        return r;
    }
};

} // namespace

TEST_F(SummationTest, TwoLevelsIntoTheAnnualLevelWithANonSummableColumn) {
    writePositions({"Ф30,(2000),5"});
    merge::ExclList excl;
    excl.load(merge::nonSummableFile());
    ASSERT_TRUE(QFile::exists(fx.programFolder() + "Несуммируемые позиции.txt"));
    {
        // A value outside the table's cells is counted, not summed.
        db::ScopedConnection l1(fx.yearFolder() + "data1.mdb", db::OpenMode::ReadWrite);
        put(l1.db(), 9, 6, T2, 50, 4);
    }
    // Run twice: with a row of another year kept, then on a level holding
    // only the rows the run replaces (they all go at once).
    for (const bool otherYear : {true, false}) {
        SCOPED_TRACE(otherYear);
        if (!otherYear) db::exec(db::kData, "delete from data where year=2023");
        const merge::Result r = merge::run(request(), excl);
        EXPECT_EQ(r.institutions, 12);
        EXPECT_EQ(r.outside, 1);
        // ГР4 (stored 5) is summed: 3 + 4; ГР5 (stored 6) comes from level 1 only.
        QStringList five{"2:5:4=7/2024", "2:6:4=3/2024", "2:6:5=10/2024"};
        if (otherYear) five.prepend("2:5:4=55/2023");
        EXPECT_EQ(rowsOf(5), five);
        EXPECT_EQ(rowsOf(9), QStringList{"2:5:4=1/2024"});
        // Institutions without values in any source end with none for the year.
        EXPECT_TRUE(rowsOf(6).isEmpty());
    }
    // The sources are only read.
    db::ScopedConnection l2(fx.yearFolder() + "data2.mdb", db::OpenMode::ReadOnly);
    EXPECT_EQ(db::scalar(l2.db(), "select count(*) from data").toInt(), 5);
}

TEST_F(SummationTest, ChosenSourceFillsNonSummablePositionsWithItsValuesOnly) {
    writePositions({"Ф30,(2000),5"});
    merge::ExclList excl;
    excl.load(merge::nonSummableFile());
    merge::Request req = request();
    req.fixedSource = 2;
    req.institutions = {5};
    merge::run(req, excl);
    EXPECT_EQ(rowsOf(5), (QStringList{"2:5:4=55/2023", "2:5:4=7/2024", "2:6:4=4/2024", "2:6:5=20/2024"}));
    // Only the chosen institution was touched.
    EXPECT_FALSE(rowsOf(6).isEmpty());
}

TEST_F(SummationTest, PositionsFileLines) {
    merge::ExclList e;
    e.load(fx.programFolder() + "нет такого файла.txt");
    EXPECT_TRUE(e.isEmpty());

    e.addLine("ф30");   // a form: every table of it, without regard to case
    EXPECT_TRUE(e.entry(ids::TableF30Staff).whole());
    EXPECT_TRUE(e.entry(ids::TableF30Visits).whole());
    EXPECT_FALSE(e.contains(ids::TableF14Patients));

    e.clear();
    e.addLine("Ф14,(1000)");
    EXPECT_FALSE(e.summable(ids::TableF14Patients, 5, 4, 2));
    e.addLine("");
    EXPECT_TRUE(e.addLine(""));
    EXPECT_FALSE(e.addLine("Ф\"99',(1000)"));   // no such form: nothing, no failure
    EXPECT_FALSE(e.addLine("Ф30,(9000),5"));    // no such table
    EXPECT_TRUE(e.summable(ids::TableF30Staff, 5, 5, 3));

    e.clear();
    e.addLine("Ф30,(2000),5");
    EXPECT_FALSE(e.summable(T2, 6, 3, 2));
    EXPECT_FALSE(e.summable(T2, 6, 6, 2));
    EXPECT_TRUE(e.summable(T2, 5, 3, 2));
    e.clear();
    e.addLine("Ф30,(2000),,3,4");   // rows 3 and 4: stored rows 6 and 7 with fixrows 2
    EXPECT_FALSE(e.summable(T2, 4, 6, 2));
    EXPECT_FALSE(e.summable(T2, 5, 7, 2));
    EXPECT_TRUE(e.summable(T2, 5, 5, 2));
    // A second line of the same table merges: its empty column field empties the (empty) column list, its empty row
    // field the row list; a column given to an empty list is dropped. The table is wholly non-summable.
    e.addLine("Ф30,(2000),5");
    EXPECT_TRUE(e.entry(T2).whole());
    EXPECT_FALSE(e.summable(T2, 5, 5, 2));
    // Numbers join a list that holds some.
    e.clear();
    e.addLine("Ф30,(2000),5,3");
    e.addLine("Ф30,(2000),6,4");
    EXPECT_FALSE(e.summable(T2, 6, 3, 2));   // column 5
    EXPECT_FALSE(e.summable(T2, 7, 3, 2));   // column 6
    EXPECT_FALSE(e.summable(T2, 4, 7, 2));   // row 4
    EXPECT_TRUE(e.summable(T2, 5, 5, 2));
    e.addLine("Ф30,(2000)");
    EXPECT_FALSE(e.summable(T2, 5, 5, 2));
}

TEST_F(SummationTest, PositionsFileNamesLinesOfNoTableAndMatchesWithoutCase) {
    db::exec(db::kMain, "update tables set tablen='(2000а)' where ident=?", {T2});
    db::exec(db::kMain, "update forms set formname='ф30' where id=?", {ids::FormF30});
    writePositions({"Ф30,(2000А),5", "Ф99,(1000)", "", "Ф30,(9000),,1", "Ф14,(1000)"});
    merge::ExclList e;
    e.load(merge::nonSummableFile());
    EXPECT_FALSE(e.summable(T2, 6, 3, 2));
    EXPECT_FALSE(e.summable(ids::TableF14Patients, 5, 4, 2));
    EXPECT_EQ(e.unmatched(), (QStringList{"строка 2: Ф99,(1000)", "строка 4: Ф30,(9000),,1"}));
    // The window names them and asks before the run; "Нет" runs nothing.
    TFMerge w;
    w.sourceList()->item(0)->setCheckState(Qt::Checked);
    w.sourceList()->item(1)->setCheckState(Qt::Checked);
    w.receiverList()->setCurrentRow(0);
    const QStringList before = valueRows(db::connection(db::kData));
    dialogs.modals.push_back([](QDialog *d) {
        static_cast<TSFRF *>(d)->choose(0);
        return int(QDialog::Accepted);
    });
    dialogs.answers = {true, false};
    w.summate();
    ASSERT_FALSE(dialogs.questions.isEmpty());
    EXPECT_TRUE(dialogs.questions.last().contains("строка 2: Ф99,(1000)\nстрока 4: Ф30,(9000),,1"))
        << dialogs.questions.join('|').toStdString();
    EXPECT_EQ(valueRows(db::connection(db::kData)), before);
    EXPECT_FALSE(dialogs.sawMessage("Суммирование завершено!"));
}

TEST_F(SummationTest, RunCancelledHalfwayOrFailingChangesNothing) {
    merge::ExclList excl;
    const QStringList before = valueRows(db::connection(db::kData));
    CancellingProgress cancelling(1);
    EXPECT_THROW(merge::run(request(), excl, cancelling), Cancelled);
    EXPECT_EQ(cancelling.max, 12);
    EXPECT_EQ(valueRows(db::connection(db::kData)), before);
    // The run leaves no level attached: the next one runs to its end.
    EXPECT_EQ(merge::run(request(), excl).institutions, 12);
    EXPECT_NE(valueRows(db::connection(db::kData)), before);
}

// The disk fills up while the summation writes or commits (its journal may
// not outgrow the level): the user is told that the levels are as they were,
// without the step that failed, and the open values connection works on at
// once, reads and a write that fits.
TEST_F(SummationTest, FailedWriteLeavesTheLevelsAndTheConnectionWorking) {
    const QStringList before = valueRows(db::connection(db::kData));
    const qint64 size = QFileInfo(db::fileOf(db::kData)).size();
    const LimitedRun run = runWithFileSizeLimit(size / 2, [&](QString &message) {
        try {
            merge::run(request(), merge::ExclList());
            message = "summed";
            return false;
        } catch (const db::Error &e) {
            message = e.message();
        }
        try {
            const QSqlDatabase d = db::connection(db::kData);
            if (valueRows(d) != before) {
                message += " | changed";
                return false;
            }
            // A write that fits (the file's first page only).
            db::transaction(d, [&] { db::exec(d, "pragma user_version=7"); });
            if (db::scalar(d, "pragma user_version").toInt() != 7) {
                message += " | not written";
                return false;
            }
        } catch (const std::exception &e) {
            message += QStringLiteral(" | after: ") + QString::fromUtf8(e.what());
            return false;
        }
        return true;
    });
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.result) << run.message.toStdString();
    EXPECT_TRUE(run.message.startsWith(QStringLiteral("Суммирование не выполнено: "))) << run.message.toStdString();
    EXPECT_TRUE(run.message.endsWith(QStringLiteral("Данные уровней не изменены."))) << run.message.toStdString();
    EXPECT_FALSE(run.message.contains(QStringLiteral("Не удалось"))) << run.message.toStdString();
    EXPECT_EQ(valueRows(db::connection(db::kData)), before);
}

// A source level another program holds locked: "Отмена" does not wait out
// the five seconds of the busy timeout, and the level is as before.
TEST_F(SummationTest, CancelDoesNotWaitForALockedSourceLevel) {
    db::ScopedConnection locker(fx.yearFolder() + "data2.mdb", db::OpenMode::ReadWrite);
    db::exec(locker.db(), "begin exclusive");
    const QStringList before = valueRows(db::connection(db::kData));
    CancellingProgress cancelling(0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(merge::run(request(), merge::ExclList(), cancelling), Cancelled);
    EXPECT_LT(clock.elapsed(), 1500);
    db::exec(locker.db(), "rollback");
    EXPECT_EQ(valueRows(db::connection(db::kData)), before);
}

TEST_F(SummationTest, SumsOfFractionsAreStoredAsEntered) {
    {
        db::ScopedConnection l1(fx.yearFolder() + "data1.mdb", db::OpenMode::ReadWrite);
        put(l1.db(), 6, 0.1, T2, 5, 3);
        put(l1.db(), 6, 10.1, T2, 5, 4);
        put(l1.db(), 6, 0.3, T2, 5, 5);
        put(l1.db(), 6, 10.1, T2, 6, 3);    // 10.1 + 20.2 - 30.3, partly in one level
        put(l1.db(), 6, -30.3, T2, 6, 3);
    }
    {
        db::ScopedConnection l2(fx.yearFolder() + "data2.mdb", db::OpenMode::ReadWrite);
        put(l2.db(), 6, 0.2, T2, 5, 3);
        put(l2.db(), 6, 0.1, T2, 5, 4);
        put(l2.db(), 6, -0.3, T2, 5, 5);   // sums to zero: not stored
        put(l2.db(), 6, 20.2, T2, 6, 3);   // sums to zero: not stored
    }
    merge::Request req = request();
    req.institutions = {6};
    merge::ExclList excl;
    merge::run(req, excl);
    EXPECT_EQ(rowsOf(6), (QStringList{"2:5:3=0.3/2024", "2:5:4=10.2/2024"}));

    // A sum that reaches 10^15 stores nothing and names its cell.
    {
        db::ScopedConnection l2(fx.yearFolder() + "data2.mdb", db::OpenMode::ReadWrite);
        put(l2.db(), 6, 6e14, T2, 6, 6);
        put(l2.db(), 6, 4e14, T2, 6, 6);
    }
    const QStringList before = valueRows(db::connection(db::kData));
    try {
        merge::run(req, excl);
        ADD_FAILURE() << "stored";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().contains("значение ячейки Ф30 т(2000) гр5 стр3 (код 6)")) << e.message().toStdString();
        EXPECT_TRUE(e.message().endsWith("Данные уровней не изменены.")) << e.message().toStdString();
    }
    EXPECT_EQ(valueRows(db::connection(db::kData)), before);
}

TEST_F(SummationTest, MissingOrWrongLevelFileChangesNothing) {
    const QStringList before = valueRows(db::connection(db::kData));
    merge::ExclList excl;
    // A level file that is gone, or one without a values table: the second is found by the reading of the sources,
    // after the receiver's rows of the run were deleted.
    for (const bool gone : {false, true}) {
        SCOPED_TRACE(gone);
        if (gone) QFile::remove(fx.yearFolder() + "data2.mdb");
        else {
            db::ScopedConnection l2(fx.yearFolder() + "data2.mdb", db::OpenMode::ReadWrite);
            db::exec(l2.db(), "drop table data");
        }
        try {
            merge::run(request(), excl);
            ADD_FAILURE() << "no error";
        } catch (const db::Error &e) {
            EXPECT_TRUE(e.message().contains("data2.mdb")) << e.message().toStdString();
            // Told as the summation's failure, without the step that failed.
            EXPECT_TRUE(e.message().startsWith("Не найден файл данных") ||
                        e.message().endsWith("Данные уровней не изменены.")) << e.message().toStdString();
            EXPECT_FALSE(e.message().contains("Не удалось")) << e.message().toStdString();
        }
        EXPECT_EQ(valueRows(db::connection(db::kData)), before);
    }
}

// The progress images count the characters of the lists as the window keeps
// them, taken from the front, and end at nothing left.
TEST_F(SummationTest, ProgressImagesCountTheirListsInCharacters) {
    using C = merge::ListCount;
    EXPECT_EQ(merge::listCounts({5, 12, 9}), (QList<C>{{6, 4}, {6, 1}, {6, 0}}));
    EXPECT_EQ(merge::listCounts({1000}), (QList<C>{C{4, 0}}));
    EXPECT_TRUE(merge::listCounts({}).isEmpty());

    merge::ExclList excl;
    QList<std::pair<C, QString>> units;
    QList<QList<C>> tables;
    merge::ImageProgress images;
    images.institution = [&](C c, const QString &name) {
        units.append({c, name});
        tables.append(QList<C>());
    };
    images.table = [&](C c) { tables.last().append(c); };
    merge::run(request(), excl, noProgress(), images);
    ASSERT_EQ(units.size(), 12);
    EXPECT_EQ(units.first().first.remaining, units.first().first.total - 2);   // "5-" taken
    EXPECT_EQ(units.last().first.remaining, 0);
    EXPECT_FALSE(units.first().second.isEmpty());
    for (int i = 1; i < units.size(); ++i) EXPECT_LT(units[i].first.remaining, units[i - 1].first.remaining);
    bool anyTable = false;
    for (const QList<C> &t : tables) {
        if (t.isEmpty()) continue;
        anyTable = true;
        EXPECT_EQ(t.last().remaining, 0);
    }
    EXPECT_TRUE(anyTable);

    // The image: the part done, from the left, rounded to the nearest pixel.
    QLabel image;
    image.resize(100, 10);
    DrawProgressImage(&image, 6, 4, "ЦРБ");
    const QImage drawn = image.pixmap().toImage();
    EXPECT_EQ(drawn.pixelColor(32, 0), QColor(128, 128, 255));
    EXPECT_EQ(drawn.pixelColor(33, 0), QColor(Qt::white));
}

TEST_F(SummationTest, WindowChecksAndRun) {
    TFMerge w;
    ASSERT_EQ(w.sourceList()->count(), 2);
    ASSERT_EQ(w.receiverList()->count(), 3);
    EXPECT_EQ(w.receiverList()->item(0)->text(), "Годовой");

    w.summate();
    EXPECT_EQ(dialogs.messages.last(), "Не выбраны источники суммирования!");
    // Checking a source takes it out of the receivers.
    w.sourceList()->item(0)->setCheckState(Qt::Checked);
    w.sourceList()->item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(w.receiverList()->count(), 1);
    w.summate();
    EXPECT_EQ(dialogs.messages.last(), "Не выбран приемник суммирования!");
    w.receiverList()->setCurrentRow(0);

    w.selectiveBox()->setChecked(true);
    EXPECT_FALSE(w.institutionTree()->isHidden());
    w.summate();
    EXPECT_EQ(dialogs.messages.last(), "Не указаны учреждения для суммирования!");

    // Marking a district selects its institutions; unmarking one removes it.
    for (QTreeWidgetItem *n : TreeNodesInOrder(w.institutionTree()))
        if (TreeNodeId(n) == ids::North) w.institutionTree()->setCurrentItem(n);
    w.toggleInstitution();
    EXPECT_EQ(w.selectionText(), "-5-6-7-8-");
    for (QTreeWidgetItem *n : TreeNodesInOrder(w.institutionTree()))
        if (TreeNodeId(n) == ids::NorthPolyclinic) w.institutionTree()->setCurrentItem(n);
    w.toggleInstitution();
    EXPECT_EQ(w.selection(), (QList<qint64>{5, 7, 8}));

    // The annual level holds values of the marked institutions: asked first, and "Нет" (the default) changes nothing.
    const QStringList before = rowsOf(5);
    dialogs.questions.clear();
    w.summate();
    EXPECT_EQ(dialogs.questions, QStringList{"Данные уровня \"Годовой\" за 2024 год будут заменены. Продолжить?"});
    EXPECT_EQ(rowsOf(5), before);

    // No source chosen for the non-summable positions: nothing happens.
    dialogs.answers.push_back(true);
    w.summate();
    EXPECT_EQ(dialogs.messages.last(), "Не задан отчет  несуммируемых значений!");
    EXPECT_EQ(rowsOf(5), before);

    dialogs.answers.push_back(true);
    dialogs.modals.push_back([](QDialog *d) {
        auto *f = static_cast<TSFRF *>(d);
        f->choose(0);
        return int(QDialog::Accepted);
    });
    w.summate();
    EXPECT_EQ(dialogs.messages.last(), "Суммирование завершено!");
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(rowsOf(5), (QStringList{"2:5:4=55/2023", "2:5:4=7/2024", "2:6:4=7/2024", "2:6:5=30/2024"}));
    EXPECT_FALSE(rowsOf(6).isEmpty());   // marked, then unmarked
    EXPECT_TRUE(rowsOf(7).isEmpty());
}
