// Export in the ministry layout: the code helpers, the run over the sample
// configuration through a small code-mapping database, and the window.
#include "platform/Codepage.h"
#include "engine/LinksDb.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "reports/DbfExport.h"
#include "reports/DbfExportLogic.h"
#include "support/Files.h"
#include "support/ChildProcess.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

#include <QComboBox>
#include <QListWidget>
#include <QRadioButton>
#include <QDir>
#include <gtest/gtest.h>

namespace ids = sample::ids;
using namespace dbfexport;

namespace {

TEST(DbfExportText, TableNamesAreMadeSafe) {
    EXPECT_EQ(SanitizeDbfTableName("«Свод»: <область>?.dbf"), "Свод область.dbf");
    EXPECT_EQ(SanitizeDbfTableName("«»|*.dbf"), "Table.dbf");
    EXPECT_EQ(SanitizeDbfTableName(QString(300, 'x') + ".dbf"), QString(255, 'x') + ".dbf");
}

// Links.mdb of the tests:
//   sections "03000 - Ф30" (r3 false, so prefix "03000"), "03100 - Ф14" (r3 true)
//   030001000 -> Ф30(1000): external columns 01 = ГР4, 03 = ГР5; rows 001 = СТР1, 002 = СТР2, 009 = СТР5
//   030002000 -> ф30(2000), inverted: external columns 01 = СТР1, 02 = СТР2; rows 001 = ГР4, 002 = ГР5
//   030003210 -> Ф30(3.2108) (one record of its own)
//   030009999 -> a table the program does not have
//   031001000 -> Ф14(1000) without mapped columns
class DbfExportRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fx.isValid());
        linksFile = fx.yearFolder() + "Links.mdb";
        links::createLinksDatabase(linksFile);
        db::ScopedConnection c(linksFile, db::OpenMode::ReadWrite);
        const QSqlDatabase l = c.db();
        const auto add = [&](const QString &sql, const QVariantList &v) { db::exec(l, sql, v); };
        add("insert into raz (a1, a2, r3) values (?, ?, ?)", {"3100", "Ф14", 1});
        add("insert into raz (a1, a2, r3) values (?, ?, ?)", {"3000", "Ф30", 0});
        add("insert into kodif (a1, a2) values (?, ?)", {"450001", "Область"});
        add("insert into kodif (a1, a2) values (?, ?)", {"45", "Коротко"});
        for (const QVariantList &t : {QVariantList{"030001000", "Ф30(1000)", 0}, QVariantList{"030002000", "ф30(2000)", 1},
                                      QVariantList{"030003210", "Ф30(3.2108)", 0}, QVariantList{"030009999", "Ф99(1)", 0},
                                      QVariantList{"031001000", "Ф14(1000)", 0}})
            add("insert into tables (msk, orv, inv) values (?, ?, ?)", t);
        for (const QVariantList &t : {QVariantList{"03000100001", 4}, QVariantList{"03000100003", 5},
                                      QVariantList{"03000100004", 0}, QVariantList{"03000200001", 1},
                                      QVariantList{"03000200002", 2}, QVariantList{"03000999901", 4}})
            add("insert into cols (mskcol, orvcol) values (?, ?)", t);
        for (const QVariantList &t : {QVariantList{"030001000009", 5}, QVariantList{"030001000001", 1},
                                      QVariantList{"030001000002", 2}, QVariantList{"030002000001", 4},
                                      QVariantList{"030002000002", 5}, QVariantList{"031001000001", 1}})
            add("insert into \"rows\" (mskrow, orvrow) values (?, ?)", t);

        // The one-record table and its values for the northern hospital.
        const QSqlDatabase m = db::connection(db::kMain);
        db::exec(m, "insert into tables (form, tablen, name, colcount, rowcount, fixcols, fixrows) "
                    "values (?, ?, ?, 8, 20, 3, 4)", {ids::FormF30, "(3.2108)", "Особая"});
        special = db::lastInsertId(m);
        const QSqlDatabase d = db::connection(db::kData);
        for (const QVariantList &v : {QVariantList{7.5, 5, 4}, QVariantList{3, 6, 3}, QVariantList{99, 20, 3}})
            db::exec(d, "insert into data (hospital, data, year, \"table\", \"row\", \"column\") values (?, ?, ?, ?, ?, ?)",
                     {ids::NorthHospital, v[0], fx.year(), special, v[1], v[2]});

        out.reset(new QTemporaryDir);
        linksConn = links::openLinks(linksFile);
    }

    Request request(bool reports, qint64 id) {
        Request r;
        r.links = linksConn->db();
        r.mainDb = db::connection(db::kMain);
        r.dataDb = db::connection(db::kData);
        r.summaryReports = reports;
        r.id = id;
        r.yearText = QString::number(fx.year());
        r.territoryItem = "450001 - Область";
        r.sections = ReadSections(linksConn->db());
        r.folder = out->path() + "/";
        r.tableName = "out.dbf";
        return r;
    }

    static QList<double> values(const dbf::Table &t, int record) {
        QList<double> v;
        for (int i = 1; i <= kValueSlots; ++i) v.append(t.value(record, "a8" + QString::number(i)).toDouble());
        return v;
    }
    static QList<double> expect(std::initializer_list<std::pair<int, double>> set) {
        QList<double> v(kValueSlots, 0.0);
        for (auto [slot, value] : set) v[slot - 1] = value;
        return v;
    }
    QString keys(const dbf::Table &t, int r) {
        QStringList k;
        for (const char *f : {"a1", "a2", "a4", "a5", "a6"}) k.append(t.value(r, f).toString());
        return k.join('|');
    }

    SampleFixture fx;
    QString linksFile;
    qint64 special = 0;
    std::unique_ptr<QTemporaryDir> out;
    std::unique_ptr<db::ScopedConnection> linksConn;
};

TEST_F(DbfExportRun, InstitutionValuesLandInTheirExternalSlots) {
    const Result res = dbfexport::Run(request(false, ids::NorthHospital));
    EXPECT_EQ(res.records, 6);
    EXPECT_TRUE(res.misfits.isEmpty()) << res.misfits.join('\n').toStdString();

    const dbf::Table t = dbf::read(res.file);
    ASSERT_EQ(t.records.size(), 6);
    // Rows of the plain table in external row order; the inverted table (one stored column per external row, the stored
    // rows as external columns); the one-record table.
    const QList<std::pair<QString, QList<double>>> expected = {
        {"24|0001|03000|1000|001", expect({{1, 50}, {3, 48}})},   {"24|0001|03000|1000|002", expect({{1, 20}, {3, 19}})},
        {"24|0001|03000|1000|009", expect({{1, 50}, {3, 48}})},   {"24|0001|03000|2000|001", expect({{1, 5000}, {2, 3000}})},
        {"24|0001|03000|2000|002", expect({{1, 1500}, {2, 900}})}, {"24|0001|03000|2108|001", expect({{1, 7.5}, {4, 3}})}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(keys(t, i), expected[i].first);
        EXPECT_EQ(values(t, i), expected[i].second) << i;
    }
}

TEST_F(DbfExportRun, ReportWithoutValuesWritesZeroRowsAndUntickedSectionsNothing) {
    Request r = request(true, ids::ReportNorth);
    r.territoryItem = "45 - Коротко";
    r.yearText = "7";
    QList<int> progress;
    r.progress = [&](int pos, int max) { progress << pos << max; };
    Result res = dbfexport::Run(r);
    const dbf::Table t = dbf::read(res.file);
    ASSERT_EQ(t.records.size(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(values(t, i), expect({})) << i;
    EXPECT_EQ(keys(t, 0), "00|0000|03000|1000|001");
    EXPECT_EQ(progress, (QList<int>{1, 2, 2, 2}));   // both sections, in list order ("03000" then "03100")

    r.sections[0].checked = false;
    res = dbfexport::Run(r);
    EXPECT_EQ(res.records, 0);
    EXPECT_TRUE(dbf::read(res.file).records.isEmpty());
}

TEST_F(DbfExportRun, ValueTooBigIsListedAndTheRestOfItsRowKept) {
    // СТР1 ГР4 of the staff table: external row 001, slot 1.
    db::exec(db::kData, "update data set data=? where hospital=? and \"table\"=? and \"row\"=5 and \"column\"=5",
             {1e13, ids::NorthHospital, ids::TableF30Staff});
    const Result res = dbfexport::Run(request(false, ids::NorthHospital));
    EXPECT_EQ(res.records, 6);
    EXPECT_EQ(res.misfits.join("\n").toStdString(), "24 0001 03000 1000 001 (03000 - Ф30), поле a81: 10000000000000.0");
    const dbf::Table t = dbf::read(res.file);
    EXPECT_EQ(keys(t, 0), "24|0001|03000|1000|001");
    EXPECT_TRUE(t.value(0, "a81").isNull());
    EXPECT_EQ(t.value(0, "a83").toDouble(), 48);
    const QString message = ResultMessage(res);
    EXPECT_TRUE(message.startsWith("Выгрузка выполнена не полностью!\n")) << message.toStdString();
    EXPECT_TRUE(message.contains(res.misfits[0]));
    EXPECT_FALSE(message.contains("успешно"));
}

TEST_F(DbfExportRun, EndingFailuresLeaveTheFolderAsItWas) {
    ASSERT_TRUE(cp1251::writeFile(out->filePath("out.dbf"), "old"));
    const auto expectFailure = [&](Request r, const QString &message) {
        try {
            dbfexport::Run(r);
            ADD_FAILURE() << "no failure for " << message.toStdString();
        } catch (const dbf::Error &e) {
            EXPECT_TRUE(e.message().startsWith(message)) << e.message().toStdString();
        }
        EXPECT_EQ(QDir(out->path()).entryList(QDir::Files), QStringList{"out.dbf"});
        EXPECT_EQ(fileBytes(out->filePath("out.dbf")), "old");
    };
    Request r = request(false, ids::NorthHospital);
    r.territoryItem.clear();
    expectFailure(r, "Ошибка: не выбрана территория в ComboBox3!");
    r = request(false, 0);
    expectFailure(r, "Ошибка: не выбран отчет/ЛПУ в ComboBox2!");
    r = request(false, ids::NorthHospital);
    r.folder = out->path() + "/missing/";
    expectFailure(r, "Ошибка при подключении к базе данных для работы с DBF файлом:\n");
    for (const QString &year : {"0", "две тысячи"}) {
        r = request(false, ids::NorthHospital);
        r.yearText = year;
        expectFailure(r, "Ошибка: не удалось определить год из Main.Label2.Caption!");
    }
    // A full disk in the middle of the table: the run ends with the message,
    // and neither a cut table nor its temporary file stays.
    r = request(false, ids::NorthHospital);
    const ChildEnd end = runInChild([&] {
            try {
                dbfexport::Run(r);
            } catch (const dbf::Error &e) {
                _exit(e.message().startsWith("Не удалось") ? 0 : 2);
            }
            _exit(1);
        },
        3000);
    EXPECT_FALSE(end.killed);
    EXPECT_EQ(end.code, 0);
    EXPECT_EQ(QDir(out->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.dbf"});
    EXPECT_EQ(fileBytes(out->filePath("out.dbf")), "old");
}

TEST_F(DbfExportRun, WindowListsAndExportThroughTheDialogs) {
    FakeDialogs dlg;
    TUnf w(nullptr, linksFile);
    ASSERT_EQ(w.sectionList()->count(), 2);
    w.institutionsButton()->click();
    w.choiceBox()->setCurrentIndex(w.choiceBox()->findData(ids::NorthHospital));
    w.takeChosen();

    // No territory: the message comes before any file is asked for; the button stays.
    dlg.files.push_back(out->filePath("Северная"));
    w.territoryBox()->setCurrentIndex(-1);
    w.exportChosen();
    ASSERT_EQ(dlg.messages.size(), 1);
    EXPECT_EQ(dlg.messages[0], "Ошибка: не выбрана территория в ComboBox3!");
    EXPECT_EQ(dlg.files.size(), 1u);   // the save dialog was not shown

    w.territoryBox()->setCurrentIndex(0);
    w.exportChosen();
    ASSERT_EQ(dlg.messages.size(), 2);
    EXPECT_EQ(dlg.messages[1], "Выгрузка завершена успешно!\nФайл: " + out->filePath("Северная.dbf"));
    EXPECT_EQ(dbf::read(out->filePath("Северная.dbf")).records.size(), 6);

    w.exportChosen();   // cancelled save dialog: nothing happens
    EXPECT_EQ(dlg.messages.size(), 2);

    // Two values too big: one message at the end, not one per row.
    db::exec(db::kData, "update data set data=? where hospital=? and \"table\"=? and \"column\"=5 and \"row\" in (5, 6)",
             {1e13, ids::NorthHospital, ids::TableF30Staff});
    dlg.files.push_back(out->filePath("Северная"));
    w.exportChosen();
    ASSERT_EQ(dlg.messages.size(), 3);
    EXPECT_TRUE(dlg.messages[2].startsWith("Выгрузка выполнена не полностью!")) << dlg.messages[2].toStdString();
    EXPECT_EQ(dlg.messages[2].count("поле a81"), 2);
}

TEST(DbfExportWindow, MissingLinksDatabaseIsReportedWhenOpening) {
    SampleFixture fx;
    FakeDialogs dlg;
    openDbfExport(nullptr);
    ASSERT_EQ(dlg.messages.size(), 1);
    EXPECT_TRUE(dlg.messages[0].contains(paths::programFolder() + "Links.mdb")) << dlg.messages[0].toStdString();
    EXPECT_TRUE(dlg.messages[0].contains("не найден"));
    EXPECT_TRUE(dlg.modalTitles.isEmpty());
}

} // namespace
